// The main window from the keyboard and through a screen reader: every command within
// reach of keys, the pop-up menu at the current row, the clipboard, where the keyboard
// stands in the grid, names that come from labels, and names in right-to-left scripts.
// The last test is a whole session without the mouse.

#include "LinkTestServer.h"
#include "TestSupport.h"

#include "datatool/merge/Merge.h"
#include "dialogs/RecordDialog.h"
#include "directory/Table.h"
#include "grid/DirectoryGrid.h"
#include "help/HelpWindow.h"
#include "mainwindow/MainWindow.h"
#include "tools/LinkCheckWindow.h"
#include "tools/MergeReportDialog.h"

#include <QAccessible>
#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>

namespace {

const QString Hebrew = QStringLiteral("\u05d4\u05d0\u05e8\u05e5"); // a newspaper's name in Hebrew

QString spoken(QObject* object, QAccessible::Text text = QAccessible::Name)
{
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(object);
    return node ? node->text(text) : QStringLiteral("<none>");
}

// The buttons of a window without a name or a description, as a screen reader finds them.
void undescribedButtons(QAccessibleInterface* node, QStringList& found)
{
    const QAccessible::Role role = node->role();
    if ((role == QAccessible::Button || role == QAccessible::ButtonMenu) && node->state().invisible == false &&
        (node->text(QAccessible::Name).isEmpty() || node->text(QAccessible::Description).isEmpty()))
        found << (node->object() ? node->object()->objectName() : QStringLiteral("?"));
    if (role == QAccessible::Table)
        return;
    for (int i = 0; i < node->childCount(); ++i) {
        if (QAccessibleInterface* child = node->child(i))
            undescribedButtons(child, found);
    }
}

// The leftmost and rightmost columns of text in a rectangle of an image: of the pixels
// far lighter or darker than its top-left corner, its background.
std::pair<int, int> inkColumns(const QImage& image, const QRect& area)
{
    const int background = qGray(image.pixel(area.topLeft()));
    int left = area.right() + 1;
    int right = area.left() - 1;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (std::abs(qGray(image.pixel(x, y)) - background) > 80) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    return {left, right};
}

// Opens a main menu with Alt and its letter, then chooses an item by its letter.
void menuKeys(MainWindow& form, Qt::Key menu, Qt::Key item)
{
    QTest::keyClick(&form, menu, Qt::AltModifier);
    QTRY_VERIFY(QApplication::activePopupWidget());
    QTest::keyClick(QApplication::activePopupWidget(), item);
    QTRY_VERIFY(!QApplication::activePopupWidget());
}

} // namespace

class TestKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void screenReadersHearLabelsAndDescriptions();
    void popupMenuOpensAtTheCurrentRowAndCopies();
    void focusShowsOnTheGridsCurrentRowAndOnButtons();
    void rightToLeftNamesAreLaidOutRightToLeft();
    void keyboardOnlySession();

private:
    void showWindow(const std::vector<Row>& rows);
    std::unique_ptr<TestPlatform> t;
    std::unique_ptr<MainWindow> form;
};

void TestKeyboard::init()
{
    t = std::make_unique<TestPlatform>();
}

void TestKeyboard::cleanup()
{
    form.reset();
    t.reset();
}

void TestKeyboard::showWindow(const std::vector<Row>& rows)
{
    t->folder.makeTable(rows);
    form = openWindow(t->platform);
    form->show();
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
}

void TestKeyboard::screenReadersHearLabelsAndDescriptions()
{
    showWindow({{1, "Alpha Post", "https://alpha.example.com/", "Peru", "", "", ""},
                {2, "Beta Times", "https://beta.example.com/", "Peru", "", "", ""}});
    // Each box by its label, its text as its value.
    QCOMPARE(spoken(countryBox(*form)), QStringLiteral("Country"));
    QCOMPARE(spoken(countryBox(*form), QAccessible::Value), QStringLiteral("All"));
    QCOMPARE(spoken(categoryBox(*form)), QStringLiteral("Category"));
    QCOMPARE(spoken(favouritesBox(*form)), QStringLiteral("My Favorites"));
    QCOMPARE(spoken(historyBox(*form)), QStringLiteral("Visit History"));
    QCOMPARE(spoken(nameEdit(*form)), QStringLiteral("Name"));
    RecordDialog dialog(*form, RecordDialog::Mode::Add);
    dialog.show();
    QCOMPARE(spoken(countryBox(dialog)), QStringLiteral("Country"));
    QCOMPARE(spoken(countryBox(dialog), QAccessible::Value), QStringLiteral("United States"));

    // Every button, in every window, has a name and a description.
    links::TableCheck check;
    check.records.push_back({{1, {QByteArray("Alpha Post"), QByteArray("https://alpha.example.com/")}},
                             links::LinkResult{links::Verdict::Moved, 200, "https://alpha.example.org/", "301"}});
    LinkCheckWindow linkCheck(t->platform, t->folder.tablePath(), check, form.get());
    linkCheck.show();
    merge::Result result;
    result.changes.push_back({merge::Action::Added, 3, {QStringLiteral("Gamma")}, QString(), QString()});
    MergeReportDialog report(result, QStringLiteral("newer.csv"), QString(), form.get());
    report.show();
    QStringList undescribed;
    for (QWidget* window : {static_cast<QWidget*>(form.get()), static_cast<QWidget*>(&dialog),
                            static_cast<QWidget*>(&linkCheck), static_cast<QWidget*>(&report)})
        undescribedButtons(QAccessible::queryAccessibleInterface(window), undescribed);
    QCOMPARE(undescribed, QStringList());

    // The delete question names, to a screen reader, the newspaper it deletes; its text stays.
    t->boxes.answers = {MessageBoxes::Answer::Cancel};
    form->deleteRecord();
    QCOMPARE(t->boxes.shown.back().text, QStringLiteral("Are you sure you want to delete this record?"));
    QCOMPARE(t->boxes.shown.back().description, QStringLiteral("The newspaper to delete: Alpha Post"));
}

void TestKeyboard::popupMenuOpensAtTheCurrentRowAndCopies()
{
    showWindow({{1, "Alpha Post", "https://alpha.example.com/", "Peru", "", "", ""},
                {2, "Beta Times", "https://beta.example.com/", "Peru", "", "", ""},
                {3, "Blank", "", "Peru", "", "", ""}});
    DirectoryGrid* view = grid(*form);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Down);
    const QRect row = view->visualRect(view->currentIndex());
    const QPoint below = view->viewport()->mapToGlobal(QPoint(0, row.bottom() + 1));
    for (const auto& [key, modifiers] : {std::pair<Qt::Key, Qt::KeyboardModifiers>{Qt::Key_F10, Qt::ShiftModifier},
                                         std::pair<Qt::Key, Qt::KeyboardModifiers>{Qt::Key_Menu, Qt::NoModifier}}) {
        QTest::keyClick(view, key, modifiers);
        QTRY_VERIFY(popupMenu(*form)->isVisible());
        QCOMPARE(popupMenu(*form)->pos(), below);
        QTest::keyClick(popupMenu(*form), Qt::Key_Escape);
        QTRY_VERIFY(!popupMenu(*form)->isVisible());
    }

    // Ctrl+C and the pop-up menu's item copy the current newspaper's address.
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("https://beta.example.com/"));
    QTest::keyClick(view, Qt::Key_Up);
    menuItem(*form, "popupCopyWebAddressAction")->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("https://alpha.example.com/"));
    // A newspaper without an address copies nothing and says so, as Read Now does.
    QVERIFY(form->table().locate(Field::Name, QStringLiteral("Blank")));
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("https://alpha.example.com/"));
    QCOMPARE(t->boxes.errors(), QStringList{"Invalid variant type conversion."});
}

void TestKeyboard::focusShowsOnTheGridsCurrentRowAndOnButtons()
{
    showWindow({{1, "Alpha Post", "https://alpha.example.com/", "Peru", "", "", ""},
                {2, "Beta Times", "https://beta.example.com/", "Peru", "", "", ""}});
    DirectoryGrid* view = grid(*form);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Down);
    // The current row's top edge, inside the row, across the Country cell where no text reaches.
    const QRect cell = view->visualRect(view->currentIndex().siblingAtColumn(1));
    auto edgeColours = [&] {
        const QImage image = view->viewport()->grab().toImage();
        QSet<QRgb> colours;
        for (int x = cell.left() + 2; x < cell.right() - 2; ++x)
            colours.insert(image.pixel(x, cell.top() + 1));
        return colours;
    };
    const QSet<QRgb> focused = edgeColours();
    nameEdit(*form)->setFocus();
    QTRY_VERIFY(!view->hasFocus());
    const QSet<QRgb> unfocused = edgeColours();
    QCOMPARE(unfocused.size(), 1); // the row's highlight alone
    QVERIFY2(focused.size() >= 2 && focused != unfocused, "no focus frame on the current row");

    // A picture button reached with Tab shows it has the focus.
    const QImage plain = searchButton(*form)->grab().toImage();
    webEdit(*form)->setFocus();
    QTest::keyClick(webEdit(*form), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), searchButton(*form));
    QVERIFY2(searchButton(*form)->grab().toImage() != plain, "no focus frame on the Search button");
}

void TestKeyboard::rightToLeftNamesAreLaidOutRightToLeft()
{
    t->folder.writeFile(QStringLiteral("favorites.txt"), Hebrew.toUtf8() + "\r\n");
    showWindow({{1, Hebrew, "https://www.haaretz.co.il/", "Israel", "", "", ""},
                {2, "Alpha Post", "https://alpha.example.com/", "Peru", "", "", ""}});
    DirectoryGrid* view = grid(*form);
    nameEdit(*form)->setFocus(); // no focus frame in the way
    const QImage image = view->viewport()->grab().toImage();
    for (int row = 0; row < 2; ++row) {
        const QRect cell = view->visualRect(gridModel(*form)->index(row, 0)).adjusted(2, 2, -2, -2);
        const bool rightToLeft = form->table().displayText(row, Field::Name) == Hebrew;
        const auto [left, right] = inkColumns(image, cell);
        QVERIFY2(left <= right, "no text drawn");
        if (rightToLeft)
            QVERIFY2(left > cell.center().x() && right >= cell.right() - 6, qPrintable(QString::number(left)));
        else
            QVERIFY2(right < cell.center().x() && left <= cell.left() + 6, qPrintable(QString::number(right)));
    }

    // The favourites box shows its entry from the right, in the box and in its list.
    QComboBox* box = favouritesBox(*form);
    box->setCurrentIndex(0);
    const QImage shown = box->grab().toImage();
    const int field = box->width() - 20; // left of the arrow
    const auto [left, right] = inkColumns(shown, QRect(3, 4, field - 3, box->height() - 8));
    QVERIFY2(left > field / 2, qPrintable(QString::number(left)));
    box->showPopup();
    QTRY_VERIFY(box->view()->isVisible());
    const QRect item = box->view()->visualRect(box->model()->index(0, 0)).adjusted(2, 2, -2, -2);
    const auto [itemLeft, itemRight] = inkColumns(box->view()->viewport()->grab().toImage(), item);
    QVERIFY2(itemLeft > item.center().x() && itemRight > itemLeft, qPrintable(QString::number(itemLeft)));
    box->hidePopup();
}

void TestKeyboard::keyboardOnlySession()
{
    TestServer server;
    QVERIFY(server.listening);
    showWindow({{1, "Alpha Gazette", server.url("/ok"), "Peru", "", "", ""},
                {2, "Beta Herald", server.url("/moved"), "Peru", "", "", ""}});
    t->folder.writeFile(QStringLiteral("more.csv"), "Name,Url,Country,State,City,Category\nGamma Gazette," +
                                                        server.url("/ok").toUtf8() + "?paper=gamma,Chile,,,\n");
    DirectoryGrid* view = grid(*form);
    QCOMPARE(QApplication::focusWidget(), view);

    // Alt+F, I: import a CSV file (the file dialog answers; Enter closes the summary).
    t->files.answers = {t->folder.path(QStringLiteral("more.csv"))};
    menuKeys(*form, Qt::Key_F, Qt::Key_I);
    QCOMPARE(form->table().recordCount(), 3);

    // Ctrl+F, type, Tab to the Search button past the other criteria, Space: search.
    QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Gamma"));
    for (int i = 0; i < 6; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), searchButton(*form));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QCOMPARE(form->table().recordCount(), 1);

    // Back to the grid (Shift+Tab from the Name box), Enter: read it.
    QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), view);
    QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(t->shell.opened, std::vector<QString>{server.url("/ok?paper=gamma")});
    QCOMPARE(historyBox(*form)->count(), 1);

    // Shift+F10, C: copy its address; Alt+F, F: add it to the favourites.
    QTest::keyClick(view, Qt::Key_F10, Qt::ShiftModifier);
    QTRY_VERIFY(popupMenu(*form)->isVisible());
    QTest::keyClick(popupMenu(*form), Qt::Key_C);
    QCOMPARE(QGuiApplication::clipboard()->text(), server.url("/ok?paper=gamma"));
    menuKeys(*form, Qt::Key_F, Qt::Key_F);
    QCOMPARE(favouritesBox(*form)->count(), 1);

    // Tab to My Favorites, Down to pick the entry, Alt+F, V: delete it (Enter confirms).
    for (int tabs = 0; tabs < 20 && QApplication::focusWidget() != favouritesBox(*form); ++tabs)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), favouritesBox(*form));
    QTest::keyClick(favouritesBox(*form), Qt::Key_Down);
    menuKeys(*form, Qt::Key_F, Qt::Key_V);
    QCOMPARE(favouritesBox(*form)->count(), 0);
    QCOMPARE(t->boxes.shown.back().caption, QStringLiteral("Confirmation"));

    // Alt+F, C: clear the history (Enter confirms).
    menuKeys(*form, Qt::Key_F, Qt::Key_C);
    QCOMPARE(historyBox(*form)->count(), 0);

    // F4: show all; Alt+F, W: check the addresses (Enter confirms). In the list that
    // follows, Alt+A applies every new address and Esc closes it.
    QTest::keyClick(form.get(), Qt::Key_F4);
    QStringList listed;
    whenModalOpens([&](QWidget* modal) {
        listed = static_cast<LinkCheckWindow*>(modal)->rows();
        // Keys go to the active window. The offscreen platform may still hold the closing
        // File menu active when the list opens (a desktop activates the new window).
        modal->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), modal);
        QTest::keyClick(modal, Qt::Key_A, Qt::AltModifier); // the button presses itself a moment later
        QTRY_COMPARE(t->boxes.shown.back().text, QStringLiteral("Changed the web address of 1 newspaper."));
        QTest::keyClick(control<QTableWidget>(*modal, "checkList"), Qt::Key_Escape);
        QVERIFY(!modal->isVisible());
    });
    menuKeys(*form, Qt::Key_F, Qt::Key_W);
    QCOMPARE(listed, QStringList{"Beta Herald|moved"});
    QCOMPARE(queryValue(t->folder.tablePath(), "SELECT Url FROM newspapers WHERE No = 2"), server.url("/ok"));
    QCOMPARE(t->boxes.shown.back().text, QStringLiteral("Changed the web address of 1 newspaper."));
    QCOMPARE(t->boxes.errors(), QStringList());

    // F1: the guide. (The desktop makes the main window active again once the list is
    // closed; the offscreen one needs telling.)
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(form.get(), Qt::Key_F1);
    QTRY_VERIFY(form->findChild<HelpWindow*>() && form->findChild<HelpWindow*>()->isVisible());
}

QTEST_MAIN(TestKeyboard)
#include "test_keyboard.moc"
