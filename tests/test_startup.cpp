// Start-up: the window's create sequence, its failures, the one recovery and the
// general error report.

#include "TestSupport.h"

#include "desktop/ErrorReport.h"
#include "desktop/ProgramStart.h"
#include "directory/Table.h"
#include "errors/AppError.h"
#include "errors/ErrorText.h"
#include "grid/DirectoryGrid.h"
#include "mainwindow/MainWindow.h"
#include "startup/ProgramTitle.h"
#include "startup/Startup.h"

#include <QComboBox>
#include <QDir>
#include <QtTest>

namespace {

class NamedProgram : public ProgramFolder
{
public:
    explicit NamedProgram(QString path)
        : m_path(std::move(path))
    {
    }
    QString programFilePath() const override { return m_path; }

private:
    QString m_path;
};

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void windowOpensInNameOrderWithLastNumber();
    void lastNumberFallsBackToZero_data();
    void lastNumberFallsBackToZero();
    void startsFromAnyWorkingDirectory();
    void missingTableFailsTheWindow();
    void unreadableListsAreReportedAndStartupGoesOn();
    void lastAttemptReportsWhatTheFirstKeepsQuiet();
    void recoveryRemovesEngineFilesAndRetriesOnce();
    void recoveryRetriesWhenNoFileExists();
    void errorReportAddsFullStopAfterLettersOnly_data();
    void errorReportAddsFullStopAfterLettersOnly();
    void programFolderAndTitleComeFromTheProgramFile();
};

void TestStartup::windowOpensInNameOrderWithLastNumber()
{
    TestPlatform t;
    t.folder.makeTable(
        {{3, "Zeta", "", "", "", "", ""}, {57, "Alpha", "", "", "", "", ""}, {9, "Mu", "", "", "", "", ""}});
    t.folder.writeFile(QStringLiteral("favorites.txt"), "Mu\r\n");
    t.folder.writeFile(QStringLiteral("history.txt"), "Zeta\r\nAlpha\r\n");
    MainWindow form(t.platform);
    QCOMPARE(form.windowTitle(), QStringLiteral("Kestrove Online Newspaper v6.88"));
    QCOMPARE(form.windowTitle(), ProgramTitle);
    QCOMPARE(form.lastNumber(), 57);
    QCOMPARE(form.table().order(), Field::Name);
    QVERIFY(!form.table().filtered());
    QCOMPARE(form.table().currentRow(), 0);
    QCOMPARE(form.table().field(Field::Name).asString(), QStringLiteral("Alpha"));
    QCOMPARE(grid(form)->currentIndex().row(), 0);
    QCOMPARE(favouritesBox(form)->count(), 1);
    QCOMPARE(historyBox(form)->itemText(0), QStringLiteral("Alpha")); // newest first
    QVERIFY(t.boxes.shown.empty());
}

void TestStartup::lastNumberFallsBackToZero_data()
{
    QTest::addColumn<qint64>("highest");
    QTest::addColumn<bool>("empty");
    QTest::newRow("empty table") << qint64(0) << true;
    QTest::newRow("number beyond 32 bits") << qint64(5000000000) << false;
}

void TestStartup::lastNumberFallsBackToZero()
{
    QFETCH(qint64, highest);
    QFETCH(bool, empty);
    TestPlatform t;
    if (empty)
        t.folder.makeTable();
    else
        t.folder.makeTable({{1, "One", "", "", "", "", ""}, {highest, "Big", "", "", "", "", ""}});
    MainWindow form(t.platform);
    QCOMPARE(form.lastNumber(), 0);
    QVERIFY(t.boxes.shown.empty());
    QCOMPARE(form.table().order(), Field::Name);
}

void TestStartup::startsFromAnyWorkingDirectory()
{
    TestPlatform t;
    t.folder.makeTable({{1, "One", "", "", "", "", ""}});
    const QString before = QDir::currentPath();
    QTemporaryDir elsewhere;
    QDir::setCurrent(elsewhere.path());
    MainWindow form(t.platform);
    QDir::setCurrent(before);
    QCOMPARE(form.table().recordCount(), 1);
    QVERIFY(!QFile::exists(elsewhere.path() + QStringLiteral("/Data/list.db")));
}

void TestStartup::missingTableFailsTheWindow()
{
    TestPlatform t; // no Data/list.db
    try {
        MainWindow form(t.platform);
        QFAIL("built a window without its table");
    } catch (const EngineError& error) {
        QVERIFY2(error.message().contains(t.folder.tablePath()), qPrintable(error.message()));
    }
    QVERIFY(!t.folder.exists(QStringLiteral("Data/list.db")));
    QVERIFY(t.boxes.shown.empty()); // the entry point decides what is shown
}

void TestStartup::unreadableListsAreReportedAndStartupGoesOn()
{
    TestPlatform t;
    t.folder.makeTable({{1, "Zeta", "", "", "", "", ""}, {2, "Alpha", "", "", "", "", ""}});
    QDir().mkpath(t.folder.path(QStringLiteral("favorites.txt"))); // exists, cannot be read
    t.folder.writeFile(QStringLiteral("history.txt"), "Zeta\r\n");
    const bool asRoot = runningAsRoot();
    if (!asRoot)
        QFile::setPermissions(t.folder.path(QStringLiteral("history.txt")), QFileDevice::WriteOwner);
    MainWindow form(t.platform);
    QStringList expected{QStringLiteral("Cannot open file %1.").arg(t.folder.path(QStringLiteral("favorites.txt")))};
    if (!asRoot)
        expected << QStringLiteral("Cannot open file %1.").arg(t.folder.path(QStringLiteral("history.txt")));
    QCOMPARE(t.boxes.errors(), expected);
    QCOMPARE(t.boxes.shown.front().caption, QStringLiteral("kestrove-news"));
    // Every other step still ran: the other list, the counter, the order, the first record.
    QCOMPARE(form.windowTitle(), ProgramTitle);
    QCOMPARE(historyBox(form)->count(), asRoot ? 1 : 0);
    QCOMPARE(form.lastNumber(), 2);
    QCOMPARE(form.table().order(), Field::Name);
    QCOMPARE(form.table().field(Field::Name).asString(), QStringLiteral("Alpha"));
}

void TestStartup::lastAttemptReportsWhatTheFirstKeepsQuiet()
{
    TestPlatform t;
    const auto failing = []() -> int { throw EngineError(QStringLiteral("Cannot open /x/Data/list.db: missing")); };
    QVERIFY_THROWS_EXCEPTION(EngineError, ProgramStart::attempt(t.platform, false, failing));
    QVERIFY(t.boxes.shown.empty());
    QCOMPARE(ProgramStart::attempt(t.platform, true, failing), 1);
    QCOMPARE(t.boxes.errors(), QStringList{QStringLiteral("Kestrove Online Newspaper v6.88 cannot start.\n\n"
                                                          "Cannot open /x/Data/list.db: missing.")});
    QCOMPARE(ProgramStart::attempt(t.platform, false, [] { return 0; }), 0);

    // With the recovery: a first attempt that fails is retried once and only the
    // second one's outcome shows.
    int attempts = 0;
    const int status = Startup::run(
        [&](bool last) {
            ++attempts;
            return ProgramStart::attempt(t.platform, last, failing);
        },
        t.folder.exePath());
    QCOMPARE(attempts, 2);
    QCOMPARE(status, 1);
    QCOMPARE(t.boxes.errors().size(), 2);
}

void TestStartup::recoveryRemovesEngineFilesAndRetriesOnce()
{
    TempProgramFolder folder;
    for (const QString& name : Startup::engineFiles())
        folder.writeFile(name, "library");
    folder.writeFile(QStringLiteral("other.dll"), "kept");
    QStringList seen;
    const int status = Startup::run(
        [&](bool last) -> int {
            seen << (last ? QStringLiteral("last") : QStringLiteral("first"));
            if (!last)
                throw EngineError(QStringLiteral("first attempt fails"));
            for (const QString& name : Startup::engineFiles()) {
                if (folder.exists(name))
                    return 7;
            }
            return 0;
        },
        folder.exePath());
    QCOMPARE(seen, (QStringList{"first", "last"}));
    QCOMPARE(status, 0);
    QVERIFY(folder.exists(QStringLiteral("other.dll")));

    // A first attempt that succeeds is the only one.
    seen.clear();
    QCOMPARE(Startup::run(
                 [&](bool) {
                     seen << QStringLiteral("once");
                     return 0;
                 },
                 folder.exePath()),
             0);
    QCOMPARE(seen, QStringList{"once"});
}

void TestStartup::recoveryRetriesWhenNoFileExists()
{
    TempProgramFolder folder;
    int attempts = 0;
    const int status = Startup::run(
        [&](bool last) -> int {
            ++attempts;
            if (!last)
                throw FileError::cannotOpen(QStringLiteral("x"));
            return 1; // the last attempt reports its own failure
        },
        folder.exePath());
    QCOMPARE(attempts, 2);
    QCOMPARE(status, 1);
    // Errors outside the program's own family are not caught.
    QVERIFY_THROWS_EXCEPTION(std::logic_error,
                             Startup::run([](bool) -> int { throw std::logic_error("bug"); }, folder.exePath()));
}

void TestStartup::errorReportAddsFullStopAfterLettersOnly_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter") << "Invalid variant type conversion"
                            << "Invalid variant type conversion.";
    QTest::newRow("full stop") << "Done."
                               << "Done.";
    QTest::newRow("bracket") << "Cannot open (read-only)"
                             << "Cannot open (read-only)";
    QTest::newRow("digit") << "Error 42"
                           << "Error 42.";
    QTest::newRow("slash") << "Cannot open file /tmp/"
                           << "Cannot open file /tmp/.";
    QTest::newRow("accented") << "Fehler é"
                              << "Fehler é.";
    QTest::newRow("empty") << ""
                           << "";
}

void TestStartup::errorReportAddsFullStopAfterLettersOnly()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(ErrorText::shown(message), shown);
    TestPlatform t;
    ErrorReport::guard(t.platform, nullptr, [&] { throw AppError(message); });
    QCOMPARE(t.boxes.shown.size(), size_t(1));
    QCOMPARE(t.boxes.shown[0].text, shown);
    QCOMPARE(t.boxes.shown[0].caption, QStringLiteral("kestrove-news"));
    QVERIFY(t.boxes.shown[0].style == MessageBoxes::Style::Error);
}

void TestStartup::programFolderAndTitleComeFromTheProgramFile()
{
    const NamedProgram program(QStringLiteral("/opt/kestrove/kestrove-news.bin.old"));
    QCOMPARE(program.exePath(), QStringLiteral("/opt/kestrove/"));
    QCOMPARE(program.applicationTitle(), QStringLiteral("kestrove-news"));
    QCOMPARE(NamedProgram(QStringLiteral("C:\\Kestrove\\News.exe")).applicationTitle(), QStringLiteral("News"));
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
