// The record commands and the reading lists, driven without any window: what the
// main window's handlers and the record dialog's button decide lives here, with the
// record numbers and the letter case folding the search relies on.

#include "CoreTestSupport.h"

#include "directory/CaseFold.h"
#include "directory/Table.h"
#include "errors/AppError.h"
#include "lists/ReadingLists.h"
#include "records/RecordCommands.h"

#include <QtTest>

namespace {

const std::vector<Row> Papers = {
    {3, "Le Devoir", "www.ledevoir.com", "Canada", "QC", "Montreal", "Politics"},
    {8, "", "mailto:news@example.com", "Canada", "", "", ""},
};

RecordTexts texts(const QString& name, const QString& category = QString())
{
    return {name, QStringLiteral("https://x.example.com/"), QStringLiteral("Canada"), QString(), QString(), category};
}

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void recordCommandsFollowTheDialogRules();
    void numbersRunUpToTheLastOne();
    void readingListsChangeOnlyTheirFiles();
    void listEntriesStayOneLine();
    void searchFoldsEveryAsciiLetterAnywhere();
};

void TestCommands::recordCommandsFollowTheDialogRules()
{
    TempProgramFolder folder;
    folder.makeTable(Papers);
    Table table;
    table.setFileName(folder.tablePath());
    table.open();
    qint32 lastNo = 8;
    QVERIFY(!RecordCommands::add(table, texts(QString()), lastNo)); // no name: nothing at all
    QCOMPARE(lastNo, 8);
    QVERIFY(RecordCommands::add(table, texts(QStringLiteral(" ")), lastNo)); // blanks are a name
    QCOMPARE(lastNo, 9);
    QCOMPARE(table.recordCount(), 3); // refreshed

    QVERIFY(table.locate(Field::Name, QStringLiteral("Le Devoir")));
    const RecordTexts shown = {"Le Devoir", "www.ledevoir.com", "Canada", "QC", "Montreal", "Politics"};
    RecordCommands::modify(table, shown, texts(QString()));
    QCOMPARE(queryValue(folder.tablePath(), "SELECT Name || '|' || Url || '|' || ifnull(State, 'blank') || '|' || "
                                            "ifnull(Category, 'blank') FROM newspapers WHERE No = 3"),
             QStringLiteral("Le Devoir|https://x.example.com/|blank|blank"));
    QVERIFY(!table.controlsDisabled());

    // Not confirmed: nothing is deleted, but the table is read again all the same.
    insertRows(folder.tablePath(), {{20, "From another copy", "", "", "", "", ""}});
    RecordCommands::remove(table, false);
    QCOMPARE(table.recordCount(), 4);
    RecordCommands::remove(table, true);
    QCOMPARE(table.recordCount(), 3);
    QCOMPARE(queryValue(folder.tablePath(), "SELECT count(*) FROM newspapers WHERE No = 3"), QStringLiteral("0"));

    // With no current record the edit is refused and the grid follows the table again.
    TempProgramFolder empty;
    empty.makeTable();
    table.close();
    table.setFileName(empty.tablePath());
    table.open();
    QVERIFY_THROWS_EXCEPTION(EngineError,
                             RecordCommands::modify(table, RecordTexts{}, texts(QStringLiteral("Nobody"))));
    QVERIFY(!table.controlsDisabled());
    QCOMPARE(queryValue(empty.tablePath(), "SELECT count(*) FROM newspapers"), QStringLiteral("0"));
}

void TestCommands::numbersRunUpToTheLastOne()
{
    TempProgramFolder folder;
    folder.makeTable({{2147483646, "Second to last", "", "", "", "", ""}});
    Table table;
    table.setFileName(folder.tablePath());
    table.open();
    qint32 lastNo = 0;
    QVERIFY(RecordCommands::add(table, texts(QStringLiteral("Last")), lastNo));
    QCOMPARE(lastNo, 2147483647);
    QCOMPARE(queryValue(folder.tablePath(), "SELECT Name FROM newspapers WHERE No = 2147483647"),
             QStringLiteral("Last"));
    QVERIFY_THROWS_EXCEPTION(AppError, RecordCommands::add(table, texts(QStringLiteral("Past")), lastNo));
    QCOMPARE(queryValue(folder.tablePath(), "SELECT count(*) FROM newspapers"), QStringLiteral("2"));
}

void TestCommands::readingListsChangeOnlyTheirFiles()
{
    TempProgramFolder folder;
    folder.makeTable(Papers);
    Table table;
    table.setFileName(folder.tablePath());
    table.open();
    const ReadingLists lists(folder.exePath());

    table.first(); // No 3: a bare host name
    QCOMPARE(ReadingLists::addressToOpen(table), QStringLiteral("https://www.ledevoir.com"));
    QCOMPARE(lists.recordVisit(table), QList<QByteArray>{"Le Devoir"});
    QCOMPARE(lists.recordVisit(table), (QList<QByteArray>{"Le Devoir", "Le Devoir"}));
    QCOMPARE(folder.readFile(QStringLiteral("history.txt")), QByteArray("Le Devoir\r\nLe Devoir\r\n"));

    table.last(); // No 8: no name, an address that is not a web address
    try {
        ReadingLists::addressToOpen(table);
        QFAIL("a mail address was handed to the browser");
    } catch (const AppError& error) {
        QVERIFY(error.message().startsWith(QStringLiteral("\"mailto:news@example.com\" is not a web address")));
    }
    QVERIFY_THROWS_EXCEPTION(ConversionError, lists.addFavorite(table));
    QVERIFY(!folder.exists(QStringLiteral("favorites.txt")));

    // Removing from a missing list writes an empty one; clearing a missing history
    // creates none.
    QCOMPARE(lists.removeFavorite("Le Devoir"), QList<QByteArray>{});
    QCOMPARE(folder.readFile(QStringLiteral("favorites.txt")), QByteArray());
    QFile::remove(folder.path(QStringLiteral("history.txt")));
    lists.clearHistory();
    QVERIFY(!folder.exists(QStringLiteral("history.txt")));
}

void TestCommands::listEntriesStayOneLine()
{
    // Names another program stored with a line break, a tab and a line separator.
    TempProgramFolder folder;
    folder.makeTable(
        {{1, "Two\r\nLines", "", "", "", "", ""}, {2, QStringLiteral("Tab\tand\u2028Sep"), "", "", "", "", ""}});
    Table table;
    table.setFileName(folder.tablePath());
    table.open();
    const ReadingLists lists(folder.exePath());
    table.first();
    lists.recordVisit(table);
    table.last();
    QCOMPARE(lists.addFavorite(table), QList<QByteArray>{"Tab and Sep"});
    QCOMPARE(folder.readFile(QStringLiteral("history.txt")), QByteArray("Two  Lines\r\n"));
    QCOMPARE(folder.readFile(QStringLiteral("favorites.txt")), QByteArray("Tab and Sep\r\n"));
}

void TestCommands::searchFoldsEveryAsciiLetterAnywhere()
{
    // Sixteen ASCII bytes are folded eight at a time: every byte value at every place of
    // both words must come out as QString::toLower has it ("ZEITUNG" found by "zeitung").
    for (int place = 0; place < 16; ++place) {
        for (int byte = 1; byte < 128; ++byte) {
            QByteArray text(16, '.');
            text[place] = static_cast<char>(byte);
            const std::string folded = CaseFold::fold(std::string_view(text.constData(), 16));
            const QByteArray expected = QString::fromLatin1(text).toLower().toLatin1();
            if (folded != expected.toStdString())
                QFAIL(qPrintable(QStringLiteral("byte %1 at %2 folds to %3")
                                     .arg(byte)
                                     .arg(place)
                                     .arg(QString::fromStdString(folded))));
        }
    }
}

QTEST_GUILESS_MAIN(TestCommands)
#include "test_commands.moc"
