// The table's cache file and its re-reads after another program wrote: every order
// must come out exactly as reading and sorting the whole file would give it.

#include "CoreTestSupport.h"

#include "datatool/DbTool.h"
#include "datatool/Generator.h"
#include "directory/Sqlite.h"
#include "directory/Table.h"
#include "directory/TableCache.h"
#include "directory/TableFile.h"
#include "errors/AppError.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <csignal>
#include <cstring>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xxhash.h>

namespace {

const Field::Position Orders[] = {Field::No,   Field::Name,     Field::Country, Field::State,
                                  Field::City, Field::Category, Field::Url};

// Every order of the table as the numbers it shows, each order built on its own.
QList<QStringList> ordersOf(Table& table)
{
    QList<QStringList> orders;
    for (const Field::Position order : Orders) {
        table.setOrder(order);
        QStringList rows;
        for (int row = 0; row < table.recordCount(); ++row)
            rows << table.displayText(row, Field::No) + QLatin1Char(':') + table.displayText(row, Field::Name);
        orders << rows;
    }
    return orders;
}

// What a copy of the program that reads the file afresh, without a cache, shows.
QList<QStringList> freshOrders(const QString& path)
{
    QFile::rename(TableCache::pathFor(path), TableCache::pathFor(path) + ".aside");
    Table fresh;
    fresh.setFileName(path);
    fresh.open();
    const QList<QStringList> orders = ordersOf(fresh);
    QFile::rename(TableCache::pathFor(path) + ".aside", TableCache::pathFor(path));
    return orders;
}

void execute(const QString& path, const char* sql)
{
    sqlite::Database other(path, sqlite::Database::Mode::ReadWrite);
    other.exec(sql);
}

} // namespace

class TestCache : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cacheGivesTheSameOrdersAndWrongOnesAreIgnored();
    void unwritableFolderGoesWithoutACache();
    void anotherCopysChangesReachEveryOrder();
    void aCacheBelongsOnlyToTheTableItWasWrittenFor();
    void everyDamagedCacheIsRefused();
    void aCacheInPlaceOfALinkReplacesTheLink();
    void walTableHasNoDependableStamp();
    void theDataToolLeavesACacheTheProgramTakes();
    void largeHalvesReadOnTwoCoresKeepEveryRecord();
    void aCacheWriteCutShortLeavesNothingBehind();

private:
    void makeTable(const TempProgramFolder& folder, int generated);
};

void TestCache::initTestCase()
{
    // Both readers, on tables this small.
    TableFile::setParallelMinimum(100);
}

void TestCache::makeTable(const TempProgramFolder& folder, int generated)
{
    std::vector<Row> rows = {{1, "", "", "", "", "", ""}, {2, "Ärztliche Zeitung", "", "Germany", "", "", ""}};
    Generator generator(11);
    for (int i = 0; i < generated; ++i) {
        const RecordTexts t = generator.next();
        rows.push_back({i * 3 + 5, t[0], t[1], t[2], t[3], t[4], t[5]});
    }
    folder.makeTable(rows);
}

void TestCache::cacheGivesTheSameOrdersAndWrongOnesAreIgnored()
{
    TempProgramFolder folder;
    makeTable(folder, 3000);
    const QString path = folder.tablePath();
    QList<QStringList> expected;
    {
        Table first;
        first.setFileName(path);
        first.open();
        expected = ordersOf(first);
        QVERIFY(!first.cacheIsCurrent());
        QVERIFY(first.saveCache());
    }
    QVERIFY(QFile::exists(TableCache::pathFor(path)));
    QCOMPARE(QDir(folder.path(QStringLiteral("Data"))).entryList(QDir::Files),
             (QStringList{"list.db", "list.db.cache"})); // no temporary file left

    auto opened = [&](bool fromCache) {
        Table table;
        table.setFileName(path);
        table.open();
        if (table.cacheIsCurrent() != fromCache)
            return QList<QStringList>{{QStringLiteral("cache used: %1").arg(table.cacheIsCurrent())}};
        return ordersOf(table);
    };
    QCOMPARE(opened(true), expected);

    // Foreign: another table's cache.
    TempProgramFolder other;
    makeTable(other, 10);
    {
        Table table;
        table.setFileName(other.tablePath());
        table.open();
        QVERIFY(table.saveCache());
    }
    const QByteArray good = folder.readFile(QStringLiteral("Data/list.db.cache"));
    folder.writeFile(QStringLiteral("Data/list.db.cache"), other.readFile(QStringLiteral("Data/list.db.cache")));
    QCOMPARE(opened(false), expected);
    // Truncated, and damaged inside.
    folder.writeFile(QStringLiteral("Data/list.db.cache"), good.left(good.size() - 100));
    QCOMPARE(opened(false), expected);
    QByteArray damaged = good;
    for (int i = 360; i < 364; ++i)
        damaged[i] = '\xff'; // a record's text now lies past the end of the text
    folder.writeFile(QStringLiteral("Data/list.db.cache"), damaged);
    QCOMPARE(opened(false), expected);
    folder.writeFile(QStringLiteral("Data/list.db.cache"), "not a cache at all");
    QCOMPARE(opened(false), expected);

    // Stale: the table changed after the cache was written.
    folder.writeFile(QStringLiteral("Data/list.db.cache"), good);
    execute(path, "UPDATE newspapers SET Name = 'Aaa first now' WHERE No = 20");
    QVERIFY(opened(false) != expected);
    QCOMPARE(opened(false), freshOrders(path));
}

void TestCache::unwritableFolderGoesWithoutACache()
{
    if (runningAsRoot())
        QSKIP("root writes into write-protected folders; this needs an ordinary user");
    TempProgramFolder folder;
    makeTable(folder, 50);
    QFile::setPermissions(folder.path(QStringLiteral("Data")), QFile::ReadOwner | QFile::ExeOwner);
    Table table;
    table.setFileName(folder.tablePath());
    table.open();
    QVERIFY(!table.saveCache());
    QCOMPARE(table.recordCount(), 52);
    QFile::setPermissions(folder.path(QStringLiteral("Data")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(QDir(folder.path(QStringLiteral("Data"))).entryList(QDir::Files), QStringList{"list.db"});
}

void TestCache::anotherCopysChangesReachEveryOrder()
{
    TempProgramFolder folder;
    makeTable(folder, 3000);
    const QString path = folder.tablePath();
    Table mine;
    mine.setFileName(path);
    mine.open();
    ordersOf(mine); // every order built, so each must take the changes in
    mine.setOrder(Field::Name);
    mine.moveTo(100);
    const QString current = mine.field(Field::No).asString();

    // A few changes: placed into the orders one by one. Empty texts stay empty texts.
    execute(path, "UPDATE newspapers SET Name = 'Zzz last now', City = '' WHERE No IN (8, 11, 14);"
                  "UPDATE newspapers SET Name = 'Zzz b' WHERE No = 20;"
                  "UPDATE newspapers SET Name = 'Zzz a' WHERE No = 23;"
                  "UPDATE newspapers SET Country = 'Åland', Url = NULL WHERE No = 2;"
                  "DELETE FROM newspapers WHERE No IN (5, 17);"
                  "INSERT INTO newspapers VALUES (9001, 'Éclair', 'www.eclair.example', 'France', "
                  "NULL, 'Lyon', 'Business', '0', 0, 0)");
    mine.refresh();
    QCOMPARE(mine.field(Field::No).asString(), current);
    QCOMPARE(ordersOf(mine), freshOrders(path));
    // Refreshing again finds nothing new: the empty City is not taken for a change.
    mine.refresh();
    QCOMPARE(ordersOf(mine), freshOrders(path));

    // Many changes: the orders are built again.
    execute(path, "UPDATE newspapers SET Name = 'Renamed ' || (No * 7 % 1000) WHERE No % 2 = 0");
    mine.refresh();
    QCOMPARE(ordersOf(mine), freshOrders(path));
}

void TestCache::aCacheBelongsOnlyToTheTableItWasWrittenFor()
{
    // Two tables of the same size and change counter, one name apart.
    TempProgramFolder mine;
    TempProgramFolder theirs;
    mine.makeTable({{1, "AAAA Mine!", "", "", "", "", ""}, {2, "Beta", "", "", "", "", ""}});
    theirs.makeTable({{1, "AAAA Them!", "", "", "", "", ""}, {2, "Beta", "", "", "", "", ""}});
    QCOMPARE(fileChangeCounter(mine.tablePath()), fileChangeCounter(theirs.tablePath()));
    {
        Table table;
        table.setFileName(mine.tablePath());
        table.open();
        QVERIFY(table.saveCache());
    }
    // Their table copied over mine in place, as cat or cp do: the same file, size and counter.
    mine.writeFile(QStringLiteral("Data/list.db"), theirs.readFile(QStringLiteral("Data/list.db")));
    QVERIFY(TableCache::describe(mine.tablePath(), TableCache::pathFor(mine.tablePath()))
                .startsWith(QStringLiteral("the table file was rewritten or replaced")));
    Table table;
    table.setFileName(mine.tablePath());
    table.setOrder(Field::Name);
    table.open();
    QVERIFY(!table.cacheIsCurrent());
    QCOMPARE(table.field(Field::Name).asString(), QStringLiteral("AAAA Them!"));
}

void TestCache::everyDamagedCacheIsRefused()
{
    TempProgramFolder folder;
    makeTable(folder, 300);
    const QString path = folder.tablePath();
    const QString cachePath = TableCache::pathFor(path);
    {
        Table table;
        table.setFileName(path);
        table.setOrder(Field::Name);
        table.open();
        QVERIFY(table.saveCache());
    }
    const QByteArray good = folder.readFile(QStringLiteral("Data/list.db.cache"));
    sqlite::Database db(path, sqlite::Database::Mode::ReadOnly);
    auto accepted = [&](const QByteArray& cache) {
        folder.writeFile(QStringLiteral("Data/list.db.cache"), cache);
        const TableFile::ReadLock lock(db);
        RecordStore store;
        TableCache::Orders orders;
        return TableCache::read(cachePath, TableFile::readStamp(db, path), store, orders);
    };
    QVERIFY(accepted(good));

    // One to three bytes changed anywhere.
    std::mt19937 random(20261209);
    for (int round = 0; round < 300; ++round) {
        QByteArray damaged = good;
        const int changes = 1 + round % 3;
        for (int i = 0; i < changes; ++i)
            damaged[static_cast<int>(random() % damaged.size())] ^= static_cast<char>(1 + random() % 255);
        QVERIFY2(!accepted(damaged), qPrintable(QString::number(round)));
        QVERIFY(!TableCache::describe(path, cachePath).startsWith(QStringLiteral("the cache matches")));
    }

    // Made to pass the checksum, yet pointing outside itself: refused all the same.
    constexpr int ChecksumAt = 208;
    const int entries = 216;
    auto resealed = [&](QByteArray cache) {
        std::memset(cache.data() + ChecksumAt, 0, 8);
        const quint64 sum = XXH3_64bits(cache.constData(), static_cast<size_t>(cache.size()));
        std::memcpy(cache.data() + ChecksumAt, &sum, 8);
        return cache;
    };
    QVERIFY(accepted(resealed(good)));
    auto at = [&](int offset, const QByteArray& bytes) {
        QByteArray cache = good;
        cache.replace(offset, bytes.size(), bytes);
        return resealed(cache);
    };
    QVERIFY(!accepted(at(entries, QByteArray(8, '\x7f'))));               // a text past the end of the text
    QVERIFY(!accepted(at(entries + 28, QByteArray(1, char(62)))));        // "live" neither 0 nor 1
    QVERIFY(!accepted(at(entries + 29, QByteArray(1, char(1)))));         // long texts in a cache
    QVERIFY(!accepted(at(104, QByteArray::fromHex("ffffffff00000000")))); // more records than the file holds
    QFile::remove(cachePath);
}

void TestCache::aCacheInPlaceOfALinkReplacesTheLink()
{
    TempProgramFolder folder;
    makeTable(folder, 20);
    folder.writeFile(QStringLiteral("victim"), "keep me");
    QVERIFY(QFile::link(folder.path(QStringLiteral("victim")), TableCache::pathFor(folder.tablePath())));
    Table table;
    table.setFileName(folder.tablePath());
    table.open();
    QVERIFY(!table.cacheIsCurrent()); // a link is not read as a cache
    QVERIFY(table.saveCache());
    QCOMPARE(folder.readFile(QStringLiteral("victim")), QByteArray("keep me"));
    QVERIFY(!QFileInfo(TableCache::pathFor(folder.tablePath())).isSymLink());
}

void TestCache::walTableHasNoDependableStamp()
{
    // In WAL mode the file's change counter stands still while the table changes, so no
    // cache or re-read may rely on it.
    TempProgramFolder folder;
    folder.makeTable({{1, "One", "", "", "", "", ""}});
    sqlite::Database db(folder.tablePath(), sqlite::Database::Mode::ReadWrite);
    const auto stamp = [&] {
        const TableFile::ReadLock lock(db);
        return TableFile::readStamp(db, folder.tablePath());
    };
    QVERIFY(stamp().dependable());
    db.exec("PRAGMA journal_mode = WAL");
    QVERIFY(!stamp().dependable());
}

void TestCache::theDataToolLeavesACacheTheProgramTakes()
{
    TempProgramFolder folder;
    const QString db = folder.path(QStringLiteral("new.db"));
    const QString csv = folder.path(QStringLiteral("in.csv"));
    folder.writeFile(QStringLiteral("in.csv"), "Name,Url,Country,State,City,Category\nZeta,https://z.example/,,,,\n"
                                               "Alpha,https://a.example/,,,,\n");
    auto taken = [&] {
        Table table;
        table.setFileName(db);
        table.setOrder(Field::Name);
        table.open();
        if (!table.cacheIsCurrent())
            return QStringLiteral("no cache");
        return table.recordCount() == 0 ? QStringLiteral("empty") : table.field(Field::Name).asString();
    };
    QCOMPARE(DbTool::run({"create", db}), 0);
    QCOMPARE(taken(), QStringLiteral("empty"));
    QCOMPARE(DbTool::run({"import", db, csv}), 0);
    QCOMPARE(taken(), QStringLiteral("Alpha"));
    // A command that only reads leaves the cache as it is; one that writes leaves a new one.
    QFile::remove(TableCache::pathFor(db));
    QCOMPARE(DbTool::run({"export", db, folder.path(QStringLiteral("out.csv"))}), 0);
    QVERIFY(!QFile::exists(TableCache::pathFor(db)));
    folder.writeFile(QStringLiteral("newer.csv"), "Name,Url,Country,State,City,Category\n"
                                                  "Aaa,https://aaa.example/,,,,\n");
    QCOMPARE(DbTool::run({"merge", db, folder.path(QStringLiteral("newer.csv"))}), 0);
    QCOMPARE(taken(), QStringLiteral("Aaa"));
    QCOMPARE(DbTool::run({"generate", folder.path(QStringLiteral("g.db")), "50"}), 0);
    QVERIFY(QFile::exists(TableCache::pathFor(folder.path(QStringLiteral("g.db")))));
    QVERIFY(!QFile::exists(TableCache::pathFor(folder.path(QStringLiteral("out.csv")))));
}

void TestCache::largeHalvesReadOnTwoCoresKeepEveryRecord()
{
    // Halves of more than a block of entries each: the upper half's entries move over
    // whole, after dead slots that fill up the lower half's last block. Every record
    // stays as one reader reads it, through the cache and another copy's change.
    TempProgramFolder folder;
    makeTable(folder, 140000);
    const QString path = folder.tablePath();
    auto everything = [](Table& table) {
        table.setOrder(Field::No);
        QStringList rows;
        for (int row = 0; row < table.recordCount(); ++row) {
            QString text;
            for (int position = Field::No; position <= Field::Category; ++position)
                text += table.displayText(row, static_cast<Field::Position>(position)) + QLatin1Char('|');
            rows << text;
        }
        return rows;
    };
    TableFile::setParallelMinimum(qint64(1) << 40);
    QStringList expected;
    QList<QStringList> expectedOrders;
    {
        Table one;
        one.setFileName(path);
        one.open();
        expected = everything(one);
        expectedOrders = ordersOf(one);
    }
    TableFile::setParallelMinimum(100);
    Table two;
    two.setFileName(path);
    two.open();
    QCOMPARE(expected.size(), 140002);
    QCOMPARE(everything(two), expected);
    QCOMPARE(ordersOf(two), expectedOrders);
    QVERIFY(two.saveCache());
    {
        Table cached;
        cached.setFileName(path);
        cached.open();
        QVERIFY(cached.cacheIsCurrent());
        QCOMPARE(everything(cached), expected);
    }
    execute(path, "UPDATE newspapers SET Name = 'Zebra Times' WHERE No = 5");
    two.refresh();
    QVERIFY(two.locateNumber(5));
    QCOMPARE(two.field(Field::Name).asString(), QStringLiteral("Zebra Times"));
    QCOMPARE(ordersOf(two), freshOrders(path));
}

void TestCache::aCacheWriteCutShortLeavesNothingBehind()
{
    // A program stopped while it writes its cache (here by the file size limit's signal,
    // a few pages into the file) leaves no file of it: not the cache, nor a temporary one
    // as large as what it had written.
    TempProgramFolder folder;
    makeTable(folder, 3000);
    Table table;
    table.setFileName(folder.tablePath());
    table.open();
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        rlimit size{};
        ::getrlimit(RLIMIT_FSIZE, &size);
        size.rlim_cur = 16 * 1024;
        ::setrlimit(RLIMIT_FSIZE, &size);
        std::signal(SIGXFSZ, SIG_DFL);
        table.saveCache();
        ::_exit(0);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
    QCOMPARE(QDir(folder.path(QStringLiteral("Data"))).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("list.db")});
}

QTEST_GUILESS_MAIN(TestCache)
#include "test_cache.moc"
