// The table engine over a real SQLite file: opening and checking the file, switching
// orders, the filter, locate, the edits and the changes another program makes (the
// orders themselves are in test_order).

#include "CoreTestSupport.h"

#include "directory/Sqlite.h"
#include "directory/Table.h"
#include "directory/TableFile.h"
#include "errors/AppError.h"
#include "search/SearchFilter.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>
#include <functional>

namespace {

// Accepts records whose Country is exactly the given text.
class CountryIs : public RecordFilter
{
public:
    explicit CountryIs(QString country)
        : m_country(country.toUtf8())
    {
    }
    bool accept(const RecordStore& store, RecordStore::Slot slot) const override
    {
        const auto text = store.text(slot, Field::Country);
        return text && *text == std::string_view(m_country.constData(), static_cast<size_t>(m_country.size()));
    }
    bool sameAs(const RecordFilter& other) const override
    {
        const auto* o = dynamic_cast<const CountryIs*>(&other);
        return o && o->m_country == m_country;
    }

private:
    QByteArray m_country;
};

QStringList names(Table& table)
{
    QStringList list;
    for (int row = 0; row < table.recordCount(); ++row)
        list << table.displayText(row, Field::Name);
    return list;
}

QString currentName(Table& table)
{
    const FieldValue value = table.field(Field::Name);
    return value.isNull() ? QStringLiteral("<none>") : value.asString();
}

const std::vector<Row> Sample = {
    {1, "The Times", "https://www.thetimes.co.uk/", "United Kingdom", "England", "London", ""},
    {2, "Le Monde", "https://www.lemonde.fr/", "France", "", "Paris", ""},
    {3, "El País", "https://elpais.com/", "Spain", "", "Madrid", ""},
    {4, "Financial Times", "https://www.ft.com/", "United Kingdom", "England", "London", "Business"},
    {5, "Le Figaro", "https://www.lefigaro.fr/", "France", "", "Paris", ""},
    {6, "Die Zeit", "https://www.zeit.de/", "Germany", "", "Hamburg", ""},
};

} // namespace

class TestTable : public QObject
{
    Q_OBJECT

private slots:
    void badFilesFailAtOpenWithClearMessages_data();
    void badFilesFailAtOpenWithClearMessages();
    void missingFileIsNotCreated();
    void emptyTableHasNoCurrentRecordAndBlankReads();
    void fieldsOfTheCurrentRecord();
    void indexSwitchKeepsCurrentRecord();
    void filterSwitchMakesFirstSeenRecordCurrent();
    void filterSurvivesCloseAndReopen();
    void locateIsExactWithinFilterAndFirstInOrder();
    void editCommitsOnRefreshAndBlankStoresNull();
    void staleRecordsAreNeverWritten();
    void addNumbersPastEveryCopysRecords();
    void appendWritesTenValuesAndShowsAfterRefresh();
    void deleteRemovesCurrentAndRefusesEmpty();
    void closedTableRefusesButRecordsSwitches();
    void suspendedDisplayHearsNothingUntilResumed();
    void lockedTableWaitsReportsAndReopens();
    void readOnlyFolderBrowsesAndRefusesWrites();
};

void TestTable::badFilesFailAtOpenWithClearMessages_data()
{
    QTest::addColumn<QString>("setupSql");
    QTest::addColumn<QByteArray>("rawBytes");
    QTest::addColumn<QString>("reason");
    QTest::newRow("not a database") << QString() << QByteArray("this is a text file, not a table\n").repeated(200)
                                    << "not a database";
    QTest::newRow("no directory table") << "CREATE TABLE other (x)" << QByteArray()
                                        << "table \"newspapers\" is missing";
    QTest::newRow("missing column")
        << "CREATE TABLE newspapers (No INTEGER PRIMARY KEY, Name, Url, Country, State, City)" << QByteArray()
        << "column \"Category\" is missing";
    QTest::newRow("missing index")
        << "CREATE TABLE newspapers (No INTEGER PRIMARY KEY, Name, Url, Country, State, City, Category, Reserved1, "
           "Reserved2, Reserved3); CREATE INDEX Name1 ON newspapers(Name)"
        << QByteArray() << "index \"Country1\" is missing";
}

void TestTable::badFilesFailAtOpenWithClearMessages()
{
    QFETCH(QString, setupSql);
    QFETCH(QByteArray, rawBytes);
    QFETCH(QString, reason);
    TempProgramFolder folder;
    if (!rawBytes.isEmpty()) {
        folder.writeFile(QStringLiteral("Data/list.db"), rawBytes);
    } else {
        sqlite::Database db(folder.tablePath(), sqlite::Database::Mode::Create);
        db.exec(setupSql.toUtf8().constData());
    }
    Table table;
    table.setFileName(folder.tablePath());
    try {
        table.open();
        QFAIL("opened a file that is not a directory table");
    } catch (const EngineError& error) {
        QVERIFY2(error.message().contains(folder.tablePath()), qPrintable(error.message()));
        QVERIFY2(error.message().contains(reason), qPrintable(error.message()));
    }
    QVERIFY(!table.active());
}

void TestTable::missingFileIsNotCreated()
{
    TempProgramFolder folder;
    Table table;
    table.setFileName(folder.tablePath());
    QVERIFY_THROWS_EXCEPTION(EngineError, table.open());
    QVERIFY(!QFile::exists(folder.tablePath()));
}

void TestTable::emptyTableHasNoCurrentRecordAndBlankReads()
{
    TempProgramFolder folder;
    folder.makeTable();
    Table table;
    table.setFileName(folder.tablePath());
    table.open();
    QCOMPARE(table.recordCount(), 0);
    QCOMPARE(table.currentRow(), -1);
    table.last();
    QVERIFY(table.field(Field::No).isNull());
    try {
        table.field(Field::Name).asString();
        QFAIL("read a value with no current record");
    } catch (const ConversionError& error) {
        QCOMPARE(error.message(), QStringLiteral("Invalid variant type conversion"));
    }
}

void TestTable::fieldsOfTheCurrentRecord()
{
    TempProgramFolder folder;
    folder.makeTable({{7, "Le Monde", "https://www.lemonde.fr/", "France", "", "Paris", ""}});
    Table table;
    table.setFileName(folder.tablePath());
    table.open();
    QCOMPARE(table.field(Field::Url).asString(), QStringLiteral("https://www.lemonde.fr/"));
    QCOMPARE(table.field(Field::Name).asString(), QStringLiteral("Le Monde"));
    QCOMPARE(table.field(Field::No).asInteger(), 7);
    QVERIFY(table.field(Field::State).isNull());
    QVERIFY_THROWS_EXCEPTION(ConversionError, table.field(Field::State).asString());
}

void TestTable::indexSwitchKeepsCurrentRecord()
{
    TempProgramFolder folder;
    folder.makeTable(Sample);
    Table table;
    table.setFileName(folder.tablePath());
    table.open();
    table.setOrder(Field::Name);
    QVERIFY(table.locate(Field::Name, QStringLiteral("Le Figaro")));
    QSignalSpy resets(&table, &Table::rowsReset);
    table.setOrder(Field::Country);
    QCOMPARE(currentName(table), QStringLiteral("Le Figaro"));
    QCOMPARE(table.currentRow(), 1); // France: Le Monde (2), Le Figaro (5)
    QCOMPARE(resets.count(), 1);
    table.setOrder(Field::Country); // the active order: nothing at all
    QCOMPARE(resets.count(), 1);
}

void TestTable::filterSwitchMakesFirstSeenRecordCurrent()
{
    TempProgramFolder folder;
    folder.makeTable(Sample);
    Table table;
    table.setFileName(folder.tablePath());
    QString country = QStringLiteral("France");
    table.setOnFilterRecord([&] { return std::make_shared<CountryIs>(country); });
    table.open();
    table.setOrder(Field::Name);
    table.last();
    table.setFiltered(true);
    QCOMPARE(names(table), (QStringList{"Le Figaro", "Le Monde"}));
    QCOMPARE(table.currentRow(), 0);
    // Switching on again reads the rule afresh.
    country = QStringLiteral("Nowhere");
    table.setFiltered(true);
    QCOMPARE(table.recordCount(), 0);
    QVERIFY(!table.hasCurrentRecord());
    QVERIFY_THROWS_EXCEPTION(ConversionError, table.field(Field::Name).asString());
    table.setFiltered(false);
    QCOMPARE(table.recordCount(), 6);
    QCOMPARE(currentName(table), QStringLiteral("Die Zeit"));
}

void TestTable::filterSurvivesCloseAndReopen()
{
    TempProgramFolder folder;
    folder.makeTable(Sample);
    Table table;
    table.setFileName(folder.tablePath());
    table.setOnFilterRecord([] { return std::make_shared<CountryIs>(QStringLiteral("United Kingdom")); });
    table.open();
    table.setFiltered(true);
    table.close();
    QCOMPARE(table.recordCount(), 0);
    table.setOrder(Field::Url);
    table.open();
    QVERIFY(table.filtered());
    QCOMPARE(names(table), (QStringList{"Financial Times", "The Times"}));
    QCOMPARE(table.currentRow(), 0);
}

void TestTable::locateIsExactWithinFilterAndFirstInOrder()
{
    TempProgramFolder folder;
    folder.makeTable({{1, "Metro", "", "Sweden", "", "", ""},
                      {2, "Metro", "", "Canada", "", "", ""},
                      {3, "metro", "", "Canada", "", "", ""},
                      {4, "Metropol", "", "Turkey", "", "", ""}});
    Table table;
    table.setFileName(folder.tablePath());
    table.setOnFilterRecord([] { return std::make_shared<CountryIs>(QStringLiteral("Canada")); });
    table.open();
    table.setOrder(Field::Country);
    QVERIFY(table.locate(Field::Name, QStringLiteral("Metro")));
    QCOMPARE(table.field(Field::No).asInteger(), 2); // Canada sorts before Sweden
    QVERIFY(table.locate(Field::Name, QStringLiteral("metro")));
    QCOMPARE(table.field(Field::No).asInteger(), 3);
    QVERIFY(!table.locate(Field::Name, QStringLiteral("METRO")));
    QVERIFY(!table.locate(Field::Name, QStringLiteral("Metr")));
    QCOMPARE(table.field(Field::No).asInteger(), 3); // not found: stays
    table.setFiltered(true);
    QVERIFY(!table.locate(Field::Name, QStringLiteral("Metropol"))); // hidden by the filter
    QVERIFY(table.locate(Field::Name, QStringLiteral("Metro")));
    QCOMPARE(table.field(Field::No).asInteger(), 2);
}

void TestTable::editCommitsOnRefreshAndBlankStoresNull()
{
    TempProgramFolder folder;
    folder.makeTable(Sample);
    Table table;
    table.setFileName(folder.tablePath());
    table.open();
    table.setOrder(Field::Name);
    QVERIFY(table.locate(Field::Name, QStringLiteral("Le Monde")));
    table.edit();
    table.setField(Field::Name, QStringLiteral("Aujourd'hui; DROP TABLE newspapers; --"));
    table.setField(Field::City, QString());
    QCOMPARE(queryValue(folder.tablePath(), "SELECT Name FROM newspapers WHERE No = 2"), QStringLiteral("Le Monde"));
    table.refresh();
    QCOMPARE(queryValue(folder.tablePath(), "SELECT Name FROM newspapers WHERE No = 2"),
             QStringLiteral("Aujourd'hui; DROP TABLE newspapers; --"));
    QCOMPARE(queryValue(folder.tablePath(), "SELECT City FROM newspapers WHERE No = 2"), QStringLiteral("NULL"));
    // The record moved to its new place in the order and stayed current.
    QCOMPARE(table.currentRow(), 0);
    QCOMPARE(table.field(Field::No).asInteger(), 2);
    QVERIFY(table.field(Field::City).isNull());
    // An edit that changes nothing writes nothing, and one that changes a field writes
    // that field only: a field another program changed meanwhile is not written back.
    const quint32 before = fileChangeCounter(folder.tablePath());
    table.edit();
    table.setField(Field::Country, QStringLiteral("France"));
    table.setField(Field::Url, QStringLiteral("https://www.lemonde.fr/"));
    table.refresh();
    QCOMPARE(fileChangeCounter(folder.tablePath()), before);
    QVERIFY_THROWS_EXCEPTION(EngineError, table.setField(Field::Name, QStringLiteral("not editing")));
}

void TestTable::staleRecordsAreNeverWritten()
{
    TempProgramFolder folder;
    folder.makeTable(Sample);
    Table mine;
    mine.setFileName(folder.tablePath());
    mine.open();
    mine.setOrder(Field::Name);
    QVERIFY(mine.locate(Field::Name, QStringLiteral("Die Zeit"))); // No 6, the highest

    // Another copy deletes it and a third, started afresh, hands out No 6 again.
    {
        sqlite::Database other(folder.tablePath(), sqlite::Database::Mode::ReadWrite);
        other.exec("DELETE FROM newspapers WHERE No = 6");
    }
    insertRows(folder.tablePath(), {{6, "Newcomer", "https://new.example.com/", "Germany", "", "Hamburg", ""}});
    auto refused = [&](const QString& name, const std::function<void()>& write) {
        try {
            write();
            QFAIL("wrote over a record another program had changed");
        } catch (const StaleRecordError& error) {
            const QString expected = QStringLiteral("\"%1\" was changed or deleted by another program").arg(name);
            QVERIFY2(error.message().contains(expected), qPrintable(error.message()));
        }
    };
    refused(QStringLiteral("Die Zeit"), [&] { mine.deleteRecord(); });
    QCOMPARE(queryValue(folder.tablePath(), "SELECT Name FROM newspapers WHERE No = 6"), QStringLiteral("Newcomer"));
    QVERIFY(names(mine).contains(QStringLiteral("Newcomer"))); // re-read without asking
    QVERIFY(!names(mine).contains(QStringLiteral("Die Zeit")));

    // Modify is refused the same way, also when the other program changed another field.
    QVERIFY(mine.locate(Field::Name, QStringLiteral("Le Monde")));
    {
        sqlite::Database other(folder.tablePath(), sqlite::Database::Mode::ReadWrite);
        other.exec("UPDATE newspapers SET City = 'Lyon' WHERE No = 2");
    }
    mine.edit();
    mine.setField(Field::Name, QStringLiteral("Le Monde diplomatique"));
    refused(QStringLiteral("Le Monde"), [&] { mine.refresh(); });
    QVERIFY(!mine.isEditing());
    QCOMPARE(queryValue(folder.tablePath(), "SELECT Name || '|' || City FROM newspapers WHERE No = 2"),
             QStringLiteral("Le Monde|Lyon"));
    QCOMPARE(currentName(mine), QStringLiteral("Le Monde"));
    QCOMPARE(mine.field(Field::City).asString(), QStringLiteral("Lyon"));

    // Once the file has been read again, the same change goes through.
    mine.edit();
    mine.setField(Field::Name, QStringLiteral("Le Monde diplomatique"));
    mine.refresh();
    QCOMPARE(queryValue(folder.tablePath(), "SELECT Name FROM newspapers WHERE No = 2"),
             QStringLiteral("Le Monde diplomatique"));
}

void TestTable::addNumbersPastEveryCopysRecords()
{
    TempProgramFolder folder;
    folder.makeTable(Sample);
    Table table;
    table.setFileName(folder.tablePath());
    table.open();
    const RecordTexts texts = {QStringLiteral("Added"), QString(), QString(), QString(), QString(), QString()};
    qint32 lastNo = 6;
    table.appendRecord(texts, lastNo);
    QCOMPARE(lastNo, 7);

    // Another copy, or an import, adds records meanwhile: numbering goes on after them.
    std::vector<Row> imported;
    for (qint64 no = 350; no < 550; ++no)
        imported.push_back({no, QStringLiteral("Imported %1").arg(no), "", "", "", "", ""});
    insertRows(folder.tablePath(), imported);
    table.appendRecord(texts, lastNo);
    QCOMPARE(lastNo, 550);
    // Numbers handed out in this run are not handed out again, even once deleted.
    {
        sqlite::Database other(folder.tablePath(), sqlite::Database::Mode::ReadWrite);
        other.exec("DELETE FROM newspapers WHERE No >= 300");
    }
    table.appendRecord(texts, lastNo);
    QCOMPARE(lastNo, 551);

    // At the limit: one true message, and nothing is tried or written.
    auto refusedAt = [&](qint64 highest, const QString& message) {
        insertRows(folder.tablePath(), {{highest, "High", "", "", "", "", ""}});
        const QString count = queryValue(folder.tablePath(), "SELECT count(*) FROM newspapers");
        const qint32 before = lastNo;
        try {
            table.appendRecord(texts, lastNo);
            QFAIL("added a record past the highest number");
        } catch (const AppError& error) {
            QVERIFY2(error.message().contains(message), qPrintable(error.message()));
        }
        QCOMPARE(lastNo, before);
        QCOMPARE(queryValue(folder.tablePath(), "SELECT count(*) FROM newspapers"), count);
    };
    refusedAt(2147483647, QStringLiteral("the highest record number, 2147483647, is in use"));
    refusedAt(5000000000, QStringLiteral("holds the record number 5000000000"));
}

void TestTable::appendWritesTenValuesAndShowsAfterRefresh()
{
    TempProgramFolder folder;
    folder.makeTable(Sample);
    Table table;
    table.setFileName(folder.tablePath());
    table.open();
    table.setOrder(Field::Name);
    qint32 lastNo = 0;
    table.appendRecord({QStringLiteral("Aftenposten"), QString(), QStringLiteral("Norway"), QString(),
                        QStringLiteral("Oslo"), QString()},
                       lastNo);
    QCOMPARE(lastNo, 7);
    QCOMPARE(queryValue(folder.tablePath(), "SELECT Reserved1 || '|' || Reserved2 || '|' || Reserved3 || '|' || "
                                            "typeof(Reserved1) || typeof(Reserved2) FROM newspapers WHERE No = 7"),
             QStringLiteral("0|0|0|textinteger"));
    QCOMPARE(queryValue(folder.tablePath(), "SELECT Url IS NULL FROM newspapers WHERE No = 7"), QStringLiteral("1"));
    QCOMPARE(table.recordCount(), 6); // shown after the refresh
    table.refresh();
    QCOMPARE(names(table).first(), QStringLiteral("Aftenposten"));
}

void TestTable::deleteRemovesCurrentAndRefusesEmpty()
{
    TempProgramFolder folder;
    folder.makeTable(Sample);
    Table table;
    table.setFileName(folder.tablePath());
    table.open();
    table.setOrder(Field::Name);
    QVERIFY(table.locate(Field::Name, QStringLiteral("Financial Times")));
    table.deleteRecord();
    QCOMPARE(currentName(table), QStringLiteral("Le Figaro")); // the next one
    QCOMPARE(queryValue(folder.tablePath(), "SELECT count(*) FROM newspapers WHERE No = 4"), QStringLiteral("0"));
    table.last();
    table.deleteRecord();
    QCOMPARE(currentName(table), QStringLiteral("Le Monde")); // the last one left
    table.setOnFilterRecord([] { return std::make_shared<CountryIs>(QStringLiteral("Nowhere")); });
    table.setFiltered(true);
    QVERIFY_THROWS_EXCEPTION(EngineError, table.deleteRecord());
    QCOMPARE(queryValue(folder.tablePath(), "SELECT count(*) FROM newspapers"), QStringLiteral("4"));
    QVERIFY_THROWS_EXCEPTION(EngineError, table.edit());
}

void TestTable::closedTableRefusesButRecordsSwitches()
{
    TempProgramFolder folder;
    folder.makeTable(Sample);
    Table table;
    table.setFileName(folder.tablePath());
    QVERIFY_THROWS_EXCEPTION(EngineError, table.first());
    QVERIFY_THROWS_EXCEPTION(EngineError, table.field(Field::Name));
    QVERIFY_THROWS_EXCEPTION(EngineError, table.refresh());
    QVERIFY_THROWS_EXCEPTION(EngineError, table.deleteRecord());
    table.setFiltered(true);
    table.setOrder(Field::City);
    QVERIFY(table.filtered());
    QCOMPARE(table.order(), Field::City);
    QCOMPARE(table.recordCount(), 0);
    QCOMPARE(table.displayText(0, Field::Name), QString());
}

void TestTable::suspendedDisplayHearsNothingUntilResumed()
{
    TempProgramFolder folder;
    folder.makeTable(Sample);
    Table table;
    table.setFileName(folder.tablePath());
    table.open();
    QSignalSpy resets(&table, &Table::rowsReset);
    QSignalSpy moves(&table, &Table::currentRowChanged);
    table.disableControls();
    table.disableControls();
    table.edit();
    table.setField(Field::Name, QStringLiteral("Changed"));
    table.refresh();
    table.last();
    table.enableControls();
    QCOMPARE(resets.count(), 0);
    QCOMPARE(moves.count(), 0);
    table.enableControls();
    QCOMPARE(resets.count(), 1);
    QCOMPARE(moves.last().first().toInt(), 5);
}

void TestTable::lockedTableWaitsReportsAndReopens()
{
    TempProgramFolder folder;
    folder.makeTable(Sample);
    Table table;
    table.setFileName(folder.tablePath());
    QStringList waits;
    table.setBusyObserver([&](bool waiting) { waits << (waiting ? QStringLiteral("wait") : QStringLiteral("done")); });
    table.open();
    sqlite::Database other(folder.tablePath(), sqlite::Database::Mode::ReadWrite);
    other.exec("BEGIN EXCLUSIVE");
    const RecordTexts texts = {QStringLiteral("Blocked"), QString(), QString(), QString(), QString(), QString()};
    qint32 lastNo = 0;
    QElapsedTimer clock;
    clock.start();
    try {
        table.appendRecord(texts, lastNo);
        QFAIL("wrote to a locked table");
    } catch (const EngineError& error) {
        QVERIFY2(error.message().contains(QStringLiteral("locked")), qPrintable(error.message()));
        QVERIFY2(error.message().contains(folder.tablePath()), qPrintable(error.message()));
    }
    QVERIFY(clock.elapsed() >= TestBusyTimeoutMs - 10); // waited for the other program first
    QCOMPARE(waits, (QStringList{"wait", "done"}));

    // A reopen that fails under the lock leaves the table wanted open: once the lock is
    // gone, the next command reads it again instead of reporting a closed table.
    table.close();
    QVERIFY_THROWS_EXCEPTION(EngineError, table.open());
    QVERIFY(!table.active());
    QCOMPARE(table.recordCount(), 0);
    other.exec("ROLLBACK");
    table.setFiltered(false);
    QVERIFY(table.active());
    QCOMPARE(table.recordCount(), 6);
    for (const auto& command : std::vector<std::function<void()>>{
             [&] { table.refresh(); }, [&] { table.setOrder(Field::City); }, [&] { table.appendRecord(texts, lastNo); },
             [&] { QVERIFY(!table.field(Field::Name).isNull()); }}) {
        other.exec("BEGIN EXCLUSIVE");
        table.close();
        QVERIFY_THROWS_EXCEPTION(EngineError, table.open());
        other.exec("ROLLBACK");
        command();
        QVERIFY(table.active());
    }
    QCOMPARE(queryValue(folder.tablePath(), "SELECT Name FROM newspapers WHERE No = 7"), QStringLiteral("Blocked"));
}

void TestTable::readOnlyFolderBrowsesAndRefusesWrites()
{
    // An ordinary user gets a write-protected folder and file; root, who writes through
    // permissions, a file system mounted read-only.
    TempProgramFolder folder;
    folder.makeTable(Sample);
    SmallFileSystem disk(QStringLiteral("size=1m"));
    QString path = folder.tablePath();
    if (runningAsRoot()) {
        if (!disk.mounted())
            QSKIP("root writes through permissions, and this system does not allow mounting a small file system");
        QVERIFY(QDir().mkpath(disk.path(QStringLiteral("Data"))));
        path = disk.path(QStringLiteral("Data/list.db"));
        QVERIFY(QFile::copy(folder.tablePath(), path));
        QVERIFY(disk.makeReadOnly());
    } else {
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        QVERIFY(QFile::setPermissions(folder.path(QStringLiteral("Data")), QFile::ReadOwner | QFile::ExeOwner));
    }
    const auto writable = qScopeGuard([&] {
        QFile::setPermissions(folder.path(QStringLiteral("Data")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });

    Table table;
    table.setFileName(path);
    table.open();
    table.setOrder(Field::Name);
    QCOMPARE(table.recordCount(), 6);
    QVERIFY(table.locate(Field::Name, QStringLiteral("Le Monde")));
    qint32 lastNo = 6;
    try {
        table.appendRecord({QStringLiteral("Not written"), QString(), QString(), QString(), QString(), QString()},
                           lastNo);
        QFAIL("wrote into a read-only folder");
    } catch (const EngineError& error) {
        QVERIFY2(error.message().contains(path), qPrintable(error.message()));
        QVERIFY2(error.message().contains(QStringLiteral("read-only")), qPrintable(error.message()));
    }
    table.edit();
    table.setField(Field::City, QStringLiteral("Lyon"));
    QVERIFY_THROWS_EXCEPTION(EngineError, table.refresh());
    QVERIFY_THROWS_EXCEPTION(EngineError, table.deleteRecord());
    table.refresh();
    QCOMPARE(table.recordCount(), 6);
    QCOMPARE(table.field(Field::City).asString(), QStringLiteral("Paris"));
    QVERIFY(!QFile::exists(path + QStringLiteral("-journal")));
}

QTEST_GUILESS_MAIN(TestTable)
#include "test_table.moc"
