// The data tool's operations as a window runs them: progress told as they go, a cancel
// that leaves every file as it was, and a merge applied only to the table it was
// planned on. (The link check's are in test_linkcheck, beside its test servers.)

#include "CoreTestSupport.h"

#include "datatool/Csv.h"
#include "datatool/DataOperations.h"

#include <QBuffer>
#include <QFile>
#include <QtTest>

namespace {

// Progress as told: every "done", and the total, which must never change.
struct Told
{
    QList<qint64> done;
    qint64 total = -1;
    bool totalChanged = false;
    // Sets `cancel` once `at` is done.
    DbTool::Progress recorder(DbTool::CancelToken* cancel = nullptr, qint64 at = 0)
    {
        return [this, cancel, at](qint64 d, qint64 t) {
            totalChanged = totalChanged || (total >= 0 && t != total);
            total = t;
            done << d;
            if (cancel && d >= at)
                cancel->cancel();
        };
    }
};

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
};

void TestDataOps::importIsAllOrNothing()
{
    TempProgramFolder folder;
    folder.makeTable({{5, "Existing", "", "", "", "", ""}});
    folder.writeFile(QStringLiteral("in.csv"), papers(2000));
    const QString csv = folder.path(QStringLiteral("in.csv"));
    const QByteArray before = bytes(folder.tablePath());

    // Cancelled half-way: it stops soon after, and the file is byte for byte as it was.
    DbTool::CancelToken cancel;
    Told cancelled;
    QVERIFY_THROWS_EXCEPTION(DbTool::Cancelled,
                             DbTool::importCsv(folder.tablePath(), csv, cancelled.recorder(&cancel, 1000), &cancel));
    QCOMPARE(bytes(folder.tablePath()), before);
    QVERIFY(!cancelled.done.isEmpty() && cancelled.done.last() < 1500);

    Told told;
    const DbTool::ImportSummary summary = DbTool::importCsv(folder.tablePath(), csv, told.recorder());
    QCOMPARE(summary.added, 2000);
    QCOMPARE(summary.firstNo, 6);
    QCOMPARE(summary.lastNo, 2005);
    QCOMPARE(told.total, 2000);
    QVERIFY(!told.totalChanged && told.done.size() > 10 && std::is_sorted(told.done.begin(), told.done.end()));
    QCOMPARE(told.done.last(), 2000);
    QCOMPARE(queryValue(folder.tablePath(), "SELECT count(*) FROM newspapers"), QStringLiteral("2001"));
}

void TestDataOps::cancelledExportLeavesNoFile()
{
    TempProgramFolder folder;
    DbTool::generate(folder.tablePath(), 3000, 5);
    folder.writeFile(QStringLiteral("old.csv"), "old\n");
    const QStringList files = entries(folder.path(QString()));

    for (const QString& name : {QStringLiteral("old.csv"), QStringLiteral("new.csv")}) {
        DbTool::CancelToken cancel;
        Told told;
        QVERIFY_THROWS_EXCEPTION(DbTool::Cancelled, DbTool::exportCsv(folder.tablePath(), folder.path(name),
                                                                      told.recorder(&cancel, 1500), &cancel));
        QVERIFY(told.done.last() < 2000);
    }
    QCOMPARE(folder.readFile(QStringLiteral("old.csv")), QByteArray("old\n"));
    QCOMPARE(entries(folder.path(QString())), files); // nothing new, no temporary file left

    Told told;
    QCOMPARE(DbTool::exportCsv(folder.tablePath(), folder.path(QStringLiteral("old.csv")), told.recorder()), 3000);
    QCOMPARE(told.done.last(), 3000);
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
    Told told;
    merge::Plan planned = merge::plan(db, newer, base, told.recorder());
    QCOMPARE(told.done, (QList<qint64>{0, 1, 2, 3, 4}));
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
    DbTool::CancelToken cancel;
    cancel.cancel();
    QVERIFY_THROWS_EXCEPTION(DbTool::Cancelled, merge::apply(planned, {}, &cancel));
    QCOMPARE(bytes(db), written);
    Told applied;
    merge::apply(planned, applied.recorder());
    QCOMPARE(applied.done.last(), 3);
    QCOMPARE(queryValue(db, "SELECT group_concat(No || ' ' || Name || ' ' || ifnull(Category, ''), '; ') FROM "
                            "(SELECT * FROM newspapers ORDER BY No)"),
             QStringLiteral("1 Alpha News; 7 Written meanwhile ; 8 Gamma "));
    QVERIFY_THROWS_EXCEPTION(AppError, merge::apply(planned)); // once only
}

QTEST_GUILESS_MAIN(TestDataOps)
#include "test_dataops.moc"
