#pragma once

#include "desktop/Platform.h"
#include "directory/Record.h"
#include "directory/RecordFilter.h"
#include "grid/DirectoryModel.h"
#include "search/SearchFilter.h"
#include "work/BackgroundWork.h"

#include <QFuture>
#include <QMainWindow>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class CommandQueue;
class DirectoryGrid;
class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QShortcut;
class QTimer;
class QToolButton;
class Table;
class WorkIndicator;
namespace links {
struct TableCheck;
}
namespace merge {
class Plan;
}

// The main window: the directory grid, the search criteria, the favourites and
// history lists, and every command. Each control is bound to the command it gives;
// the commands run one after another in the order given (see CommandQueue), so one
// given while the table works beside the window waits for it instead of being lost, and
// so does one given while an import, export, merge or address check runs beside it.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Builds the window and opens the directory table in the data folder. A table
    // that cannot be opened throws (start-up then makes its one retry); any later
    // start-up failure is reported and the window still opens.
    explicit MainWindow(const Platform& platform, QWidget* parent = nullptr);
    ~MainWindow() override;

    const Platform& platform() const { return m_platform; }
    // "MS Sans Serif" 8 point, or the nearest face this system has.
    static QFont windowFont();

    Table& table() const { return *m_table; }
    CommandQueue& commands() const { return *m_commands; }
    // The work of the commands on the whole directory (import, export, merge, address
    // check): one at a time, beside the window, cancellable.
    BackgroundWork& toolWork() const { return *m_toolWork; }
    // The folder of the table and the lists (see DataLocation), ending in a separator.
    const QString& dataFolder() const { return m_dataFolder; }
    // The highest record number handed out.
    qint32 lastNumber() const { return m_lastNumber; }

    // The 14 pictures of the menus.
    const std::array<QIcon, 14>& pictures() const { return m_pictures; }

    // Runs a command in turn with the others, under the general error report.
    void give(const QString& name, std::function<void()> command);

    // What the record dialog's Add and Modify button does, given in turn: adds a record
    // with these texts, or writes over the current one what differs from `shown`.
    void saveRecord(bool adding, const RecordTexts& shown, const RecordTexts& texts);

public slots:
    // Each gives one command, as its button, menu item or key does.
    void search();
    void showAll();
    void sortBy(Field::Position field);
    void sortByColumnTitle(Field::Position field);
    void readNow();
    void addToFavourites();
    void goToFavourite();
    void deleteFavourite();
    void goToVisited();
    void clearHistory();
    void addRecord();
    void modifyRecord();
    void deleteRecord();
    void copyWebAddress();
    void importNewspapers();
    void exportNewspapers();
    void mergeNewerDirectory();
    void checkWebAddresses();
    void helpTopics();
    void sendFeedback();
    void visitHomepage();
    void about();
    void exitProgram();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildControls(QWidget* client);
    void buildGrid(QWidget* client);
    void buildMenus();
    void buildTabOrder();
    void buildShortcuts();
    void startUp();
    // The search rule from the criteria as the boxes hold them now.
    std::shared_ptr<const RecordFilter> searchRule() const;
    SearchCriteria criteria() const;
    // A Confirmation box; `description` says what it is about to a screen reader.
    bool confirm(const QString& question, const QString& description = QString());
    // A summary in a plain box under the program's name.
    void tell(const QString& summary);
    void popUpMenuAtCurrentRow();
    // Enter in a search criterion: the next criterion, after the last one the favourites.
    void stepFromCriterion(QObject* watched);

    void openRecord();
    void recordVisit();
    void loadFavourites();
    void loadHistory();
    void fillFavourites(const QList<QByteArray>& lines);
    void fillHistory(const QList<QByteArray>& lines);
    // Finds the newspaper a list's line names and reads it.
    void openNamed(const QByteArray& line);
    void openRecordDialog(bool adding);
    // The newspaper that has the address already, when adding one should be asked about;
    // true when the record is to be added.
    bool addAnyway(const QString& address);

    // The commands on the whole directory (MainWindowTools.cpp).
    void startTool(const QStringList& steps, BackgroundWork::Work work);
    // A job's completion that keeps the commands given meanwhile waiting while it runs.
    BackgroundWork::Completion concluding(std::function<void()> then);
    void reviewMerge(const std::shared_ptr<merge::Plan>& plan, const QString& newer, const QString& base);
    void reviewCheck(const links::TableCheck& check);

    const Platform& m_platform;
    // The collation made ready beside the window's construction, for the first order.
    QFuture<void> m_collationReady;
    QString m_dataFolder;
    qint32 m_lastNumber = 0;
    bool m_centred = false;

    Table* m_table = nullptr;
    DirectoryModel* m_model = nullptr;
    CommandQueue* m_commands = nullptr;
    QTimer* m_cacheTimer = nullptr;
    QTimer* m_reopenTimer = nullptr;
    std::array<QIcon, 14> m_pictures;

    QGroupBox* m_searchGroup = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QComboBox* m_countryBox = nullptr;
    QLineEdit* m_stateEdit = nullptr;
    QLineEdit* m_cityEdit = nullptr;
    QComboBox* m_categoryBox = nullptr;
    QLineEdit* m_webEdit = nullptr;
    QToolButton* m_searchButton = nullptr;
    QToolButton* m_showAllButton = nullptr;

    QGroupBox* m_shortcutsGroup = nullptr;
    QComboBox* m_favouritesBox = nullptr;
    QComboBox* m_historyBox = nullptr;
    QToolButton* m_goToFavouriteButton = nullptr;
    QToolButton* m_deleteFavouriteButton = nullptr;
    QToolButton* m_goToVisitedButton = nullptr;
    QToolButton* m_clearHistoryButton = nullptr;
    QToolButton* m_readNowButton = nullptr;

    QList<QWidget*> m_criteria;

    DirectoryGrid* m_grid = nullptr;
    QMenu* m_popupMenu = nullptr;
    WorkIndicator* m_workIndicator = nullptr;

    BackgroundWork* m_toolWork = nullptr;
    // A whole-directory command's completion is running: its summary or report is open.
    bool m_toolConcluding = false;
    QShortcut* m_cancelToolKey = nullptr;
};
