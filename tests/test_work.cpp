// Work beside the window's thread and the commands that wait for it: the queue, the
// hand-off of a job's result, and the table's background paths.

#include "CoreTestSupport.h"

#include "commands/CommandQueue.h"
#include "directory/ChangeReader.h"
#include "directory/Table.h"
#include "directory/TableCache.h"
#include "directory/TableFile.h"
#include "directory/TableView.h"
#include "errors/AppError.h"
#include "search/SearchFilter.h"
#include "work/BackgroundWork.h"

#include <QSignalSpy>
#include <QtTest>
#include <cstdio>
#include <future>

namespace {

std::vector<Row> papers(int count)
{
    std::vector<Row> rows;
    for (int i = 1; i <= count; ++i)
        rows.push_back({i, QStringLiteral("Paper %1 %2").arg(i % 7).arg(i),
                        QStringLiteral("https://p%1.example/").arg(i),
                        i % 3 ? QStringLiteral("Norway") : QStringLiteral("Niger"), "", "", ""});
    return rows;
}

QStringList shown(const Table& table)
{
    QStringList rows;
    for (int row = 0; row < table.recordCount(); ++row)
        rows << table.displayText(row, Field::No);
    return rows;
}

// A table on the file as another copy of the program opens it, without the cache.
QStringList fresh(const QString& path, Field::Position order)
{
    QFile::remove(TableCache::pathFor(path));
    Table table;
    table.setFileName(path);
    table.setOrder(order);
    table.open();
    return shown(table);
}

} // namespace

class TestWork : public QObject
{
    Q_OBJECT

private slots:
    void commandsKeepTheirOrderAcrossWorkAndModalWindows();
    void aJobHandsBackOnceAndCarriesItsFailure();
    void theCacheSavedBesideIsNeverAheadOfTheTable();
    void anotherProgramsChangesShowAtRefresh();
    void anotherProgramsManyChangesAndAReplacedFileAreReadAgain();
    void longFieldsAndParallelFilteringKeepEveryRecord();
    void aLargeOrdersFirstPageShowsWhileTheRestIsBuilt();
    void aReadAheadIsTheTableAsItWasThen();
};

void TestWork::commandsKeepTheirOrderAcrossWorkAndModalWindows()
{
    bool busy = false;
    QStringList ran;
    CommandQueue queue([&] { return busy; }, [](const CommandQueue::Command& command) { command(); });
    auto command = [&](const QString& name) { return [&ran, name] { ran << name; }; };

    queue.give(QStringLiteral("a"), command(QStringLiteral("a")));
    busy = true; // work starts beside the window
    queue.give(QStringLiteral("b"), command(QStringLiteral("b")));
    queue.give(QStringLiteral("modal"), [&] {
        ran << QStringLiteral("modal opens");
        // Inside its modal window: a button runs at once, while what waits outside waits.
        queue.give(QStringLiteral("button"), command(QStringLiteral("button")));
        busy = true;
        queue.give(QStringLiteral("button again"), command(QStringLiteral("button again")));
        busy = false;
        queue.workEnded();
        ran << QStringLiteral("modal closes");
    });
    queue.give(QStringLiteral("c"), command(QStringLiteral("c")));
    QCOMPARE(ran, QStringList{"a"});
    QCOMPARE(queue.waiting(), 3);
    busy = false;
    queue.workEnded();
    QCOMPARE(ran, (QStringList{"a", "b", "modal opens", "button", "button again", "modal closes", "c"}));
    QCOMPARE(queue.waiting(), 0);
}

void TestWork::aJobHandsBackOnceAndCarriesItsFailure()
{
    BackgroundWork work;
    QSignalSpy busy(&work, &BackgroundWork::busyChanged);
    QSignalSpy failed(&work, &BackgroundWork::failed);
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    int completed = 0;
    work.start({QStringLiteral("Held")}, [opened, &completed](Progress& progress) -> BackgroundWork::Completion {
        progress.beginStep(0, 10);
        progress.setDone(4);
        opened.wait();
        return [&completed] { ++completed; };
    });
    QVERIFY(work.busy());
    QCOMPARE(work.doing(), QStringLiteral("Held"));
    QTRY_COMPARE(work.progress()->permille(), 400);
    gate.set_value();
    work.finish(); // completes now; the queued hand-off that follows is ignored
    QCoreApplication::processEvents();
    QCOMPARE(completed, 1);
    QCOMPARE(busy.count(), 2);

    bool cleaned = false;
    work.start(
        {QStringLiteral("Failing")}, [](Progress&) -> BackgroundWork::Completion { throw EngineError("disk on fire"); },
        [&] { cleaned = true; });
    QTRY_VERIFY(!work.busy());
    QVERIFY(cleaned);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().first().toString(), QStringLiteral("disk on fire"));

    // A cancelled job completes nothing and fails nothing.
    work.start({QStringLiteral("Cancelled")}, [](Progress& progress) -> BackgroundWork::Completion {
        while (true)
            progress.checkCancelled();
    });
    work.cancel();
    work.finish();
    QCOMPARE(failed.count(), 1);
}

void TestWork::theCacheSavedBesideIsNeverAheadOfTheTable()
{
    TempProgramFolder folder;
    folder.makeTable(papers(3000));
    const QString path = folder.tablePath();
    {
        Table table;
        table.setFileName(path);
        table.setOrder(Field::Name);
        table.open();
        table.saveCacheInBackground();
        QTRY_VERIFY(table.cacheIsCurrent());
    }
    {
        Table table;
        table.setFileName(path);
        table.open();
        QVERIFY(table.cacheIsCurrent()); // the one written beside is taken
        // A change while the cache is written: the writer stops or its cache is stale.
        table.saveCacheInBackground();
        qint32 lastNo = 0;
        table.appendRecord({QStringLiteral("Aaa Late"), "", "", "", "", ""}, lastNo);
        QVERIFY(!table.cacheIsCurrent());
    }
    Table next;
    next.setFileName(path);
    next.setOrder(Field::Name);
    next.open();
    QCOMPARE(next.displayText(0, Field::Name), QStringLiteral("Aaa Late"));
    QCOMPARE(next.recordCount(), 3001);
}

void TestWork::anotherProgramsChangesShowAtRefresh()
{
    TempProgramFolder folder;
    folder.makeTable({{1, "The Times", "", "United Kingdom", "", "", ""},
                      {2, "Le Monde", "", "France", "", "", ""},
                      {3, "El País", "", "Spain", "", "", ""}});
    Table mine;
    mine.setFileName(folder.tablePath());
    mine.open();
    mine.setOrder(Field::Name);
    QVERIFY(mine.locate(Field::Name, QStringLiteral("Le Monde")));

    Table theirs;
    theirs.setFileName(folder.tablePath());
    theirs.open();
    qint32 theirLastNo = 9;
    theirs.appendRecord(
        {QStringLiteral("Aamulehti"), QString(), QStringLiteral("Finland"), QString(), QString(), QString()},
        theirLastNo);
    QCOMPARE(mine.recordCount(), 3);
    mine.refresh();
    QCOMPARE(mine.recordCount(), 4);
    QCOMPARE(mine.displayText(0, Field::Name), QStringLiteral("Aamulehti"));
    QCOMPARE(mine.field(Field::Name).asString(), QStringLiteral("Le Monde")); // found again by its number

    // A file replaced by another one is read again as well.
    TempProgramFolder other;
    other.makeTable({{1, "Replacement", "", "", "", "", ""}});
    QVERIFY(QFile::remove(folder.tablePath()));
    QVERIFY(QFile::copy(other.tablePath(), folder.tablePath()));
    mine.close();
    mine.open();
    QCOMPARE(mine.field(Field::Name).asString(), QStringLiteral("Replacement"));
    QCOMPARE(mine.recordCount(), 1);
}

void TestWork::anotherProgramsManyChangesAndAReplacedFileAreReadAgain()
{
    TempProgramFolder folder;
    folder.makeTable(papers(400));
    const QString path = folder.tablePath();
    Table table;
    table.setFileName(path);
    table.setOrder(Field::Name);
    table.open();
    table.setBackgroundWork(true);
    ChangeReader::setPlacementMaximum(10);
    ChangeReader::setReadAgainMinimum(50);
    const auto restore = qScopeGuard([] {
        ChangeReader::setPlacementMaximum(1000);
        ChangeReader::setReadAgainMinimum(100000);
    });

    // A few changes are placed, more rebuild the orders, many read the table again: the
    // rows are the same as a fresh read's each time.
    for (const int added : {5, 30, 120}) {
        std::vector<Row> rows;
        for (int i = 0; i < added; ++i)
            rows.push_back({10000 + added * 1000 + i, QStringLiteral("Added %1").arg(i), "", "Chad", "", "", ""});
        insertRows(path, rows);
        table.refresh();
        QVERIFY(table.busy());
        QTRY_VERIFY(!table.busy());
        QCOMPARE(shown(table), fresh(path, Field::Name));
    }

    // Another file is put in its place while an order is built beside the window.
    TempProgramFolder other;
    other.makeTable({{1, "Replacement", "", "", "", "", ""}});
    table.setOrder(Field::Url);
    QVERIFY(table.busy());
    QCOMPARE(::rename(QFile::encodeName(other.tablePath()).constData(), QFile::encodeName(path).constData()), 0);
    QTRY_VERIFY(!table.busy());
    table.refresh();
    QTRY_VERIFY(!table.busy());
    QCOMPARE(shown(table), QStringList{"1"});
    QCOMPARE(table.field(Field::Name).asString(), QStringLiteral("Replacement"));
}

void TestWork::longFieldsAndParallelFilteringKeepEveryRecord()
{
    TempProgramFolder folder;
    std::vector<Row> rows = papers(500);
    const QString longName = QString(70000, QLatin1Char('n')) + QStringLiteral(" end");
    rows.push_back({501, longName, QString(65535, QLatin1Char('u')), "Niger", "", "", ""});
    folder.makeTable(rows);
    Table table;
    table.setFileName(folder.tablePath());
    table.setOrder(Field::Name);
    table.open();
    QVERIFY(table.locate(Field::Name, longName));
    QCOMPARE(table.field(Field::Url).asString().size(), 65535);
    QVERIFY(!table.saveCache()); // too long for the cache; the table does without

    // Judging and filtering split over every core give the rows one core gives.
    auto search = [&](const QString& country) {
        table.setOnFilterRecord([country] {
            return std::make_shared<SearchFilter>(SearchCriteria{"All", country, "All", "All", "All", "All"});
        });
        table.setFiltered(true);
        return shown(table);
    };
    const QStringList oneCore = search(QStringLiteral("niger"));
    TableView::setParallelMinimums(2, 2);
    const auto restore = qScopeGuard([] { TableView::setParallelMinimums(50000, 400000); });
    QCOMPARE(search(QStringLiteral("NIGER")), oneCore);
    QCOMPARE(oneCore.size(), 166 + 1); // every third, and the long one
    QCOMPARE(oneCore.count(QStringLiteral("501")), 1);
}

void TestWork::aLargeOrdersFirstPageShowsWhileTheRestIsBuilt()
{
    // Start-up's first order of a large table, built beside: its first page shows at once,
    // the rows after it are blank until the rest is built, and a move made meanwhile to
    // a row not yet known lands on that row of the finished order.
    Table::setFirstPageMinimum(1000);
    const auto restore = qScopeGuard([] { Table::setFirstPageMinimum(250000); });
    TempProgramFolder folder;
    folder.makeTable(papers(3000));
    const QStringList expected = fresh(folder.tablePath(), Field::Name);
    // As start-up does it: open, at the last record, with work beside the thread on.
    auto orderAtFirst = [](Table& table, const QString& path) {
        table.setFileName(path);
        table.open();
        table.setBackgroundWork(true);
        table.last();
        table.setOrderAtFirst(Field::Name);
    };
    Table table;
    orderAtFirst(table, folder.tablePath());
    QVERIFY(table.busy());
    QCOMPARE(table.recordCount(), 3000);
    QCOMPARE(table.currentRow(), 0);
    for (int row = 0; row < 256; ++row)
        QCOMPARE(table.displayText(row, Field::No), expected[row]);
    QCOMPARE(table.displayText(256, Field::No), QString());
    table.moveTo(2000);
    table.finishBackgroundWork();
    QCOMPARE(shown(table), expected);
    QCOMPARE(table.currentRow(), 2000);
    QCOMPARE(QString::number(table.field(Field::No).asInteger()), expected[2000]);

    // Too many records alike at the front to tell a first page soon: the old rows stay
    // until the order is built, and it then starts at its first record.
    std::vector<Row> alike;
    for (int i = 1; i <= 17000; ++i)
        alike.push_back({i, QStringLiteral("Samename %1").arg(17001 - i), "", "", "", "", ""});
    TempProgramFolder crowded;
    crowded.makeTable(alike);
    Table other;
    orderAtFirst(other, crowded.tablePath());
    QCOMPARE(other.displayText(0, Field::No), QStringLiteral("1"));
    other.finishBackgroundWork();
    QCOMPARE(other.currentRow(), 0);
    QCOMPARE(other.displayText(0, Field::Name), QStringLiteral("Samename 1"));
    QCOMPARE(other.field(Field::No).asInteger(), 17000);
}

void TestWork::aReadAheadIsTheTableAsItWasThen()
{
    // The window reads the table while it is built. Another copy's write after that read
    // and before the open shows at the next refresh, as any other copy's write does.
    TempProgramFolder folder;
    folder.makeTable(papers(50));
    Table mine;
    mine.setFileName(folder.tablePath());
    mine.readAhead();
    QThread::msleep(50); // the read of 50 records is long done
    Table theirs;
    theirs.setFileName(folder.tablePath());
    theirs.open();
    qint32 theirLastNo = 50;
    theirs.appendRecord({QStringLiteral("Aamulehti"), QString(), QString(), QString(), QString(), QString()},
                        theirLastNo);
    mine.open();
    QCOMPARE(mine.recordCount(), 50);
    mine.refresh();
    QCOMPARE(mine.recordCount(), 51);
    QVERIFY(mine.locate(Field::Name, QStringLiteral("Aamulehti")));
}

QTEST_GUILESS_MAIN(TestWork)
#include "test_work.moc"
