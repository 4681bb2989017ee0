// The link checker and the data tool's check-links command, against small HTTP servers
// on the loopback interface.

#include "CoreTestSupport.h"
#include "LinkTestServer.h"

#include "datatool/DbTool.h"
#include "datatool/links/LinkChecker.h"
#include "datatool/links/LinkCommand.h"
#include "datatool/links/LinkOperations.h"
#include "directory/Sqlite.h"

#include <QBuffer>
#include <QProcess>
#include <QThread>
#include <QtTest>
#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace links;

namespace {

QByteArray exported(const QString& db)
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    DbTool::exportCsv(db, out);
    return out.data();
}

} // namespace

class TestLinkCheck : public QObject
{
    Q_OBJECT

private slots:
    void everyKindOfAnswerGetsItsVerdict();
    void requestsAreLimitedPerHostAndInAll();
    void commandWritesReportAndExitStatus();
    void applyRedirectsChangesOnlyMovedRecords();
    void interruptKeepsWhatWasChecked();
    void windowChecksOnAWorkerAndActsOnlyOnUnchangedRecords();
    void reportThatCannotBeWrittenChangesNothing();
};

void TestLinkCheck::everyKindOfAnswerGetsItsVerdict()
{
    TestServer server;
    QVERIFY(server.listening);
    const QString h = server.base;
    const QString closed = QStringLiteral("http://127.0.0.1:%1/").arg(closedPort());
    struct Case
    {
        QString url;
        Verdict verdict;
        int status;
        QString finalUrl;
        QString reason; // the reason starts with this
    };
    const std::vector<Case> cases = {
        {h + "/ok", Verdict::Ok, 200, h + "/ok", ""},
        {h + "/moved", Verdict::Moved, 200, h + "/ok", "301 to " + h + "/ok"},
        {h + "/permanent", Verdict::Moved, 200, h + "/ok", "308 to " + h + "/ok"},
        {h + "/dir/relative", Verdict::Moved, 200, h + "/ok", "301 to " + h + "/ok"},
        {h + "/mixed", Verdict::Moved, 200, h + "/temp", "301 to " + h + "/temp, then 302 to " + h + "/ok?lang=en"},
        {h + "/chain/1", Verdict::Moved, 200, h + "/chain/6", "301 to " + h + "/chain/2"},
        {h + "/found", Verdict::Redirected, 200, h + "/ok", "302 to " + h + "/ok"},
        {h + "/missing", Verdict::Broken, 404, h + "/missing", "404 Not Found"},
        {h + "/error", Verdict::Broken, 500, h + "/error", "500 Internal Server Error"},
        {h + "/no-head", Verdict::Ok, 200, h + "/no-head", ""},
        {h + "/chain/0", Verdict::Unreachable, 301, h + "/chain/5", "301 to"},
        {h + "/loop-a", Verdict::Unreachable, 302, h + "/loop-b", "302 to"},
        {h + "/to-mail", Verdict::Unreachable, 301, h + "/to-mail",
         "redirect to a non-web address mailto:desk@example.com"},
        {h + "/slow", Verdict::Unreachable, 0, h + "/slow", "no answer within 1 s"},
        {h + "/reset", Verdict::Unreachable, 0, h + "/reset", "connection closed by the server"},
        {closed, Verdict::Unreachable, 0, closed, "connection refused"},
        {h.mid(7) + "/ok", Verdict::Unreachable, 0, "https://" + h.mid(7) + "/ok", "TLS handshake failed"},
        {"javascript:alert(1)", Verdict::Refused, 0, "", "not a web address"},
        {"", Verdict::Refused, 0, "", "no address"},
    };
    std::vector<LinkTarget> targets;
    for (const Case& c : cases)
        targets.push_back({static_cast<qint64>(targets.size() + 1), QString(), c.url});
    LinkChecker checker(targets, {16, 1000, {}});
    checker.run();

    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const std::optional<LinkResult>& r = checker.result(i);
        QVERIFY2(r, qPrintable(c.url));
        const QString got =
            QStringLiteral("%1 %2 %3 %4").arg(verdictName(r->verdict)).arg(r->status).arg(r->finalUrl, r->reason);
        QVERIFY2(r->verdict == c.verdict && r->status == c.status && r->finalUrl == c.finalUrl &&
                     r->reason.left(c.reason.size()) == c.reason,
                 qPrintable(c.url + QStringLiteral(" gave ") + got));
    }
    QVERIFY(checker.result(10)->reason.endsWith(QLatin1String("more than 5 redirects")));
    QVERIFY(checker.result(11)->reason.endsWith(QLatin1String("redirect loop")));
    QCOMPARE(server.requests.count(QStringLiteral("HEAD /no-head")), 1);
    QCOMPARE(server.requests.count(QStringLiteral("GET /no-head")), 1);
    QCOMPARE(server.requests.filter(QStringLiteral("GET")).size(), 1); // GET only where HEAD is refused
    QCOMPARE(server.userAgent, QByteArray("kestrove-db/6.88 (Kestrove Online Newspaper link checker)"));
}

void TestLinkCheck::requestsAreLimitedPerHostAndInAll()
{
    int inFlight = 0;
    int maxInFlight = 0;
    TestServer first;
    TestServer second(QStringLiteral("127.0.0.2"));
    QVERIFY(first.listening && second.listening);
    std::vector<LinkTarget> targets;
    for (int i = 0; i < 18; ++i) {
        const TestServer& server = i % 3 == 2 ? second : first;
        targets.push_back({i + 1, QString(), server.url(QStringLiteral("/held/%1").arg(i))});
    }
    for (TestServer* server : {&first, &second}) {
        server->sharedInFlight = &inFlight;
        server->sharedMax = &maxInFlight;
    }
    LinkChecker checker(targets, {3, 5000, {}});
    checker.run();
    QCOMPARE(checker.count(Verdict::Ok), 18);
    QVERIFY(first.maxInFlight <= LinkChecker::PerHostLimit);
    QVERIFY(second.maxInFlight <= LinkChecker::PerHostLimit);
    // Three at once over two hosts: one host took two, so neither limit is stricter than it should be.
    QCOMPARE(maxInFlight, 3);
}

void TestLinkCheck::commandWritesReportAndExitStatus()
{
    TestServer server;
    QVERIFY(server.listening);
    const QString h = server.base;
    TempProgramFolder folder;
    folder.makeTable({{2, "Courier, The", h + "/moved", "", "", "", ""},
                      {1, "He said \"hi\"", h + "/missing", "", "", "", ""},
                      {3, "Plain", "javascript:x", "", "", "", ""}});
    const QByteArray before = folder.readFile(QStringLiteral("Data/list.db"));
    const QString report = folder.path(QStringLiteral("report.csv"));
    QCOMPARE(DbTool::run({"check-links", folder.tablePath(), "--report", report, "--jobs=4", "--timeout", "2.5"}), 1);
    const QString expected = "No,Name,Url,Verdict,Status,FinalUrl,Reason\n"
                             "1,\"He said \"\"hi\"\"\"," +
                             h + "/missing,broken,404," + h + "/missing,404 Not Found\n" + "2,\"Courier, The\"," + h +
                             "/moved,moved,200," + h + "/ok,301 to " + h + "/ok\n" +
                             "3,Plain,javascript:x,refused,,,not a web address\n";
    QCOMPARE(QString::fromUtf8(folder.readFile(QStringLiteral("report.csv"))), expected);
    QCOMPARE(folder.readFile(QStringLiteral("Data/list.db")), before); // read only

    folder.makeTable({{1, "A", h + "/ok", "", "", "", ""}, {2, "B", h + "/found", "", "", "", ""}});
    QCOMPARE(DbTool::run({"check-links", folder.tablePath()}), 0);

    folder.writeFile(QStringLiteral("plain.db"), "not a database");
    const QList<QStringList> wrong = {
        {},
        {"--jobs", "4"},
        {folder.tablePath(), "--jobs", "0"},
        {folder.tablePath(), "--jobs", "two"},
        {folder.tablePath(), "--jobs"},
        {folder.tablePath(), "--timeout", "0"},
        {folder.tablePath(), "--timeout", "-1"},
        {folder.tablePath(), "--report", "-r.csv"},
        {folder.tablePath(), "--frobnicate"},
        {folder.tablePath(), folder.tablePath()},
        {"-" + folder.tablePath()},
        {folder.path(QStringLiteral("missing.db"))},
        {folder.path(QStringLiteral("plain.db"))},
        {folder.tablePath(), "--report", folder.path(QStringLiteral("no/such/folder/r.csv"))},
    };
    for (const QStringList& args : wrong)
        QVERIFY2(DbTool::run(QStringList{"check-links"} + args) == 2, qPrintable(args.join(' ')));
    QVERIFY(!folder.exists(QStringLiteral("missing.db")));
}

void TestLinkCheck::applyRedirectsChangesOnlyMovedRecords()
{
    TestServer server;
    QVERIFY(server.listening);
    const QString h = server.base;
    TempProgramFolder folder;
    folder.makeTable({{1, "Moved", h + "/moved", "Canada", "ON", "Toronto", "Business"},
                      {2, "Fine", h + "/ok", "", "", "", ""},
                      {3, "Mixed", h + "/mixed", "", "", "", "Sports"},
                      {4, "Gone", h + "/missing", "", "", "", ""},
                      {5, "Temporary", h + "/found", "", "", "", ""},
                      {6, "Raced", h + "/raced", "", "", "", ""},
                      {7, "Local", "file:///etc/passwd", "", "", "", ""}});
    // Another copy of the program edits record 6 while it is being checked.
    server.onRequest = [&](const QString& path) {
        if (path == QLatin1String("/raced")) {
            sqlite::Database db(folder.tablePath(), sqlite::Database::Mode::ReadWrite);
            db.exec("UPDATE newspapers SET Url = 'https://edited.example.com/' WHERE No = 6");
        }
    };
    QByteArray expected = exported(folder.tablePath());
    expected.replace((h + "/moved").toUtf8(), (h + "/ok").toUtf8());
    expected.replace((h + "/mixed").toUtf8(), (h + "/temp").toUtf8());
    expected.replace((h + "/raced").toUtf8(), "https://edited.example.com/");

    QCOMPARE(DbTool::run({"check-links", "--apply-redirects", folder.tablePath()}), 1);
    QCOMPARE(exported(folder.tablePath()), expected);
    QVERIFY(DbTool::check(folder.tablePath()).isEmpty());
}

void TestLinkCheck::interruptKeepsWhatWasChecked()
{
#ifdef __SANITIZE_THREAD__
    // QProcess starts the tool with vfork; a sanitizer lock another thread holds at that
    // moment can hang the child before it runs the tool, and this test waits on it.
    QSKIP("the tool's own process is not started reliably under ThreadSanitizer");
#endif
    TestServer server;
    QVERIFY(server.listening);
    const QString h = server.base;
    TempProgramFolder folder;
    folder.makeTable({{1, "A", h + "/ok", "", "", "", ""},
                      {2, "B", h + "/moved", "", "", "", ""},
                      {3, "C", h + "/missing", "", "", "", ""},
                      {4, "D", h + "/slow", "", "", "", ""},
                      {5, "E", h + "/slow", "", "", "", ""}});
    const QByteArray before = folder.readFile(QStringLiteral("Data/list.db"));
    QProcess tool;
    tool.start(QStringLiteral(KESTROVE_DB), {"check-links", folder.tablePath(), "--report",
                                             folder.path(QStringLiteral("r.csv")), "--apply-redirects"});
    QVERIFY(tool.waitForStarted());
    // One host takes two requests at a time in No order, so both slow requests are under
    // way only once the first three records are done.
    QTRY_COMPARE_WITH_TIMEOUT(server.requests.count(QStringLiteral("HEAD /slow")), 2, 20000);
    ::kill(static_cast<pid_t>(tool.processId()), SIGINT);
    QTRY_COMPARE_WITH_TIMEOUT(tool.state(), QProcess::NotRunning, 20000);
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), ExitInterrupted);
    QVERIFY(tool.readAllStandardOutput().contains("Interrupted: checked 3 of 5"));
    const QList<QByteArray> rows = folder.readFile(QStringLiteral("r.csv")).split('\n');
    QCOMPARE(rows.size(), 5); // header, three records, the end of the last line
    QVERIFY(rows[1].startsWith("1,A,") && rows[2].startsWith("2,B,") && rows[3].startsWith("3,C,"));
    QCOMPARE(folder.readFile(QStringLiteral("Data/list.db")), before); // no changes after an interrupt
}

void TestLinkCheck::windowChecksOnAWorkerAndActsOnlyOnUnchangedRecords()
{
    TestServer server;
    QVERIFY(server.listening);
    const QString h = server.base;
    TempProgramFolder folder;
    folder.makeTable({{1, "Moved", h + "/moved", "Peru", "", "", ""},
                      {2, "Raced", h + "/permanent", "Peru", "", "", "News"},
                      {3, "Gone", h + "/missing", "", "", "", ""},
                      {4, "Also gone", h + "/error", "", "", "", ""},
                      {5, "Slow", h + "/slow", "", "", "", ""}});

    // On a worker with an event loop of its own, while this thread serves the answers and
    // watches its progress; cancelled once only the slow one is left.
    Progress progress;
    TableCheck check;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        check = checkTable(folder.tablePath(), {4, 30000, {}}, progress);
    }));
    worker->start();
    QTRY_COMPARE_WITH_TIMEOUT(progress.done(), 4, 20000);
    QCOMPARE(progress.total(), 5);
    QCOMPARE(progress.tally(static_cast<int>(Verdict::Moved)), 2);
    QCOMPARE(progress.tally(static_cast<int>(Verdict::Broken)), 2);
    progress.cancel();
    QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 20000);
    worker->wait();
    QVERIFY(check.cancelled);
    QCOMPARE(check.tally.done, 4);
    QCOMPARE(check.records.size(), size_t(5));
    QCOMPARE(check.records[1].result->verdict, Verdict::Moved);
    QCOMPARE(check.records[2].result->verdict, Verdict::Broken);
    QVERIFY(!check.records[4].result);

    // Another program edits record 2 (not its address) and deletes record 4 meanwhile.
    queryValue(folder.tablePath(), "UPDATE newspapers SET Category = 'Sports' WHERE No = 2");
    queryValue(folder.tablePath(), "DELETE FROM newspapers WHERE No = 4");
    const std::vector<ChangeOutcome> moved =
        applyNewAddresses(folder.tablePath(), {{check.records[0].record, check.records[0].result->finalUrl},
                                               {check.records[1].record, check.records[1].result->finalUrl},
                                               {check.records[2].record, QStringLiteral("javascript:alert(1)")}});
    QCOMPARE(moved, (std::vector<ChangeOutcome>{ChangeOutcome::Done, ChangeOutcome::ChangedElsewhere,
                                                ChangeOutcome::NotAWebAddress}));
    const std::vector<ChangeOutcome> deleted =
        deleteRecords(folder.tablePath(), {check.records[2].record, check.records[3].record});
    QCOMPARE(deleted, (std::vector<ChangeOutcome>{ChangeOutcome::Done, ChangeOutcome::ChangedElsewhere}));
    QCOMPARE(queryValue(folder.tablePath(), "SELECT group_concat(No || ' ' || Url || ' ' || ifnull(Category, ''), "
                                            "'; ') FROM (SELECT * FROM newspapers ORDER BY No)"),
             QStringLiteral("1 %1/ok ; 2 %1/permanent Sports; 5 %1/slow ").arg(h));
}

void TestLinkCheck::reportThatCannotBeWrittenChangesNothing()
{
    if (!runningAsRoot())
        QSKIP("making a device node needs root");
    TestServer server;
    QVERIFY(server.listening);
    TempProgramFolder folder;
    folder.makeTable({{1, "Moved", server.url(QStringLiteral("/moved")), "", "", "", ""}});
    // A device of our own that is always full, never the system's.
    const QString full = folder.path(QStringLiteral("full"));
    if (::mknod(QFile::encodeName(full).constData(), S_IFCHR | 0666, makedev(1, 7)) != 0 ||
        !QFile(full).open(QIODevice::WriteOnly))
        QSKIP("this system does not allow device nodes here");
    const QByteArray before = folder.readFile(QStringLiteral("Data/list.db"));
    QCOMPARE(DbTool::run({"check-links", folder.tablePath(), "--apply-redirects", "--report", full}), 2);
    QCOMPARE(folder.readFile(QStringLiteral("Data/list.db")), before);
    struct stat info;
    QVERIFY(::stat(QFile::encodeName(full).constData(), &info) == 0 && S_ISCHR(info.st_mode));
}

QTEST_GUILESS_MAIN(TestLinkCheck)
#include "test_linkcheck.moc"
