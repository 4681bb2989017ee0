// The data tool's operations as a window runs them: progress told as they go, a cancel
// that leaves every file as it was, and a merge applied only to the table it was
// planned on. (The link check's are in test_linkcheck, beside its test servers.)

#include "CoreTestSupport.h"

#include "datatool/AddressKey.h"
#include "datatool/Csv.h"
#include "datatool/DataOperations.h"
#include "directory/Table.h"

#include <QBuffer>
#include <QFile>
#include <QtTest>
#include <atomic>
#include <thread>

namespace {

// Runs `operation` with a Progress that a thread of its own cancels as soon as `at`
// records are done, so the cancel lands in the middle of the writing.
template <class Operation>
void cancelWhenDone(Progress& progress, qint64 at, Operation operation)
{
    std::atomic<bool> over{false};
    std::thread watcher([&] {
        while (!over && progress.done() < at)
            std::this_thread::yield();
        progress.cancel();
    });
    try {
        operation();
    } catch (...) {
        over = true;
        watcher.join();
        throw;
    }
    over = true;
    watcher.join();
}

QByteArray bytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray papers(int count)
{
    QByteArray csv = "Name,Url,Country,State,City,Category\n";
    for (int i = 1; i <= count; ++i)
        csv += Csv::formatRecord({QStringLiteral("Paper %1").arg(i), QStringLiteral("https://p%1.example.com/").arg(i),
                                  QStringLiteral("Chile"), QString(), QString(), QString()});
    return csv;
}

} // namespace

class TestDataOps : public QObject
{
    Q_OBJECT

private slots:
    void importIsAllOrNothing();
    void cancelledExportLeavesNoFile();
    void mergeIsAppliedOnlyToThePlannedTable();
    void addressFoundByTheMergesRule();
};

void TestDataOps::importIsAllOrNothing()
{
    TempProgramFolder folder;
    folder.makeTable({{5, "Existing", "", "", "", "", ""}});
    folder.writeFile(QStringLiteral("in.csv"), papers(20000));
    const QString csv = folder.path(QStringLiteral("in.csv"));
    const QByteArray before = bytes(folder.tablePath());

    // Cancelled while writing: it stops soon after, and the file is byte for byte as it was.
    Progress cancelled;
    QVERIFY_THROWS_EXCEPTION(
        WorkCancelled, cancelWhenDone(cancelled, 1000, [&] { DbTool::importCsv(folder.tablePath(), csv, cancelled); }));
    QCOMPARE(bytes(folder.tablePath()), before);
    QCOMPARE(cancelled.step(), 1);
    QVERIFY2(cancelled.done() >= 1000 && cancelled.done() < 20000, qPrintable(QString::number(cancelled.done())));

    Progress told;
    const DbTool::ImportSummary summary = DbTool::importCsv(folder.tablePath(), csv, told);
    QCOMPARE(summary.added, 20000);
    QCOMPARE(summary.firstNo, 6);
    QCOMPARE(summary.lastNo, 20005);
    QCOMPARE(told.total(), 20000);
    QCOMPARE(told.done(), 20000);
    QCOMPARE(queryValue(folder.tablePath(), "SELECT count(*) FROM newspapers"), QStringLiteral("20001"));
}

void TestDataOps::cancelledExportLeavesNoFile()
{
    TempProgramFolder folder;
    DbTool::generate(folder.tablePath(), 3000, 5);
    folder.writeFile(QStringLiteral("old.csv"), "old\n");
    const QStringList files = entries(folder.path(QString()));

    for (const QString& name : {QStringLiteral("old.csv"), QStringLiteral("new.csv")}) {
        Progress told;
        told.cancel();
        QVERIFY_THROWS_EXCEPTION(WorkCancelled, DbTool::exportCsv(folder.tablePath(), folder.path(name), told));
        QVERIFY(told.done() < 3000);
    }
    QCOMPARE(folder.readFile(QStringLiteral("old.csv")), QByteArray("old\n"));
    QCOMPARE(entries(folder.path(QString())), files); // nothing new, no temporary file left

    Progress told;
    QCOMPARE(DbTool::exportCsv(folder.tablePath(), folder.path(QStringLiteral("old.csv")), told), 3000);
    QCOMPARE(told.total(), 3000);
    QCOMPARE(told.done(), 3000);
    QBuffer whole;
    whole.open(QIODevice::WriteOnly);
    DbTool::exportCsv(folder.tablePath(), whole);
    QCOMPARE(folder.readFile(QStringLiteral("old.csv")), whole.data());
}

void TestDataOps::mergeIsAppliedOnlyToThePlannedTable()
{
    TempProgramFolder folder;
    folder.makeTable({{1, "Alpha", "https://a.example.com/", "Peru", "", "", ""},
                      {2, "Beta", "https://b.example.com/", "Peru", "", "", ""}});
    folder.writeFile(QStringLiteral("base.csv"), "Name,Url,Country,State,City,Category\n"
                                                 "Alpha,https://a.example.com/,Peru,,,\n"
                                                 "Beta,https://b.example.com/,Peru,,,\n");
    folder.writeFile(QStringLiteral("newer.csv"), "Name,Url,Country,State,City,Category\n"
                                                  "Alpha,https://a.example.com/,Peru,,,News\n"
                                                  "Gamma,https://g.example.com/,Peru,,,\n");
    const QString db = folder.tablePath();
    const QString newer = folder.path(QStringLiteral("newer.csv"));
    const QString base = folder.path(QStringLiteral("base.csv"));

    // Planned: the report is there, the table only read.
    const QByteArray before = bytes(db);
    Progress told;
    merge::Plan planned = merge::plan(db, newer, base, told);
    QCOMPARE(told.done(), 4);
    QCOMPARE(told.total(), 4);
    QCOMPARE(planned.result().count(merge::Action::Added), 1);
    QCOMPARE(planned.result().count(merge::Action::Updated), 1);
    QCOMPARE(planned.result().count(merge::Action::Removed), 1);
    QCOMPARE(bytes(db), before);

    // Another program writes meanwhile: the plan is refused, and the table keeps that write only.
    insertRows(db, {{7, "Written meanwhile", "", "", "", "", ""}});
    const QByteArray written = bytes(db);
    try {
        merge::apply(planned);
        QFAIL("a plan was applied to a table changed after it");
    } catch (const AppError& error) {
        QVERIFY2(error.message().contains(QStringLiteral("changed after the merge was planned")),
                 qPrintable(error.message()));
    }
    QCOMPARE(bytes(db), written);

    // Planned again: a cancel leaves the table as it was, and the plan can still be applied.
    planned = merge::plan(db, newer, base);
    Progress cancelled;
    cancelled.cancel();
    QVERIFY_THROWS_EXCEPTION(WorkCancelled, merge::apply(planned, cancelled));
    QCOMPARE(bytes(db), written);
    Progress applied;
    merge::apply(planned, applied);
    QCOMPARE(applied.done(), 3);
    QCOMPARE(applied.total(), 3);
    QCOMPARE(queryValue(db, "SELECT group_concat(No || ' ' || Name || ' ' || ifnull(Category, ''), '; ') FROM "
                            "(SELECT * FROM newspapers ORDER BY No)"),
             QStringLiteral("1 Alpha News; 7 Written meanwhile ; 8 Gamma "));
    QVERIFY_THROWS_EXCEPTION(AppError, merge::apply(planned)); // once only
}

void TestDataOps::addressFoundByTheMergesRule()
{
    TempProgramFolder folder;
    folder.makeTable({{3, "Later", "https://www.example.com/News/", "", "", "", ""},
                      {1, "First", "HTTP://WWW.Example.COM/News", "", "", "", ""},
                      {2, "Munich", "https://MÜNCHEN.example.de/", "", "", "", ""},
                      {4, "", "https://a_b.example.org/", "", "", "", ""}});
    Table table;
    table.setFileName(folder.tablePath());
    table.open();
    auto holder = [&](const char* address) {
        const AddressKey::Wanted wanted = AddressKey::wanted(QString::fromUtf8(address));
        const auto found = table.firstWhere(Field::Url, [&](std::optional<std::string_view> url) {
            return url && AddressKey::sameAddress(*url, wanted);
        });
        return found ? QStringLiteral("%1 %2").arg(found->no).arg(QString::fromUtf8(found->name.value_or("")))
                     : QStringLiteral("none");
    };
    QCOMPARE(holder("example.com/News"), QStringLiteral("1 First")); // the first by No
    QCOMPARE(holder(" https://example.com/News/ "), QStringLiteral("1 First"));
    QCOMPARE(holder("https://example.com/news"), QStringLiteral("none")); // the path keeps its case
    QCOMPARE(holder("http://münchen.example.de"), QStringLiteral("2 Munich"));
    QCOMPARE(holder("https://a_b.example.org"), QStringLiteral("4 "));
    QCOMPARE(holder("   "), QStringLiteral("none"));
}

QTEST_GUILESS_MAIN(TestDataOps)
#include "test_dataops.moc"
