// The main window as laid out: controls, lists, tab order, menus and their handlers,
// the grid as drawn, and the help commands.

#include "TestSupport.h"

#include "directory/Table.h"
#include "grid/DBGrid.h"
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

// The menu's entries as "text|handler|has picture", separators as "-".
QStringList entries(const QMenu* menu)
{
    QStringList list;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator())
            list << QStringLiteral("-");
        else
            list << QStringLiteral("%1|%2|%3")
                        .arg(plain(action->text()), TForm1::handlerOf(action), action->icon().isNull() ? "" : "pic");
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
    void tabOrderRunsGridSearchThenShortcuts();
    void mainMenuBindsEveryItem();
    void popupMenuBindsEveryItem();
    void everyBoundControlRunsItsHandler();
    void gridShowsColumnsInTheirColours();
    void gridAndTableShareTheCurrentRecord();
    void helpCommandsHandOverExactTexts();
    void exitClosesWithoutAQuestion();

private:
    std::unique_ptr<TestPlatform> t;
    std::unique_ptr<TForm1> form;
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
    row("GroupBox2", "client", QRect(24, 8, 297, 113), "Shortcuts");
    row("Label7", "GroupBox2", QRect(16, 32, 0, 0), "My Favorites");
    row("ComboBox3", "GroupBox2", QRect(80, 28, 145, 21), "");
    row("SpeedButton1", "GroupBox2", QRect(228, 28, 21, 21), "Go");
    row("SpeedButton2", "GroupBox2", QRect(252, 28, 21, 21), "Delete");
    row("Label8", "GroupBox2", QRect(16, 64, 0, 0), "Visit History");
    row("ComboBox4", "GroupBox2", QRect(80, 60, 145, 21), "");
    row("SpeedButton3", "GroupBox2", QRect(228, 60, 21, 21), "Go");
    row("SpeedButton4", "GroupBox2", QRect(252, 60, 21, 21), "Clear History");
    row("SpeedButton5", "client", QRect(104, 152, 120, 28), "Read Now");
    row("GroupBox1", "client", QRect(360, 8, 305, 185), "Search Newspaper");
    row("Label1", "GroupBox1", QRect(8, 32, 0, 0), "Name");
    row("Edit1", "GroupBox1", QRect(56, 28, 233, 21), "All");
    row("Label2", "GroupBox1", QRect(8, 64, 0, 0), "Country");
    row("ComboBox1", "GroupBox1", QRect(56, 60, 97, 21), "All");
    row("Label3", "GroupBox1", QRect(168, 64, 0, 0), "State");
    row("Edit3", "GroupBox1", QRect(208, 60, 81, 21), "All");
    row("Label4", "GroupBox1", QRect(8, 96, 0, 0), "City");
    row("Edit4", "GroupBox1", QRect(56, 92, 97, 21), "All");
    row("Label5", "GroupBox1", QRect(160, 96, 0, 0), "Category");
    row("ComboBox2", "GroupBox1", QRect(208, 92, 81, 21), "All");
    row("Label6", "GroupBox1", QRect(8, 128, 0, 0), "Web");
    row("Edit6", "GroupBox1", QRect(56, 124, 233, 21), "All");
    row("SpeedButton6", "GroupBox1", QRect(40, 156, 90, 21), "Search");
    row("SpeedButton7", "GroupBox1", QRect(168, 156, 90, 21), "Show All");
    row("DBGrid1", "client", QRect(0, 201, 688, 274), "");
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
        QCOMPARE(button->focusPolicy(), Qt::NoFocus);
        QVERIFY(!button->icon().isNull());
        QCOMPARE(button->toolTip().isEmpty() ? button->accessibleName() : button->toolTip(), text);
    }
}

void TestMainWindow::listsHoldTheirEntries()
{
    QStringList countries;
    for (int i = 0; i < form->ComboBox1->count(); ++i)
        countries << form->ComboBox1->itemText(i);
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
    for (int i = 0; i < form->ComboBox2->count(); ++i)
        categories << form->ComboBox2->itemText(i);
    QCOMPARE(categories, (QStringList{"All", "City Guide", "Sports", "Business", "Technology", "Politics", "Calendar",
                                      "Shopping"}));
    QVERIFY(form->ComboBox1->isEditable() && form->ComboBox2->isEditable() && form->ComboBox4->isEditable());
    QVERIFY(!form->ComboBox3->isEditable());
    QCOMPARE(form->ComboBox3->currentIndex(), -1);
}

void TestMainWindow::tabOrderRunsGridSearchThenShortcuts()
{
    QStringList chain;
    QWidget* widget = form->DBGrid1;
    do {
        // Inner parts (a combo box's edit field, the grid's scroll bars) have no names.
        if ((widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy() && !widget->objectName().isEmpty())
            chain << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != form->DBGrid1 && chain.size() < 50);
    QCOMPARE(chain, (QStringList{"DBGrid1", "Edit1", "ComboBox1", "Edit3", "Edit4", "ComboBox2", "Edit6", "ComboBox3",
                                 "ComboBox4"}));
}

void TestMainWindow::mainMenuBindsEveryItem()
{
    const QList<QAction*> top = form->menuBar()->actions();
    QStringList titles;
    for (const QAction* action : top)
        titles << plain(action->text());
    QCOMPARE(titles, (QStringList{"File", "Sort", "Read Now", "Help"}));
    QCOMPARE(entries(top[0]->menu()),
             (QStringList{"Add a New Record|BitBtn1Click|pic", "Modify Record|BitBtn9Click|pic",
                          "Delete Record|BitBtn3Click|pic", "-", "Add to Favorites|BitBtn7Click|pic", "-",
                          "Exit|Exit1Click|pic"}));
    QCOMPARE(entries(top[1]->menu()),
             (QStringList{"Sort by Name|Name1Click|pic", "Sort by Country|Country1Click|pic",
                          "Sort by State|State1Click|pic", "Sort by City|City1Click|pic",
                          "Sort by Category|Category1Click|pic", "Sort by Web Address|WebAddress1Click|pic"}));
    QVERIFY(!top[2]->menu());
    QCOMPARE(TForm1::handlerOf(top[2]), QStringLiteral("BitBtn2Click"));
    QCOMPARE(entries(top[3]->menu()),
             (QStringList{"Help Topics||pic", "-", "Send Feedback|SendFeedback1Click|pic",
                          "Visit Homepage|VisitHomepage1Click|pic", "-", "About|About1Click|pic"}));
    // One image list of 14 pictures; the menus use its entries.
    QCOMPARE(form->ImageList1.size(), size_t(14));
    for (const QIcon& icon : form->ImageList1)
        QVERIFY(!icon.pixmap(16, 16).isNull());
    QCOMPARE(form->menuItem(QStringLiteral("Exit1"))->icon().cacheKey(), form->ImageList1[9].cacheKey());
    QCOMPARE(form->menuItem(QStringLiteral("About1"))->icon().cacheKey(), form->ImageList1[8].cacheKey());
}

void TestMainWindow::popupMenuBindsEveryItem()
{
    QStringList list = entries(form->PopupMenu1);
    QCOMPARE(list.size(), 9);
    list.removeLast(); // the submenu
    QCOMPARE(list, (QStringList{"Read Now!|BitBtn2Click|pic", "-", "Add a New Record|BitBtn1Click|pic",
                                "Modify This Record|BitBtn9Click|pic", "Delete This Record|BitBtn3Click|pic", "-",
                                "Add to Favorites|BitBtn7Click|pic", "-"}));
    const QMenu* sortBy = form->PopupMenu1->actions().last()->menu();
    QVERIFY(sortBy);
    QCOMPARE(plain(sortBy->title()), QStringLiteral("Sort by"));
    QCOMPARE(form->PopupMenu1->actions().last()->icon().cacheKey(), form->ImageList1[13].cacheKey());
    QCOMPARE(entries(sortBy),
             (QStringList{"Name|Name1Click|", "Country|Country1Click|", "State|State1Click|", "City|City1Click|",
                          "Category|Category1Click|", "Web Address|WebAddress1Click|"}));
}

void TestMainWindow::everyBoundControlRunsItsHandler()
{
    QSignalSpy runs(form.get(), &TForm1::commandRun);
    QList<QObject*> controls;
    for (QAction* action : form->findChildren<QAction*>())
        controls << action;
    for (QToolButton* button : form->findChildren<QToolButton*>())
        controls << button;
    int bound = 0;
    for (QObject* control : controls) {
        const QString handler = TForm1::handlerOf(control);
        if (handler.isEmpty() || handler == QLatin1String("Exit1Click"))
            continue;
        ++bound;
        runs.clear();
        t->boxes.answers.assign(4, MessageBoxes::Answer::Cancel); // no deletions
        whenModalOpens([](QWidget*) {});
        if (auto* action = qobject_cast<QAction*>(control))
            action->trigger();
        else
            static_cast<QToolButton*>(control)->click();
        QTRY_COMPARE_WITH_TIMEOUT(runs.count(), 1, 2000);
        QCOMPARE(runs.first().first().toString(), handler);
        QTRY_VERIFY(!QApplication::activeModalWidget());
    }
    QCOMPARE(bound, 33 - 1);                                // every bound menu item and button but Exit
    QVERIFY(form->menuItem(QStringLiteral("HelpTopics1"))); // inert
    QTest::mouseDClick(form->DBGrid1->viewport(), Qt::LeftButton, {}, QPoint(20, 10));
    QCOMPARE(runs.last().first().toString(), QStringLiteral("DBGrid1DblClick"));
}

void TestMainWindow::gridShowsColumnsInTheirColours()
{
    QStringList titles;
    QList<int> widths;
    for (int i = 0; i < form->DataSource1->columnCount(); ++i) {
        titles << form->DataSource1->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString();
        widths << form->DBGrid1->columnWidth(i);
        QCOMPARE(form->DataSource1->headerData(i, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>(),
                 Qt::Alignment(Qt::AlignCenter));
    }
    QCOMPARE(titles, (QStringList{"Newspaper Name", "Country", "State", "City", "Category", "Web Address"}));
    QCOMPARE(widths, (QList<int>{150, 80, 50, 90, 90, 188}));
    QCOMPARE(form->DBGrid1->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(form->DBGrid1->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);

    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    const QImage image = form->DBGrid1->grab().toImage();
    const QColor blueGrey(0xE7, 0xEB, 0xEF);
    const QColor cream(0xFF, 0xFF, 0xE6);
    const QColor expected[] = {blueGrey, cream, blueGrey, cream, blueGrey, cream};
    const int y = form->DBGrid1->viewport()->y() + form->DBGrid1->rowViewportPosition(3) + 2;
    for (int column = 0; column < 6; ++column) {
        // Just inside the cell's left edge, left of any text.
        const int x = form->DBGrid1->viewport()->x() + form->DBGrid1->columnViewportPosition(column) + 1;
        QCOMPARE(image.pixelColor(x, y), expected[column]);
        // The end of the cell too, so a wrong width shows.
        const int right = x + form->DBGrid1->columnWidth(column) - 4;
        QCOMPARE(image.pixelColor(right, y), expected[column]);
    }
    // Navy text on the cream columns: the Country cell holds dark blue pixels.
    const int top = form->DBGrid1->viewport()->y() + form->DBGrid1->rowViewportPosition(3);
    const int left = form->DBGrid1->viewport()->x() + form->DBGrid1->columnViewportPosition(1);
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
    form->DBGrid1->setFocus();
    QTest::keyClick(form->DBGrid1, Qt::Key_Down);
    QTest::keyClick(form->DBGrid1, Qt::Key_Down);
    QCOMPARE(form->Table1->currentRow(), 2);
    QCOMPARE(form->Table1->fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("Paper 003"));
    QVERIFY(form->Table1->locate(QStringLiteral("Name"), QStringLiteral("Paper 039")));
    QCOMPARE(form->DBGrid1->currentIndex().row(), 38);
    const QRect cell = form->DBGrid1->visualRect(form->DBGrid1->currentIndex());
    QVERIFY(form->DBGrid1->viewport()->rect().contains(cell)); // scrolled to it
    form->Table1->first();
    QCOMPARE(form->DBGrid1->currentIndex().row(), 0);
}

void TestMainWindow::helpCommandsHandOverExactTexts()
{
    form->menuItem(QStringLiteral("SendFeedback1"))->trigger();
    form->menuItem(QStringLiteral("VisitHomepage1"))->trigger();
    QCOMPARE(t->shell.opened.size(), size_t(2));
    const QString mail = t->shell.opened[0];
    QVERIFY(mail.startsWith(QStringLiteral("mailto:")));
    QVERIFY(mail.endsWith(QStringLiteral("@kestrove.example.com?subject=Kestrove_Online_Newspaper_Feedback")));
    QVERIFY(!mail.contains(QLatin1Char(' ')));
    QCOMPARE(t->shell.opened[1], QStringLiteral("https://kestrove.example.com/"));

    form->menuItem(QStringLiteral("About1"))->trigger();
    QCOMPARE(t->boxes.shown.size(), size_t(1));
    const FakeMessageBoxes::Shown& about = t->boxes.shown[0];
    QCOMPARE(about.caption, QStringLiteral("About Kestrove Online Newspaper"));
    QVERIFY(about.style == MessageBoxes::Style::Plain);
    const QStringList lines = about.text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], form->windowTitle());
    QCOMPARE(lines[1], QString());
    QVERIFY(!about.text.contains(QLatin1Char('\r')));
}

void TestMainWindow::exitClosesWithoutAQuestion()
{
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    form->menuItem(QStringLiteral("Exit1"))->trigger();
    QVERIFY(!form->isVisible());
    QVERIFY(t->boxes.shown.empty());
}

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
