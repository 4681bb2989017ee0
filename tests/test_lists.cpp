// Read Now, the visit history and the favourites, through the window (the list files
// and the address rule themselves are in test_listfiles).

#include "TestSupport.h"

#include "directory/Table.h"
#include "errors/AppError.h"
#include "grid/DirectoryGrid.h"
#include "lists/NameListFile.h"
#include "lists/WebAddress.h"
#include "mainwindow/MainWindow.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QToolButton>
#include <QtTest>
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <thread>

namespace {

const std::vector<Row> Papers = {
    {1, "Alpha Post", "https://alpha.example.com/", "Canada", "", "", ""},
    {2, "Beta Times", "www.beta.example.com/news", "Canada", "", "", ""},
    {3, "Gamma Daily", "https://gamma.example.com/", "France", "", "", ""},
    {4, "No Address", "", "Canada", "", "", ""},
    {5, "", "https://nameless.example.com/", "Canada", "", "", ""},
    {6, "Local File", "file:///etc/passwd", "Canada", "", "", ""},
};

QStringList entries(const QComboBox* box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

} // namespace

class TestLists : public QObject
{
    Q_OBJECT

private slots:

    void init();
    void cleanup();
    void readNowOpensAndRecordsFromEveryTrigger();
    void readNowRefusesBlankAndUnsafeAddresses();
    void failedOpenIsReportedAndNotRecorded();
    void historyKeepsEveryVisitNewestFirst();
    void historyGoLocatesExactlyWithinFilter();
    void clearHistoryEmptiesFileAndKeepsTypedText();
    void favoritesAddGoAndDelete();
    void favoritesDeleteCreatesMissingFileAndKeepsOthersBytes();
    void everyByteOfAListSurvivesARewrite();
    void simultaneousChangesAreAllKept();
    void listFailuresLeaveFilesAndBoxes();
    void longHistoryStillRecords();

private:
    void reopen()
    {
        form.reset();
        form = openWindow(t->platform);
    }
    std::unique_ptr<TestPlatform> t;
    std::unique_ptr<MainWindow> form;
    void select(const QString& name) { QVERIFY(form->table().locate(Field::Name, name)); }
};

void TestLists::init()
{
    t = std::make_unique<TestPlatform>();
    t->folder.makeTable(Papers);
    form = openWindow(t->platform);
}

void TestLists::cleanup()
{
    form.reset();
    t.reset();
}

void TestLists::readNowOpensAndRecordsFromEveryTrigger()
{
    select(QStringLiteral("Alpha Post"));
    QTest::mouseClick(readNowButton(*form), Qt::LeftButton);
    menuItem(*form, "readNowAction")->trigger();
    menuItem(*form, "popupReadNowAction")->trigger();
    select(QStringLiteral("Beta Times"));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    const QRect cell = grid(*form)->visualRect(grid(*form)->currentIndex());
    QTest::mouseDClick(grid(*form)->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(t->shell.opened,
             (std::vector<QString>{"https://alpha.example.com/", "https://alpha.example.com/",
                                   "https://alpha.example.com/", "https://www.beta.example.com/news"}));
    QCOMPARE(t->folder.readFile(QStringLiteral("history.txt")),
             QByteArray("Alpha Post\r\nAlpha Post\r\nAlpha Post\r\nBeta Times\r\n"));
    QCOMPARE(entries(historyBox(*form)).first(), QStringLiteral("Beta Times"));
    QVERIFY(t->boxes.shown.empty());
}

void TestLists::readNowRefusesBlankAndUnsafeAddresses()
{
    select(QStringLiteral("No Address"));
    form->readNow();
    select(QStringLiteral("Local File"));
    form->readNow();
    QVERIFY(t->shell.opened.empty());
    QVERIFY(!t->folder.exists(QStringLiteral("history.txt")));
    QCOMPARE(t->boxes.errors().size(), 2);
    QCOMPARE(t->boxes.errors()[0], QStringLiteral("Invalid variant type conversion."));
    QVERIFY2(t->boxes.errors()[1].contains(QStringLiteral("\"file:///etc/passwd\" is not a web address")),
             qPrintable(t->boxes.errors()[1]));

    // A blank name: the address opens, the history stays as it was.
    form->table().setOrder(Field::No);
    form->table().last();
    form->table().moveTo(4);
    QCOMPARE(form->table().field(Field::No).asInteger(), 5);
    form->readNow();
    QCOMPARE(t->shell.opened, std::vector<QString>{"https://nameless.example.com/"});
    QCOMPARE(t->boxes.errors().last(), QStringLiteral("Invalid variant type conversion."));
    QVERIFY(!t->folder.exists(QStringLiteral("history.txt")));

    // An empty grid.
    nameEdit(*form)->setText(QStringLiteral("nothing like this"));
    form->search();
    form->readNow();
    QCOMPARE(t->boxes.errors().size(), 4);
    QCOMPARE(t->shell.opened.size(), size_t(1));
}

void TestLists::failedOpenIsReportedAndNotRecorded()
{
    t->shell.accepts = false; // no browser, or an address the opener cannot take
    select(QStringLiteral("Alpha Post"));
    form->readNow();
    QCOMPARE(t->shell.opened, std::vector<QString>{"https://alpha.example.com/"});
    QCOMPARE(t->boxes.errors().size(), 1);
    QVERIFY2(t->boxes.errors()[0].startsWith(QStringLiteral("\"https://alpha.example.com/\" could not be opened")),
             qPrintable(t->boxes.errors()[0]));
    QVERIFY(!t->folder.exists(QStringLiteral("history.txt")));
    QCOMPARE(historyBox(*form)->count(), 0);

    // A huge address is named, but not in full.
    const QString huge = QStringLiteral("https://huge.example.com/") + QString(1 << 20, QLatin1Char('x'));
    insertRows(t->folder.tablePath(), {{7, "Huge", huge, "", "", "", ""}});
    form->table().refresh();
    select(QStringLiteral("Huge"));
    form->readNow();
    QCOMPARE(t->boxes.errors().size(), 2);
    QVERIFY(t->boxes.errors()[1].startsWith(QStringLiteral("\"https://huge.example.com/xxx")));
    QVERIFY(t->boxes.errors()[1].size() < 400);
    QVERIFY(!t->folder.exists(QStringLiteral("history.txt")));
}

void TestLists::historyKeepsEveryVisitNewestFirst()
{
    for (const char* name : {"Alpha Post", "Beta Times", "Alpha Post"}) {
        select(QString::fromLatin1(name));
        form->readNow();
    }
    QCOMPARE(t->folder.readFile(QStringLiteral("history.txt")),
             QByteArray("Alpha Post\r\nBeta Times\r\nAlpha Post\r\n"));
    QCOMPARE(entries(historyBox(*form)), (QStringList{"Alpha Post", "Beta Times", "Alpha Post"}));
    QCOMPARE(historyBox(*form)->currentText(), QString()); // the box's own text is never set
}

void TestLists::historyGoLocatesExactlyWithinFilter()
{
    t->folder.writeFile(QStringLiteral("history.txt"), "Gamma Daily\r\n");
    reopen(); // the window reads the lists as it opens
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    historyBox(*form)->setCurrentIndex(0);
    QTest::mouseClick(goToVisitedButton(*form), Qt::LeftButton);
    QCOMPARE(grid(*form)->currentIndex().row(), form->table().currentRow());
    QCOMPARE(form->table().field(Field::Name).asString(), QStringLiteral("Gamma Daily"));
    QCOMPARE(t->shell.opened, std::vector<QString>{"https://gamma.example.com/"});
    QCOMPARE(entries(historyBox(*form)), (QStringList{"Gamma Daily", "Gamma Daily"}));

    // Typed text: exact, letter case included; hidden records are not found.
    historyBox(*form)->setEditText(QStringLiteral("beta times"));
    form->goToVisited();
    historyBox(*form)->setEditText(QStringLiteral("Beta"));
    form->goToVisited();
    countryBox(*form)->setEditText(QStringLiteral("France"));
    form->search();
    historyBox(*form)->setEditText(QStringLiteral("Beta Times"));
    form->goToVisited();
    historyBox(*form)->setEditText(QString());
    form->goToVisited();
    QCOMPARE(t->shell.opened.size(), size_t(1));
    QVERIFY(t->boxes.shown.empty());
    form->showAll();
    historyBox(*form)->setEditText(QStringLiteral("Beta Times"));
    historyBox(*form)->setFocus();
    QTest::keyClick(historyBox(*form), Qt::Key_Return); // Enter in the box is Go
    QCOMPARE(t->shell.opened.back(), QStringLiteral("https://www.beta.example.com/news"));
}

void TestLists::clearHistoryEmptiesFileAndKeepsTypedText()
{
    select(QStringLiteral("Alpha Post"));
    form->readNow();
    historyBox(*form)->setEditText(QStringLiteral("Gamma Daily"));
    t->boxes.answers = {MessageBoxes::Answer::Cancel};
    form->clearHistory();
    QCOMPARE(historyBox(*form)->count(), 1);
    QCOMPARE(t->boxes.shown.back().text, QStringLiteral("Are you sure you want to delete all history records?"));
    QCOMPARE(t->boxes.shown.back().caption, QStringLiteral("Confirmation"));
    QVERIFY(t->boxes.shown.back().style == MessageBoxes::Style::Confirmation);
    form->clearHistory();
    QCOMPARE(historyBox(*form)->count(), 0);
    QCOMPARE(historyBox(*form)->currentText(), QStringLiteral("Gamma Daily"));
    QCOMPARE(t->folder.readFile(QStringLiteral("history.txt")), QByteArray());
    form->goToVisited(); // Go with the text left in the box
    QCOMPARE(t->folder.readFile(QStringLiteral("history.txt")), QByteArray("Gamma Daily\r\n"));

    QFile::remove(t->folder.path(QStringLiteral("history.txt")));
    form->clearHistory();
    QVERIFY(!t->folder.exists(QStringLiteral("history.txt")));
    QCOMPARE(historyBox(*form)->count(), 0);
}

void TestLists::favoritesAddGoAndDelete()
{
    select(QStringLiteral("Beta Times"));
    menuItem(*form, "addToFavouritesAction")->trigger();
    QCOMPARE(t->folder.readFile(QStringLiteral("favorites.txt")), QByteArray("Beta Times\r\n"));
    select(QStringLiteral("Alpha Post"));
    menuItem(*form, "popupAddToFavouritesAction")->trigger();
    select(QStringLiteral("Beta Times"));
    form->addToFavourites();
    QCOMPARE(entries(favouritesBox(*form)), (QStringList{"Beta Times", "Alpha Post", "Beta Times"}));
    QCOMPARE(favouritesBox(*form)->currentIndex(), -1);

    // Nothing picked: Go and Delete do nothing, not even ask.
    form->goToFavourite();
    form->deleteFavourite();
    QVERIFY(t->boxes.shown.empty());
    QVERIFY(t->shell.opened.empty());

    favouritesBox(*form)->setCurrentIndex(1);
    form->goToFavourite();
    QCOMPARE(form->table().field(Field::Name).asString(), QStringLiteral("Alpha Post"));
    QCOMPARE(t->shell.opened, std::vector<QString>{"https://alpha.example.com/"});
    QCOMPARE(entries(historyBox(*form)).first(), QStringLiteral("Alpha Post"));

    favouritesBox(*form)->setCurrentIndex(0);
    t->boxes.answers = {MessageBoxes::Answer::Cancel};
    form->deleteFavourite();
    QCOMPARE(favouritesBox(*form)->count(), 3);
    form->deleteFavourite(); // OK: both equal lines go
    QCOMPARE(t->folder.readFile(QStringLiteral("favorites.txt")), QByteArray("Alpha Post\r\n"));
    QCOMPARE(entries(favouritesBox(*form)), QStringList{"Alpha Post"});
    QCOMPARE(favouritesBox(*form)->currentIndex(), -1);
    favouritesBox(*form)->setCurrentIndex(0);
    form->deleteFavourite();
    QCOMPARE(t->folder.readFile(QStringLiteral("favorites.txt")), QByteArray()); // 0 bytes
    QCOMPARE(favouritesBox(*form)->count(), 0);
}

void TestLists::favoritesDeleteCreatesMissingFileAndKeepsOthersBytes()
{
    t->folder.writeFile(QStringLiteral("favorites.txt"), "Caf\xe9\r\n\r\nBeta Times\r\nbeta times\r\n");
    reopen(); // the window reads the lists as it opens
    QCOMPARE(entries(favouritesBox(*form)), (QStringList{"Café", "", "Beta Times", "beta times"}));
    favouritesBox(*form)->setCurrentIndex(1); // the empty line: nothing happens
    form->deleteFavourite();
    form->goToFavourite();
    QVERIFY(t->boxes.shown.empty());
    favouritesBox(*form)->setCurrentIndex(2);
    form->deleteFavourite();
    QCOMPARE(t->folder.readFile(QStringLiteral("favorites.txt")), QByteArray("Caf\xe9\r\n\r\nbeta times\r\n"));

    // Another copy of the program adds a line: the next change here keeps it.
    t->folder.writeFile(QStringLiteral("favorites.txt"), "Caf\xe9\r\nFrom elsewhere\r\n");
    select(QStringLiteral("Gamma Daily"));
    form->addToFavourites();
    QCOMPARE(t->folder.readFile(QStringLiteral("favorites.txt")),
             QByteArray("Caf\xe9\r\nFrom elsewhere\r\nGamma Daily\r\n"));

    // The file removed while the program runs: Delete writes an empty one.
    favouritesBox(*form)->setCurrentIndex(0);
    QFile::remove(t->folder.path(QStringLiteral("favorites.txt")));
    form->deleteFavourite();
    QCOMPARE(t->folder.readFile(QStringLiteral("favorites.txt")), QByteArray());
    QCOMPARE(favouritesBox(*form)->count(), 0);
}

void TestLists::everyByteOfAListSurvivesARewrite()
{
    const QByteArray nul(1, '\0');
    const QByteArray old = "Fav Be" + nul +
                           "ta\r\nGamma Daily\r\n\x01"
                           "Bell\r\n";
    t->folder.writeFile(QStringLiteral("favorites.txt"), old);
    reopen(); // the window reads the lists as it opens
    QCOMPARE(entries(favouritesBox(*form)), (QStringList{QStringLiteral("Fav Be\uFFFDta"),
                                                         QStringLiteral("Gamma Daily"), QStringLiteral("\uFFFDBell")}));
    select(QStringLiteral("Beta Times"));
    form->addToFavourites();
    QCOMPARE(t->folder.readFile(QStringLiteral("favorites.txt")), old + "Beta Times\r\n");
    favouritesBox(*form)->setCurrentIndex(1);
    form->deleteFavourite();
    QCOMPARE(t->folder.readFile(QStringLiteral("favorites.txt")), "Fav Be" + nul +
                                                                      "ta\r\n\x01"
                                                                      "Bell\r\nBeta Times\r\n");
}

void TestLists::simultaneousChangesAreAllKept()
{
    // Two copies of the program adding favourites at the same moment.
    TempProgramFolder folder;
    const NameListFile list(folder.path(QStringLiteral("favorites.txt")));
    auto add = [&](const QByteArray& who) {
        for (int i = 0; i < 100; ++i)
            list.change([&](QList<QByteArray>& lines) { lines.append(who + QByteArray::number(i)); });
    };
    std::thread first(add, QByteArray("first "));
    std::thread second(add, QByteArray("second "));
    first.join();
    second.join();
    QCOMPARE(list.read().size(), 200);
}

void TestLists::listFailuresLeaveFilesAndBoxes()
{
    // The history cannot be read: the address is opened, nothing is written.
    QDir().mkpath(t->folder.path(QStringLiteral("history.txt")));
    select(QStringLiteral("Alpha Post"));
    form->readNow();
    QCOMPARE(t->shell.opened.size(), size_t(1));
    QCOMPARE(t->boxes.errors(),
             QStringList{QStringLiteral("Cannot open file %1.").arg(t->folder.path(QStringLiteral("history.txt")))});
    QDir(t->folder.path(QStringLiteral("history.txt"))).removeRecursively();

    // A full disk: the old favourites stay, and so do the box's entries.
    QByteArray old;
    for (int i = 0; i < 200; ++i)
        old += "Favourite " + QByteArray::number(i) + "\r\n";
    t->folder.writeFile(QStringLiteral("favorites.txt"), old);
    reopen(); // the window reads the lists as it opens
    select(QStringLiteral("Alpha Post"));
    {
        const FileSizeLimit limit(static_cast<rlim_t>(old.size()));
        form->addToFavourites();
    }
    QCOMPARE(t->boxes.errors().last(),
             QStringLiteral("Cannot create file %1.").arg(t->folder.path(QStringLiteral("favorites.txt"))));
    QCOMPARE(t->folder.readFile(QStringLiteral("favorites.txt")), old);
    QCOMPARE(favouritesBox(*form)->count(), 200);
}

void TestLists::longHistoryStillRecords()
{
    QByteArray history;
    for (int i = 0; i < 100000; ++i)
        history += "Visited newspaper " + QByteArray::number(i) + "\r\n";
    t->folder.writeFile(QStringLiteral("history.txt"), history);
    reopen(); // the window reads the lists as it opens
    QCOMPARE(historyBox(*form)->count(), 100000);
    select(QStringLiteral("Gamma Daily"));
    form->readNow();
    QCOMPARE(historyBox(*form)->count(), 100001);
    QCOMPARE(historyBox(*form)->itemText(0), QStringLiteral("Gamma Daily"));
    QCOMPARE(historyBox(*form)->itemText(100000), QStringLiteral("Visited newspaper 0"));
    QCOMPARE(t->folder.readFile(QStringLiteral("history.txt")), history + "Gamma Daily\r\n");
}

QTEST_MAIN(TestLists)
#include "test_lists.moc"
