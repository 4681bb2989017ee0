#pragma once

// Shared by the window tests: the desktop seams that record instead of acting.

#include "CoreTestSupport.h"
#include "desktop/Platform.h"

#include <QStringList>

class QAction;
#include <deque>
#include <functional>
#include <memory>
#include <vector>

// Records every address it is handed; `accepts` false plays a desktop without a browser.
class FakeShell : public Shell
{
public:
    bool open(const QString& address) override
    {
        opened.push_back(address);
        return accepts;
    }
    std::vector<QString> opened;
    bool accepts = true;
};

class FakeMessageBoxes : public MessageBoxes
{
public:
    struct Shown
    {
        QString text;
        QString caption;
        Style style;
        QString description;
    };
    Answer show(QWidget* owner, const QString& text, const QString& caption, Style style) override
    {
        return showWithDescription(owner, text, caption, style, QString());
    }
    Answer showWithDescription(QWidget*, const QString& text, const QString& caption, Style style,
                               const QString& description) override
    {
        shown.push_back({text, caption, style, description});
        if (answers.empty())
            return Answer::Ok;
        const Answer next = answers.front();
        answers.pop_front();
        return next;
    }
    // Error reports only.
    QStringList errors() const
    {
        QStringList list;
        for (const Shown& box : shown) {
            if (box.style == Style::Error)
                list << box.text;
        }
        return list;
    }
    std::vector<Shown> shown;
    std::deque<Answer> answers;
};

// Answers each file dialog with the next of `answers` (empty: the user cancelled), and
// records the dialogs' captions and the files chosen.
class FakeFileDialogs : public FileDialogs
{
public:
    QString openFile(QWidget*, const QString& caption, const QString&) override { return answer(caption); }
    QString saveFile(QWidget*, const QString& caption, const QString&, const QString&) override
    {
        return answer(caption);
    }
    std::deque<QString> answers;
    QStringList asked;
    QStringList answered;

private:
    QString answer(const QString& caption)
    {
        asked << caption;
        if (answers.empty())
            return QString();
        const QString next = answers.front();
        answers.pop_front();
        if (!next.isEmpty())
            answered << next;
        return next;
    }
};

// The seams together, for building windows.
struct TestPlatform
{
    FakeShell shell;
    FakeMessageBoxes boxes;
    FakeFileDialogs files;
    TempProgramFolder folder;
    Platform platform{shell, boxes, folder, files};
};

class MainWindow;
class RecordDialog;
class DirectoryGrid;
class DirectoryModel;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolButton;
class QWidget;

// The main window with its table's and its tools' background work off, so every command
// has completed when it returns; the tests of background work switch it back on.
std::unique_ptr<MainWindow> openWindow(const Platform& platform);

// A window's control by its object name, as an accessibility tool finds it; a missing
// one fails the test at once.
QWidget* control(const QWidget& window, const char* name);
template <class T>
T* control(const QWidget& window, const char* name)
{
    return static_cast<T*>(control(window, name));
}

// The controls of the main window and of the record dialog, by name.
QLineEdit* nameEdit(const QWidget& window);
QComboBox* countryBox(const QWidget& window);
QLineEdit* stateEdit(const QWidget& window);
QLineEdit* cityEdit(const QWidget& window);
QComboBox* categoryBox(const QWidget& window);
QLineEdit* webEdit(const QWidget& window);
QLabel* nameLabel(const QWidget& window);
QLabel* countryLabel(const QWidget& window);
QLabel* stateLabel(const QWidget& window);
QLabel* cityLabel(const QWidget& window);
QLabel* categoryLabel(const QWidget& window);
QLabel* webLabel(const QWidget& window);
// The main window's own.
QGroupBox* searchGroup(const MainWindow& window);
QGroupBox* shortcutsGroup(const MainWindow& window);
QToolButton* searchButton(const MainWindow& window);
QToolButton* showAllButton(const MainWindow& window);
QToolButton* readNowButton(const MainWindow& window);
QComboBox* favouritesBox(const MainWindow& window);
QComboBox* historyBox(const MainWindow& window);
QLabel* favouritesLabel(const MainWindow& window);
QLabel* historyLabel(const MainWindow& window);
QToolButton* goToFavouriteButton(const MainWindow& window);
QToolButton* deleteFavouriteButton(const MainWindow& window);
QToolButton* goToVisitedButton(const MainWindow& window);
QToolButton* clearHistoryButton(const MainWindow& window);
DirectoryGrid* grid(const MainWindow& window);
DirectoryModel* gridModel(const MainWindow& window);
QMenu* popupMenu(const MainWindow& window);
// A menu item by its object name.
QAction* menuItem(const MainWindow& window, const char* name);
// The record dialog's own.
QGroupBox* recordGroup(const RecordDialog& dialog);
QPushButton* saveButton(const RecordDialog& dialog);
QPushButton* cancelButton(const RecordDialog& dialog);

// Closes the modal dialog that opens next, after running `act` on it.
void whenModalOpens(const std::function<void(QWidget*)>& act);
