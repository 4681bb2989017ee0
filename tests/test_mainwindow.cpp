// The main window as laid out: controls, lists, tab order, menus and their handlers,
// the grid as drawn, and the help commands.

#include "TestSupport.h"

#include "commands/CommandQueue.h"
#include "directory/Table.h"
#include "grid/DirectoryGrid.h"
#include "mainwindow/MainWindow.h"
#include "startup/ProgramTitle.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

namespace {

std::vector<Row> newspapers(int count)
{
    std::vector<Row> rows;
    for (int i = 1; i <= count; ++i) {
        rows.push_back({i, QStringLiteral("Paper %1").arg(i, 3, 10, QLatin1Char('0')),
                        QStringLiteral("https://paper%1.example.com/").arg(i), QStringLiteral("Canada"),
                        QStringLiteral("ON"), QStringLiteral("Toronto"), QStringLiteral("Business")});
    }
    return rows;
}

QString plain(QString text)
{
    return text.remove(QLatin1Char('&'));
}

// The menu's entries as "text|name|has picture", separators as "-".
QStringList entries(const QMenu* menu)
{
    QStringList list;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator())
            list << QStringLiteral("-");
        else
            list << QStringLiteral("%1|%2|%3")
                        .arg(plain(action->text()), action->objectName(), action->icon().isNull() ? "" : "pic");
    }
    return list;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void windowIsFixedAtItsClientSize();
    void controlsStandWhereDesigned_data();
    void controlsStandWhereDesigned();
    void listsHoldTheirEntries();
    void tabOrderRunsGridSearchThenShortcutsThenReadNow();
    void mainMenuBindsEveryItem();
    void popupMenuBindsEveryItem();
    void everyBoundControlRunsItsHandler();
    void gridShowsColumnsInTheirColours();
    void gridAndTableShareTheCurrentRecord();
    void aLargeTableShowsItsFirstPageBeforeItsOrderIsWhole();
    void helpCommandsHandOverExactTexts();
    void exitClosesWithoutAQuestion();

private:
    std::unique_ptr<TestPlatform> t;
    std::unique_ptr<MainWindow> form;
};

void TestMainWindow::init()
{
    t = std::make_unique<TestPlatform>();
    t->folder.makeTable(newspapers(40));
    form = openWindow(t->platform);
}

void TestMainWindow::cleanup()
{
    form.reset();
    t.reset();
}

void TestMainWindow::windowIsFixedAtItsClientSize()
{
    QCOMPARE(form->centralWidget()->size(), QSize(688, 475));
    QCOMPARE(form->minimumSize(), form->maximumSize());
    const Qt::WindowFlags flags = form->windowFlags();
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowSystemMenuHint);
    QCOMPARE(form->font().pointSize(), 8);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    const QRect screen = form->screen()->availableGeometry();
    QVERIFY(qAbs(form->frameGeometry().center().x() - screen.center().x()) <= 1);
    QVERIFY(qAbs(form->frameGeometry().center().y() - screen.center().y()) <= 1);
}

void TestMainWindow::controlsStandWhereDesigned_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry"); // a width of 0: only the position is fixed
    QTest::addColumn<QString>("text");
    auto row = [](const char* name, const char* parent, QRect geometry, const char* text) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(parent) << geometry
                            << QString::fromUtf8(text);
    };
    row("shortcutsGroup", "client", QRect(24, 8, 297, 113), "Shortcuts");
    row("favouritesLabel", "shortcutsGroup", QRect(16, 32, 0, 0), "My Favorites");
    row("favouritesBox", "shortcutsGroup", QRect(80, 28, 145, 21), "");
    row("goToFavouriteButton", "shortcutsGroup", QRect(228, 28, 21, 21), "Go");
    row("deleteFavouriteButton", "shortcutsGroup", QRect(252, 28, 21, 21), "Delete");
    row("historyLabel", "shortcutsGroup", QRect(16, 64, 0, 0), "Visit History");
    row("historyBox", "shortcutsGroup", QRect(80, 60, 145, 21), "");
    row("goToVisitedButton", "shortcutsGroup", QRect(228, 60, 21, 21), "Go");
    row("clearHistoryButton", "shortcutsGroup", QRect(252, 60, 21, 21), "Clear History");
    row("readNowButton", "client", QRect(104, 152, 120, 28), "Read Now");
    row("searchGroup", "client", QRect(360, 8, 305, 185), "Search Newspaper");
    row("nameLabel", "searchGroup", QRect(8, 32, 0, 0), "Name");
    row("nameEdit", "searchGroup", QRect(56, 28, 233, 21), "All");
    row("countryLabel", "searchGroup", QRect(8, 64, 0, 0), "Country");
    row("countryBox", "searchGroup", QRect(56, 60, 97, 21), "All");
    row("stateLabel", "searchGroup", QRect(168, 64, 0, 0), "State");
    row("stateEdit", "searchGroup", QRect(208, 60, 81, 21), "All");
    row("cityLabel", "searchGroup", QRect(8, 96, 0, 0), "City");
    row("cityEdit", "searchGroup", QRect(56, 92, 97, 21), "All");
    row("categoryLabel", "searchGroup", QRect(160, 96, 0, 0), "Category");
    row("categoryBox", "searchGroup", QRect(208, 92, 81, 21), "All");
    row("webLabel", "searchGroup", QRect(8, 128, 0, 0), "Web");
    row("webEdit", "searchGroup", QRect(56, 124, 233, 21), "All");
    row("searchButton", "searchGroup", QRect(40, 156, 90, 21), "Search");
    row("showAllButton", "searchGroup", QRect(168, 156, 90, 21), "Show All");
    row("grid", "client", QRect(0, 201, 688, 274), "");
}

void TestMainWindow::controlsStandWhereDesigned()
{
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    auto* widget = form->findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    if (geometry.width() > 0)
        QCOMPARE(widget->geometry(), geometry);
    else
        QCOMPARE(widget->pos(), geometry.topLeft());
    if (auto* box = qobject_cast<QGroupBox*>(widget))
        QCOMPARE(box->title(), text);
    else if (auto* label = qobject_cast<QLabel*>(widget))
        QCOMPARE(label->text(), text);
    else if (auto* edit = qobject_cast<QLineEdit*>(widget))
        QCOMPARE(edit->text(), text);
    else if (auto* combo = qobject_cast<QComboBox*>(widget))
        QCOMPARE(combo->currentText(), text);
    else if (auto* button = qobject_cast<QToolButton*>(widget)) {
        // The small buttons never take the focus; the picture buttons take it from Tab only.
        QCOMPARE(button->focusPolicy(), button->width() == 21 ? Qt::NoFocus : Qt::TabFocus);
        QVERIFY(!button->icon().isNull());
        QCOMPARE(button->toolTip().isEmpty() ? button->accessibleName() : button->toolTip(), text);
    }
}

void TestMainWindow::listsHoldTheirEntries()
{
    QStringList countries;
    for (int i = 0; i < countryBox(*form)->count(); ++i)
        countries << countryBox(*form)->itemText(i);
    QCOMPARE(countries.size(), 240);
    QCOMPARE(countries.mid(0, 6), (QStringList{"All", "United States", "England", "Canada", "Afghanistan", "Albania"}));
    QCOMPARE(countries.last(), QStringLiteral("Zimbabwe"));
    QCOMPARE(countries.count(QStringLiteral("United States")), 2);
    QCOMPARE(countries.count(QStringLiteral("Canada")), 2);
    QCOMPARE(countries.count(QStringLiteral("United Kingdom")), 1);
    QVERIFY(countries.indexOf(QStringLiteral("Niger")) + 1 == countries.indexOf(QStringLiteral("Nigeria")));
    const QStringList alphabetical = countries.mid(4);
    QVERIFY(alphabetical.contains(QStringLiteral("Papua new Guinea")));
    QVERIFY(alphabetical.contains(QStringLiteral("F.Y.R.O. Macedonia")));

    QStringList categories;
    for (int i = 0; i < categoryBox(*form)->count(); ++i)
        categories << categoryBox(*form)->itemText(i);
    QCOMPARE(categories, (QStringList{"All", "City Guide", "Sports", "Business", "Technology", "Politics", "Calendar",
                                      "Shopping"}));
    QVERIFY(countryBox(*form)->isEditable() && categoryBox(*form)->isEditable() && historyBox(*form)->isEditable());
    QVERIFY(!favouritesBox(*form)->isEditable());
    QCOMPARE(favouritesBox(*form)->currentIndex(), -1);
}

void TestMainWindow::tabOrderRunsGridSearchThenShortcutsThenReadNow()
{
    QStringList chain;
    QWidget* widget = grid(*form);
    do {
        // Inner parts (a combo box's edit field, the grid's scroll bars) have no names.
        if ((widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy() && !widget->objectName().isEmpty() &&
            widget->isVisibleTo(form.get()))
            chain << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != grid(*form) && chain.size() < 50);
    QCOMPARE(chain, (QStringList{"grid", "nameEdit", "countryBox", "stateEdit", "cityEdit", "categoryBox", "webEdit",
                                 "searchButton", "showAllButton", "favouritesBox", "historyBox", "readNowButton"}));
}

void TestMainWindow::mainMenuBindsEveryItem()
{
    const QList<QAction*> top = form->menuBar()->actions();
    QStringList titles;
    for (const QAction* action : top)
        titles << plain(action->text());
    QCOMPARE(titles, (QStringList{"File", "Sort", "Read Now", "Help"}));
    QCOMPARE(
        entries(top[0]->menu()),
        (QStringList{"Add a New Record|addRecordAction|pic", "Modify Record|modifyRecordAction|pic",
                     "Delete Record|deleteRecordAction|pic", "-", "Import Newspapers\u2026|importNewspapersAction|",
                     "Export Newspapers\u2026|exportNewspapersAction|",
                     "Merge a Newer Directory\u2026|mergeNewerDirectoryAction|",
                     "Check Web Addresses\u2026|checkWebAddressesAction|", "-",
                     "Add to Favorites|addToFavouritesAction|pic", "Delete Favorite|deleteFavouriteAction|pic",
                     "Clear History|clearHistoryAction|pic", "-", "Exit|exitAction|pic"}));
    QCOMPARE(
        entries(top[1]->menu()),
        (QStringList{"Sort by Name|sortByNameAction|pic", "Sort by Country|sortByCountryAction|pic",
                     "Sort by State|sortByStateAction|pic", "Sort by City|sortByCityAction|pic",
                     "Sort by Category|sortByCategoryAction|pic", "Sort by Web Address|sortByWebAddressAction|pic"}));
    QVERIFY(!top[2]->menu());
    QCOMPARE(top[2]->objectName(), QStringLiteral("readNowAction"));
    QCOMPARE(entries(top[3]->menu()),
             (QStringList{"Help Topics|helpTopicsAction|pic", "-", "Send Feedback|sendFeedbackAction|pic",
                          "Visit Homepage|visitHomepageAction|pic", "-", "About|aboutAction|pic"}));
    // One image list of 14 pictures; the menus use its entries.
    QCOMPARE(form->pictures().size(), size_t(14));
    for (const QIcon& icon : form->pictures())
        QVERIFY(!icon.pixmap(16, 16).isNull());
    QCOMPARE(menuItem(*form, "exitAction")->icon().cacheKey(), form->pictures()[9].cacheKey());
    QCOMPARE(menuItem(*form, "aboutAction")->icon().cacheKey(), form->pictures()[8].cacheKey());
}

void TestMainWindow::popupMenuBindsEveryItem()
{
    QStringList list = entries(popupMenu(*form));
    QCOMPARE(list.size(), 10);
    list.removeLast(); // the submenu
    QCOMPARE(list,
             (QStringList{"Read Now!|popupReadNowAction|pic", "Copy Web Address|popupCopyWebAddressAction|", "-",
                          "Add a New Record|popupAddRecordAction|pic", "Modify This Record|popupModifyRecordAction|pic",
                          "Delete This Record|popupDeleteRecordAction|pic", "-",
                          "Add to Favorites|popupAddToFavouritesAction|pic", "-"}));
    const QMenu* sortBy = popupMenu(*form)->actions().last()->menu();
    QVERIFY(sortBy);
    QCOMPARE(plain(sortBy->title()), QStringLiteral("Sort by"));
    QCOMPARE(popupMenu(*form)->actions().last()->icon().cacheKey(), form->pictures()[13].cacheKey());
    QCOMPARE(entries(sortBy),
             (QStringList{"Name|popupSortByNameAction|", "Country|popupSortByCountryAction|",
                          "State|popupSortByStateAction|", "City|popupSortByCityAction|",
                          "Category|popupSortByCategoryAction|", "Web Address|popupSortByWebAddressAction|"}));
}

void TestMainWindow::everyBoundControlRunsItsHandler()
{
    // Every menu item and button, and the command it gives.
    const std::pair<const char*, const char*> bindings[] = {
        {"addRecordAction", "addRecord"},
        {"modifyRecordAction", "modifyRecord"},
        {"deleteRecordAction", "deleteRecord"},
        {"addToFavouritesAction", "addToFavourites"},
        {"deleteFavouriteAction", "deleteFavourite"},
        {"clearHistoryAction", "clearHistory"},
        {"importNewspapersAction", "importNewspapers"},
        {"exportNewspapersAction", "exportNewspapers"},
        {"mergeNewerDirectoryAction", "mergeNewerDirectory"},
        {"checkWebAddressesAction", "checkWebAddresses"},
        {"helpTopicsAction", "helpTopics"},
        {"sortByNameAction", "sortBy"},
        {"sortByCountryAction", "sortBy"},
        {"sortByStateAction", "sortBy"},
        {"sortByCityAction", "sortBy"},
        {"sortByCategoryAction", "sortBy"},
        {"sortByWebAddressAction", "sortBy"},
        {"readNowAction", "readNow"},
        {"sendFeedbackAction", "sendFeedback"},
        {"visitHomepageAction", "visitHomepage"},
        {"aboutAction", "about"},
        {"popupReadNowAction", "readNow"},
        {"popupCopyWebAddressAction", "copyWebAddress"},
        {"popupAddRecordAction", "addRecord"},
        {"popupModifyRecordAction", "modifyRecord"},
        {"popupDeleteRecordAction", "deleteRecord"},
        {"popupAddToFavouritesAction", "addToFavourites"},
        {"popupSortByNameAction", "sortBy"},
        {"popupSortByCountryAction", "sortBy"},
        {"popupSortByStateAction", "sortBy"},
        {"popupSortByCityAction", "sortBy"},
        {"popupSortByCategoryAction", "sortBy"},
        {"popupSortByWebAddressAction", "sortBy"},
        {"goToFavouriteButton", "goToFavourite"},
        {"deleteFavouriteButton", "deleteFavourite"},
        {"goToVisitedButton", "goToVisited"},
        {"clearHistoryButton", "clearHistory"},
        {"readNowButton", "readNow"},
        {"searchButton", "search"},
        {"showAllButton", "showAll"},
    };
    QSignalSpy runs(&form->commands(), &CommandQueue::started);
    for (const auto& [name, command] : bindings) {
        runs.clear();
        t->boxes.answers.assign(4, MessageBoxes::Answer::Cancel); // no deletions
        whenModalOpens([](QWidget*) {});
        if (QAction* action = form->findChild<QAction*>(QLatin1String(name)))
            action->trigger();
        else
            control<QToolButton>(*form, name)->click();
        QTRY_VERIFY_WITH_TIMEOUT(!runs.isEmpty(), 2000); // a dialog's closing follows as a command of its own
        QCOMPARE(runs.first().first().toString(), QString::fromLatin1(command));
        QTRY_VERIFY(!QApplication::activeModalWidget());
    }
    // Every item of the menus is above but Exit, which has a test of its own.
    QStringList items;
    for (const QAction* action : form->findChildren<QAction*>()) {
        if (!action->isSeparator() && !action->menu() && !action->objectName().isEmpty())
            items << action->objectName();
    }
    QStringList bound;
    for (const auto& binding : bindings) {
        if (!QByteArray(binding.first).endsWith("Button"))
            bound << QString::fromLatin1(binding.first);
    }
    bound << QStringLiteral("exitAction");
    items.sort();
    bound.sort();
    QCOMPARE(items, bound);
    QTest::mouseDClick(grid(*form)->viewport(), Qt::LeftButton, {}, QPoint(20, 10));
    QCOMPARE(runs.last().first().toString(), QStringLiteral("readNow"));
}

void TestMainWindow::gridShowsColumnsInTheirColours()
{
    QStringList titles;
    QList<int> widths;
    for (int i = 0; i < gridModel(*form)->columnCount(); ++i) {
        titles << gridModel(*form)->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString();
        widths << grid(*form)->columnWidth(i);
        QCOMPARE(gridModel(*form)->headerData(i, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>(),
                 Qt::Alignment(Qt::AlignCenter));
    }
    QCOMPARE(titles, (QStringList{"Newspaper Name", "Country", "State", "City", "Category", "Web Address"}));
    QCOMPARE(widths, (QList<int>{150, 80, 50, 90, 90, 188}));
    QCOMPARE(grid(*form)->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(grid(*form)->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);

    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    const QImage image = grid(*form)->grab().toImage();
    const QColor blueGrey(0xE7, 0xEB, 0xEF);
    const QColor cream(0xFF, 0xFF, 0xE6);
    const QColor expected[] = {blueGrey, cream, blueGrey, cream, blueGrey, cream};
    const int y = grid(*form)->viewport()->y() + grid(*form)->rowViewportPosition(3) + 2;
    for (int column = 0; column < 6; ++column) {
        // Just inside the cell's left edge, left of any text.
        const int x = grid(*form)->viewport()->x() + grid(*form)->columnViewportPosition(column) + 1;
        QCOMPARE(image.pixelColor(x, y), expected[column]);
        // The end of the cell too, so a wrong width shows.
        const int right = x + grid(*form)->columnWidth(column) - 4;
        QCOMPARE(image.pixelColor(right, y), expected[column]);
    }
    // Navy text on the cream columns: the Country cell holds dark blue pixels.
    const int top = grid(*form)->viewport()->y() + grid(*form)->rowViewportPosition(3);
    const int left = grid(*form)->viewport()->x() + grid(*form)->columnViewportPosition(1);
    bool navy = false;
    for (int yy = top; yy < top + 17 && !navy; ++yy) {
        for (int xx = left; xx < left + 78 && !navy; ++xx) {
            const QColor c = image.pixelColor(xx, yy);
            navy = c.blue() > 100 && c.red() < 60 && c.green() < 60;
        }
    }
    QVERIFY(navy);
    if (const QByteArray path = qgetenv("KESTROVE_SCREENSHOT"); !path.isEmpty())
        form->grab().save(QString::fromLocal8Bit(path));
}

void TestMainWindow::gridAndTableShareTheCurrentRecord()
{
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    grid(*form)->setFocus();
    QTest::keyClick(grid(*form), Qt::Key_Down);
    QTest::keyClick(grid(*form), Qt::Key_Down);
    QCOMPARE(form->table().currentRow(), 2);
    QCOMPARE(form->table().field(Field::Name).asString(), QStringLiteral("Paper 003"));
    QVERIFY(form->table().locate(Field::Name, QStringLiteral("Paper 039")));
    QCOMPARE(grid(*form)->currentIndex().row(), 38);
    const QRect cell = grid(*form)->visualRect(grid(*form)->currentIndex());
    QVERIFY(grid(*form)->viewport()->rect().contains(cell)); // scrolled to it
    form->table().first();
    QCOMPARE(grid(*form)->currentIndex().row(), 0);
}

void TestMainWindow::aLargeTableShowsItsFirstPageBeforeItsOrderIsWhole()
{
    // The window opens on the first page of a large table while its first order is still
    // being built beside it; Read Now given meanwhile waits for it, then runs.
    Table::setFirstPageMinimum(100);
    const auto restore = qScopeGuard([] { Table::setFirstPageMinimum(250000); });
    form.reset();
    t = std::make_unique<TestPlatform>();
    t->folder.makeTable(newspapers(600));
    form = std::make_unique<MainWindow>(t->platform); // as the program opens it: work beside on
    QVERIFY(form->table().busy());
    const QAbstractItemModel* model = grid(*form)->model();
    QCOMPARE(model->rowCount(), 600);
    QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("Paper 001"));
    QCOMPARE(model->index(599, 0).data().toString(), QString());
    form->findChild<QAbstractButton*>(QStringLiteral("readNowButton"))->click();
    QVERIFY(t->shell.opened.empty());
    QTRY_VERIFY(!form->table().busy());
    QCOMPARE(model->index(599, 0).data().toString(), QStringLiteral("Paper 600"));
    QCOMPARE(t->shell.opened, std::vector<QString>{QStringLiteral("https://paper1.example.com/")});
}

void TestMainWindow::helpCommandsHandOverExactTexts()
{
    menuItem(*form, "sendFeedbackAction")->trigger();
    menuItem(*form, "visitHomepageAction")->trigger();
    QCOMPARE(t->shell.opened.size(), size_t(2));
    const QString mail = t->shell.opened[0];
    QVERIFY(mail.startsWith(QStringLiteral("mailto:")));
    QVERIFY(mail.endsWith(QStringLiteral("@kestrove.example.com?subject=Kestrove_Online_Newspaper_Feedback")));
    QVERIFY(!mail.contains(QLatin1Char(' ')));
    QCOMPARE(t->shell.opened[1], QStringLiteral("https://kestrove.example.com/"));

    menuItem(*form, "aboutAction")->trigger();
    QCOMPARE(t->boxes.shown.size(), size_t(1));
    const FakeMessageBoxes::Shown& about = t->boxes.shown[0];
    QCOMPARE(about.caption, QStringLiteral("About Kestrove Online Newspaper"));
    QVERIFY(about.style == MessageBoxes::Style::Plain);
    const QStringList lines = about.text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], form->windowTitle());
    QCOMPARE(lines[1], QString());
    QVERIFY(!about.text.contains(QLatin1Char('\r')));

    // A desktop with no program for the address says so.
    t->shell.accepts = false;
    menuItem(*form, "visitHomepageAction")->trigger();
    QCOMPARE(t->boxes.errors(), QStringList{"\"https://kestrove.example.com/\" could not be opened: no program on "
                                            "this desktop took it."});
}

void TestMainWindow::exitClosesWithoutAQuestion()
{
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    menuItem(*form, "exitAction")->trigger();
    QVERIFY(!form->isVisible());
    QVERIFY(t->boxes.shown.empty());
}

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
