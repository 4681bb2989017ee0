#pragma once

#include "desktop/Platform.h"
#include "directory/RecordFilter.h"
#include "grid/DataSource.h"

#include <QMainWindow>
#include <QStringList>
#include <array>
#include <memory>

class DBGrid;
class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QTimer;
class QToolButton;
class Table;

// The main window: the directory grid, the search criteria, the favourites and
// history lists, and every command. Handlers keep the names of the controls that run
// them; several controls and menu items share one handler.
class TForm1 : public QMainWindow
{
    Q_OBJECT

public:
    // Builds the window and opens the directory table in the data folder. A table
    // that cannot be opened throws (start-up then makes its one retry); any later
    // start-up failure is reported and the window still opens.
    explicit TForm1(const Platform& platform, QWidget* parent = nullptr);
    ~TForm1() override;

    const Platform& platform() const { return m_platform; }
    // "MS Sans Serif" 8 point, or the nearest face this system has.
    static QFont windowFont();

    // Shared state, also read by the record dialog.
    QString ExePath;   // the program folder, ending in a separator
    QString DataPath;  // the table's and the lists' folder (see DataLocation), ending in one
    qint32 LastNo = 0; // the highest record number handed out
    bool AddMode = false;

    // Components.
    Table* Table1 = nullptr;
    DataSource* DataSource1 = nullptr;
    DBGrid* DBGrid1 = nullptr;
    std::array<QIcon, 14> ImageList1;

    QGroupBox* GroupBox1 = nullptr; // Search Newspaper
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* Edit1 = nullptr;          // Name
    QComboBox* ComboBox1 = nullptr;      // Country
    QLineEdit* Edit3 = nullptr;          // State
    QLineEdit* Edit4 = nullptr;          // City
    QComboBox* ComboBox2 = nullptr;      // Category
    QLineEdit* Edit6 = nullptr;          // Web
    QToolButton* SpeedButton6 = nullptr; // Search
    QToolButton* SpeedButton7 = nullptr; // Show All

    QGroupBox* GroupBox2 = nullptr; // Shortcuts
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QComboBox* ComboBox3 = nullptr;      // favourites
    QComboBox* ComboBox4 = nullptr;      // visit history
    QToolButton* SpeedButton1 = nullptr; // favourites: Go
    QToolButton* SpeedButton2 = nullptr; // favourites: Delete
    QToolButton* SpeedButton3 = nullptr; // history: Go
    QToolButton* SpeedButton4 = nullptr; // history: Clear History
    QToolButton* SpeedButton5 = nullptr; // Read Now

    QMenu* PopupMenu1 = nullptr;

    // Every menu item by name.
    QAction* menuItem(const QString& name) const;

    // Start-up.
    void FormCreate();
    void Exit1Click();
    // Help.
    void SendFeedback1Click();
    void VisitHomepage1Click();
    void About1Click();
    // Search and sort.
    std::shared_ptr<const RecordFilter> Table1FilterRecord() const;
    void BitBtn5Click();
    void BitBtn4Click();
    void Edit1KeyPress(QObject* Sender, QChar& Key);
    void Name1Click();
    void Country1Click();
    void State1Click();
    void City1Click();
    void Category1Click();
    void WebAddress1Click();
    void DBGrid1TitleClick(const GridColumn& Column);
    // Reading, favourites and history.
    void BitBtn2Click();
    void DBGrid1DblClick();
    void RecordVisit();
    void LoadHistory();
    void LoadFavorites();
    void BitBtn7Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    // Records.
    void BitBtn1Click();
    void BitBtn9Click();
    void BitBtn3Click();

    // Runs a handler by name under the general error report.
    void run(const QString& handler);
    // The name of the handler a menu item or button runs; empty when none is bound.
    static QString handlerOf(const QObject* control);

signals:
    // Emitted as a command starts, with its handler's name.
    void commandRun(const QString& handler);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildControls(QWidget* client);
    void buildGrid(QWidget* client);
    void buildMenus();
    void buildTabOrder();
    void bind(QObject* control, const QString& handler);
    bool confirm(const QString& question);
    void fillFavorites(const QList<QByteArray>& lines);
    // Go: finds the newspaper a list box names and reads it.
    void openNamed(const QComboBox* box);
    void fillHistory(const QList<QByteArray>& lines);

    const Platform& m_platform;
    bool m_centred = false;
    QTimer* m_cacheTimer = nullptr;
};
