#include "TestSupport.h"

#include "dialogs/RecordDialog.h"
#include "directory/Table.h"
#include "grid/DirectoryGrid.h"
#include "mainwindow/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

void whenModalOpens(const std::function<void(QWidget*)>& act)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
            modal->close();
        }
    });
    timer->start();
}

std::unique_ptr<MainWindow> openWindow(const Platform& platform)
{
    auto window = std::make_unique<MainWindow>(platform);
    window->table().setBackgroundWork(false);
    window->toolWork().setBackground(false);
    return window;
}

QWidget* control(const QWidget& window, const char* name)
{
    auto* found = window.findChild<QWidget*>(QLatin1String(name));
    if (!found)
        qFatal("The window has no control named %s", name);
    return found;
}

QLineEdit* nameEdit(const QWidget& window)
{
    return control<QLineEdit>(window, "nameEdit");
}
QComboBox* countryBox(const QWidget& window)
{
    return control<QComboBox>(window, "countryBox");
}
QLineEdit* stateEdit(const QWidget& window)
{
    return control<QLineEdit>(window, "stateEdit");
}
QLineEdit* cityEdit(const QWidget& window)
{
    return control<QLineEdit>(window, "cityEdit");
}
QComboBox* categoryBox(const QWidget& window)
{
    return control<QComboBox>(window, "categoryBox");
}
QLineEdit* webEdit(const QWidget& window)
{
    return control<QLineEdit>(window, "webEdit");
}
QLabel* nameLabel(const QWidget& window)
{
    return control<QLabel>(window, "nameLabel");
}
QLabel* countryLabel(const QWidget& window)
{
    return control<QLabel>(window, "countryLabel");
}
QLabel* stateLabel(const QWidget& window)
{
    return control<QLabel>(window, "stateLabel");
}
QLabel* cityLabel(const QWidget& window)
{
    return control<QLabel>(window, "cityLabel");
}
QLabel* categoryLabel(const QWidget& window)
{
    return control<QLabel>(window, "categoryLabel");
}
QLabel* webLabel(const QWidget& window)
{
    return control<QLabel>(window, "webLabel");
}
QGroupBox* searchGroup(const MainWindow& window)
{
    return control<QGroupBox>(window, "searchGroup");
}
QGroupBox* shortcutsGroup(const MainWindow& window)
{
    return control<QGroupBox>(window, "shortcutsGroup");
}
QToolButton* searchButton(const MainWindow& window)
{
    return control<QToolButton>(window, "searchButton");
}
QToolButton* showAllButton(const MainWindow& window)
{
    return control<QToolButton>(window, "showAllButton");
}
QToolButton* readNowButton(const MainWindow& window)
{
    return control<QToolButton>(window, "readNowButton");
}
QComboBox* favouritesBox(const MainWindow& window)
{
    return control<QComboBox>(window, "favouritesBox");
}
QComboBox* historyBox(const MainWindow& window)
{
    return control<QComboBox>(window, "historyBox");
}
QLabel* favouritesLabel(const MainWindow& window)
{
    return control<QLabel>(window, "favouritesLabel");
}
QLabel* historyLabel(const MainWindow& window)
{
    return control<QLabel>(window, "historyLabel");
}
QToolButton* goToFavouriteButton(const MainWindow& window)
{
    return control<QToolButton>(window, "goToFavouriteButton");
}
QToolButton* deleteFavouriteButton(const MainWindow& window)
{
    return control<QToolButton>(window, "deleteFavouriteButton");
}
QToolButton* goToVisitedButton(const MainWindow& window)
{
    return control<QToolButton>(window, "goToVisitedButton");
}
QToolButton* clearHistoryButton(const MainWindow& window)
{
    return control<QToolButton>(window, "clearHistoryButton");
}
DirectoryGrid* grid(const MainWindow& window)
{
    return control<DirectoryGrid>(window, "grid");
}
DirectoryModel* gridModel(const MainWindow& window)
{
    return grid(window)->directoryModel();
}
QMenu* popupMenu(const MainWindow& window)
{
    auto* menu = window.findChild<QMenu*>(QStringLiteral("popupMenu"));
    if (!menu)
        qFatal("The window has no pop-up menu");
    return menu;
}

QAction* menuItem(const MainWindow& window, const char* name)
{
    for (QAction* action : window.findChildren<QAction*>(QLatin1String(name))) {
        if (!action->isSeparator())
            return action;
    }
    qFatal("The window has no menu item named %s", name);
}

QGroupBox* recordGroup(const RecordDialog& dialog)
{
    return control<QGroupBox>(dialog, "recordGroup");
}
QPushButton* saveButton(const RecordDialog& dialog)
{
    return control<QPushButton>(dialog, "saveButton");
}
QPushButton* cancelButton(const RecordDialog& dialog)
{
    return control<QPushButton>(dialog, "cancelButton");
}
