// Where the data lives: the installed and the portable layout, the first start's copy
// of the starter directory and its failures, and the command line read before any window.

#include "CoreTestSupport.h"

#include "directory/Table.h"
#include "errors/AppError.h"
#include "startup/CommandLine.h"
#include "startup/DataLocation.h"
#include "startup/StarterUpdate.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

namespace {

const std::vector<Row> Starter = {{1, "Alpha Post", "https://alpha.example.com/", "", "", "", ""},
                                  {2, "Beta Times", "https://beta.example.com/", "", "", "", ""}};

QString prepareError(const DataLocation& location)
{
    try {
        location.prepare();
    } catch (const AppError& error) {
        return error.message();
    }
    return QString();
}

QByteArray bytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QString names(const QString& table)
{
    return queryValue(table, "SELECT group_concat(No || ' ' || Name || ' ' || ifnull(Url, '') || ' ' || "
                             "ifnull(Category, ''), '; ') FROM (SELECT * FROM newspapers ORDER BY No)");
}

QList<qint64> counts(const StarterUpdate::Outcome& outcome)
{
    return {outcome.added, outcome.updated, outcome.removed, outcome.conflicts};
}

} // namespace

class TestLayout : public QObject
{
    Q_OBJECT

private slots:
    void layoutFollowsTheProgramFilesPlace_data();
    void layoutFollowsTheProgramFilesPlace();
    void installedWithoutAnyHomeIsRefused();
    void firstStartCopiesTheStarterOnceAndPortableIsLeftAlone();
    void damagedStarterLeavesNoCopy_data();
    void damagedStarterLeavesNoCopy();
    void failedCopyLeavesNothingAndTheNextStartCopies();
    void newerStarterIsMergedOnceIntoTheUsersCopy();
    void copyWithoutABaseOnlyGainsAndAFailedMergeChangesNothing();
    void lostBaseStopsTheMergeUntilItIsSound();
    void unusableDataFolderIsReported_data();
    void unusableDataFolderIsReported();
    void commandLine_data();
    void commandLine();
};

void TestLayout::layoutFollowsTheProgramFilesPlace_data()
{
    QTest::addColumn<QString>("program");   // relative to the temporary directory
    QTest::addColumn<QStringList>("files"); // made there first
    QTest::addColumn<QString>("xdgDataHome");
    QTest::addColumn<QString>("folder"); // expected, relative to it
    QTest::addColumn<bool>("installed");
    const QStringList starter{"usr/share/kestrove-news/list.db"};
    const QString home = QStringLiteral("home/.local/share/kestrove-news/");
    QTest::newRow("install tree") << "usr/bin/kestrove-news" << starter << "" << home << true;
    QTest::newRow("install tree, XDG_DATA_HOME") << "usr/bin/kestrove-news" << starter << "@/xdg/"
                                                 << "xdg/kestrove-news/" << true;
    QTest::newRow("install tree, relative XDG_DATA_HOME ignored")
        << "usr/bin/kestrove-news" << starter << "xdg" << home << true;
    QTest::newRow("build folder") << "build/kestrove-news"
                                  << QStringList{"build/Data/list.db", "build/starter/list.db",
                                                 "share/kestrove-news/list.db"}
                                  << ""
                                  << "build/" << false;
    QTest::newRow("folder named bin without the starter")
        << "bin/kestrove-news" << QStringList{"bin/Data/list.db"} << ""
        << "bin/" << false;
    QTest::newRow("starter that is a folder")
        << "usr/bin/kestrove-news" << QStringList{"usr/share/kestrove-news/list.db/x"} << ""
        << "usr/bin/" << false;
    QTest::newRow("copied program with its table") << "copy/kestrove-news" << QStringList{"copy/Data/list.db"} << ""
                                                   << "copy/" << false;
    QTest::newRow("copied program alone") << "copy/kestrove-news" << QStringList{} << ""
                                          << "copy/" << false;
}

void TestLayout::layoutFollowsTheProgramFilesPlace()
{
    QFETCH(QString, program);
    QFETCH(QStringList, files);
    QFETCH(QString, xdgDataHome);
    QFETCH(QString, folder);
    QFETCH(bool, installed);
    QTemporaryDir dir;
    const QString root = dir.path() + QLatin1Char('/');
    for (const QString& file : files) {
        QDir().mkpath(QFileInfo(root + file).absolutePath());
        QFile(root + file).open(QIODevice::WriteOnly);
    }
    xdgDataHome.replace(QLatin1Char('@'), dir.path());
    const DataLocation location =
        DataLocation::choose(root + program, {xdgDataHome, root + QStringLiteral("home"), QString()});
    QCOMPARE(location.folder(), root + folder);
    QCOMPARE(location.installed(), installed);
    QCOMPARE(location.tablePath(), root + folder + QStringLiteral("Data/list.db"));
    // The cache is derived data: in the user's cache folder when installed, where backups
    // of the data folder do not take it; beside the table when portable.
    QCOMPARE(location.cachePath(), installed ? root + QStringLiteral("home/.cache/kestrove-news/list.db.cache")
                                             : location.tablePath() + QStringLiteral(".cache"));
}

void TestLayout::installedWithoutAnyHomeIsRefused()
{
    TempInstall install;
    QVERIFY_THROWS_EXCEPTION(AppError,
                             DataLocation::choose(install.programFilePath(), {QString(), QString(), QString()}));
    QVERIFY_THROWS_EXCEPTION(AppError, DataLocation::choose(install.programFilePath(), {"xdg", "home", "cache"}));
    // A portable program needs neither.
    QCOMPARE(DataLocation::choose(install.path("kestrove-news"), {}).folder(), install.path(QString()));
}

void TestLayout::firstStartCopiesTheStarterOnceAndPortableIsLeftAlone()
{
    TempInstall install(Starter);
    const DataLocation location = install.dataLocation();
    QVERIFY(location.installed());
    QCOMPARE(location.folder(), install.userPath(QString()));
    location.prepare();
    // The starter is also kept as the base of later merges; no temporary file is left.
    QCOMPARE(entries(install.userPath("Data")), (QStringList{"base-version", "base.db", "list.db"}));
    QCOMPARE(queryValue(location.tablePath(), "SELECT group_concat(Name, '|') FROM newspapers"),
             QStringLiteral("Alpha Post|Beta Times"));
    QCOMPARE(bytes(location.basePath()), bytes(install.starterPath()));
    QCOMPARE(bytes(location.baseVersionPath()), QByteArray("1\n"));
    QVERIFY(!(QFileInfo(install.userPath(QString())).permissions() & QFileDevice::ReadOther)); // private

    // The table's cache goes to the user's cache folder, made private, and the data tool
    // finds the same place from the table's path; any other table keeps it beside.
    {
        Table table;
        table.setFileName(location.tablePath());
        table.setCacheFile(location.cachePath());
        table.open();
        QVERIFY(table.saveCache());
    }
    QCOMPARE(entries(install.path("home/.cache/kestrove-news")), QStringList{"list.db.cache"});
    QVERIFY(!(QFileInfo(install.path("home/.cache/kestrove-news")).permissions() & QFileDevice::ReadOther));
    QCOMPARE(entries(install.userPath("Data")), (QStringList{"base-version", "base.db", "list.db"}));
    QCOMPARE(DataLocation::cachePathFor(location.tablePath(), install.env), location.cachePath());
    QCOMPARE(DataLocation::cachePathFor(location.basePath(), install.env), location.basePath() + ".cache");

    // The user's own table is never replaced by a later start.
    insertRows(location.tablePath(), {{3, "Added", "", "", "", "", ""}});
    location.prepare();
    QCOMPARE(queryValue(location.tablePath(), "SELECT count(*) FROM newspapers"), QStringLiteral("3"));
    QCOMPARE(queryValue(install.starterPath(), "SELECT count(*) FROM newspapers"), QStringLiteral("2"));

    // A portable folder is left as it is, even without its table: start-up reports that.
    const DataLocation portable = DataLocation::choose(install.path("portable/kestrove-news"), install.env);
    QVERIFY(!portable.installed());
    const QStringList homeBefore = entries(install.path("home/.local/share"));
    portable.prepare();
    QVERIFY(!QFileInfo::exists(install.path("portable")));
    QCOMPARE(entries(install.path("home/.local/share")), homeBefore);
}

void TestLayout::damagedStarterLeavesNoCopy_data()
{
    QTest::addColumn<QByteArray>("sql"); // run on the starter; empty: overwrite it with text
    QTest::addColumn<QString>("reason");
    QTest::newRow("not a database") << QByteArray() << "file is not a database";
    QTest::newRow("another table") << QByteArray("DROP TABLE newspapers") << "not a directory table";
}

void TestLayout::damagedStarterLeavesNoCopy()
{
    QFETCH(QByteArray, sql);
    QFETCH(QString, reason);
    TempInstall install(Starter);
    const QByteArray good = [&] {
        QFile file(install.starterPath());
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }();
    if (sql.isEmpty()) {
        QFile file(install.starterPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("No,Name\n1,Alpha Post\n");
    } else {
        queryValue(install.starterPath(), sql.constData());
    }
    const DataLocation location = install.dataLocation();
    const QString message = prepareError(location);
    QVERIFY2(message.contains(install.starterPath()) && message.contains(reason), qPrintable(message));
    QCOMPARE(entries(install.userPath("Data")), QStringList());

    // Once the starter is mended, the next start copies it.
    QFile file(install.starterPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(good);
    file.close();
    location.prepare();
    QCOMPARE(queryValue(location.tablePath(), "SELECT count(*) FROM newspapers"), QStringLiteral("2"));
}

void TestLayout::failedCopyLeavesNothingAndTheNextStartCopies()
{
    TempInstall install(Starter);
    const DataLocation location = install.dataLocation();
    QVERIFY(QFileInfo(install.starterPath()).size() > 8192);
    QString message;
    {
        const FileSizeLimit disk(4096);
        message = prepareError(location);
    }
    QVERIFY2(message.startsWith(QStringLiteral("Cannot copy the starter directory to %1: ").arg(location.basePath())),
             qPrintable(message));
    QCOMPARE(entries(install.userPath("Data")), QStringList());
    location.prepare();
    QCOMPARE(entries(install.userPath("Data")), (QStringList{"base-version", "base.db", "list.db"}));
    QCOMPARE(queryValue(location.tablePath(), "SELECT count(*) FROM newspapers"), QStringLiteral("2"));
}

void TestLayout::newerStarterIsMergedOnceIntoTheUsersCopy()
{
    TempInstall install({{1, "Alpha", "https://alpha.example.com/", "", "", "", ""},
                         {2, "Beta", "https://beta.example.com/", "", "", "", ""},
                         {3, "Delta", "https://delta.example.com/", "", "", "", ""}});
    const DataLocation location = install.dataLocation();
    location.prepare();
    QVERIFY(!StarterUpdate::run(location).merged); // the release the copy came from
    insertRows(location.tablePath(), {{4, "Mine", "", "", "", "", ""}});
    queryValue(location.tablePath(), "UPDATE newspapers SET Category = 'Sports' WHERE No = 2");

    // The next release moved Alpha, recategorised Beta, closed Delta and added Gamma.
    install.release({{1, "Alpha", "https://alpha.example.org/", "", "", "", ""},
                     {2, "Beta", "https://beta.example.com/", "", "", "", "News"},
                     {3, "Gamma", "https://gamma.example.com/", "", "", "", ""}},
                    "2");
    const StarterUpdate::Outcome outcome = StarterUpdate::run(location);
    QVERIFY2(outcome.merged && outcome.error.isEmpty(), qPrintable(outcome.error));
    QCOMPARE(counts(outcome), (QList<qint64>{1, 1, 1, 1}));
    QCOMPARE(names(location.tablePath()), QStringLiteral("1 Alpha https://alpha.example.org/ ; "
                                                         "2 Beta https://beta.example.com/ Sports; 4 Mine  ; "
                                                         "5 Gamma https://gamma.example.com/ "));
    QCOMPARE(bytes(location.basePath()), bytes(install.starterPath()));
    QCOMPARE(bytes(location.baseVersionPath()), QByteArray("2\n"));
    QCOMPARE(entries(install.userPath("Data")), (QStringList{"base-version", "base.db", "list.db"}));

    // Only once.
    const QByteArray merged = bytes(location.tablePath());
    QVERIFY(!StarterUpdate::run(location).merged);
    QCOMPARE(bytes(location.tablePath()), merged);
}

void TestLayout::copyWithoutABaseOnlyGainsAndAFailedMergeChangesNothing()
{
    TempInstall install(Starter);
    const DataLocation location = install.dataLocation();
    location.prepare();
    // A copy made before bases were kept, of a release whose stamp nobody knows.
    QFile::remove(location.basePath());
    QFile::remove(location.baseVersionPath());
    queryValue(location.tablePath(), "UPDATE newspapers SET Category = 'Sports' WHERE No = 1");
    install.release({{1, "Alpha Post", "https://alpha.example.com/", "", "", "", "News"},
                     {3, "Gamma Daily", "https://gamma.example.com/", "", "", "", ""}},
                    "2");
    StarterUpdate::Outcome outcome = StarterUpdate::run(location);
    QCOMPARE(counts(outcome), (QList<qint64>{1, 0, 0, 1})); // nothing updated or removed without a base
    QCOMPARE(names(location.tablePath()), QStringLiteral("1 Alpha Post https://alpha.example.com/ Sports; "
                                                         "2 Beta Times https://beta.example.com/ ; "
                                                         "3 Gamma Daily https://gamma.example.com/ "));
    QCOMPARE(bytes(location.baseVersionPath()), QByteArray("2\n"));

    // A merge that fails half-way leaves the copy and its base as they were, to try again.
    install.release({{1, "Epsilon", "https://epsilon.example.com/", "", "", "", ""},
                     {2, "Zeta", "https://zeta.example.com/", "", "", "", ""}},
                    "3");
    queryValue(location.tablePath(), "CREATE TRIGGER fail BEFORE INSERT ON newspapers WHEN NEW.Name = 'Zeta' "
                                     "BEGIN SELECT RAISE(ABORT, 'injected failure'); END");
    const QByteArray table = bytes(location.tablePath());
    const QByteArray base = bytes(location.basePath());
    outcome = StarterUpdate::run(location);
    QVERIFY(!outcome.merged);
    QVERIFY2(outcome.error.contains(QStringLiteral("yours is as it was")) &&
                 outcome.error.contains(QStringLiteral("injected failure")),
             qPrintable(outcome.error));
    QCOMPARE(bytes(location.tablePath()), table);
    QCOMPARE(bytes(location.basePath()), base);
    QCOMPARE(bytes(location.baseVersionPath()), QByteArray("2\n"));
}

void TestLayout::lostBaseStopsTheMergeUntilItIsSound()
{
    TempInstall install(Starter);
    const DataLocation location = install.dataLocation();
    location.prepare();
    queryValue(location.tablePath(), "DELETE FROM newspapers WHERE No = 2"); // the user deleted Beta Times
    const QByteArray table = bytes(location.tablePath());

    // The same release, its base damaged: nothing comes back, and the base is made again.
    QFile damaged(location.basePath());
    QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
    damaged.write("not a table");
    damaged.close();
    StarterUpdate::Outcome outcome = StarterUpdate::run(location);
    QVERIFY(!outcome.merged);
    QVERIFY2(outcome.error.contains(location.basePath() + QStringLiteral(", cannot be read")),
             qPrintable(outcome.error));
    QCOMPARE(bytes(location.tablePath()), table);
    QCOMPARE(bytes(location.basePath()), bytes(install.starterPath()));
    outcome = StarterUpdate::run(location); // said once
    QVERIFY(!outcome.merged && outcome.error.isEmpty());

    // So the next release merges three-way: Beta Times stays deleted.
    install.release({{1, "Alpha Post", "https://alpha.example.com/", "", "", "", "News"},
                     {2, "Beta Times", "https://beta.example.com/", "", "", "", "News"}},
                    "2");
    outcome = StarterUpdate::run(location);
    QCOMPARE(counts(outcome), (QList<qint64>{0, 1, 0, 0}));
    QCOMPARE(names(location.tablePath()), QStringLiteral("1 Alpha Post https://alpha.example.com/ News"));

    // A base gone while its stamp says there is one, and a release it cannot be made
    // from: nothing is merged, and the user is told how to merge and refresh it.
    QFile::remove(location.basePath());
    install.release({{1, "Alpha Post", "https://alpha.example.com/", "", "", "", "News"},
                     {2, "Beta Times", "https://beta.example.com/", "", "", "", "Sports"}},
                    "3");
    const QByteArray merged = bytes(location.tablePath());
    outcome = StarterUpdate::run(location);
    QVERIFY(!outcome.merged);
    QVERIFY2(outcome.error.contains(
                 QStringLiteral("kestrove-db merge \"%1\" \"%2\"").arg(location.tablePath(), install.starterPath())),
             qPrintable(outcome.error));
    QCOMPARE(bytes(location.tablePath()), merged);
    QVERIFY(!QFileInfo::exists(location.basePath()));
    QCOMPARE(bytes(location.baseVersionPath()), QByteArray("2\n"));
}

void TestLayout::unusableDataFolderIsReported_data()
{
    QTest::addColumn<QString>("blocker"); // a file put where a folder should be; empty: read-only home
    QTest::addColumn<QString>("reason");
    QTest::newRow("file instead of ~/.local") << "home/.local"
                                              << "Not a directory (@/home/.local)";
    QTest::newRow("file instead of the data folder") << "home/.local/share/kestrove-news"
                                                     << "Not a directory";
    QTest::newRow("file instead of Data") << "home/.local/share/kestrove-news/Data"
                                          << "Not a directory (@/home/.local/share/kestrove-news/Data)";
    QTest::newRow("read-only home") << ""
                                    << "(@/home/.local)";
}

void TestLayout::unusableDataFolderIsReported()
{
    QFETCH(QString, blocker);
    QFETCH(QString, reason);
    TempInstall install(Starter);
    std::unique_ptr<SmallFileSystem> readOnly;
    if (blocker.isEmpty()) {
        if (runningAsRoot()) {
            // Root writes through permissions: a read-only file system stands in.
            readOnly = std::make_unique<SmallFileSystem>(QStringLiteral("size=16k"));
            if (!readOnly->mounted() || !readOnly->makeReadOnly())
                QSKIP("this system does not allow mounting a small file system");
            install.env.home = readOnly->path(QString()).chopped(1);
            reason.replace(QLatin1Char('@') + QStringLiteral("/home"), install.env.home);
        } else {
            QVERIFY(QFile::setPermissions(install.path("home"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        }
    } else {
        QDir().mkpath(QFileInfo(install.path(blocker)).absolutePath());
        QFile file(install.path(blocker));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("kept");
    }
    reason.replace(QLatin1Char('@'), install.path(QString()).chopped(1));
    const DataLocation location = install.dataLocation();
    const QString message = prepareError(location);
    QCOMPARE(message.section(QStringLiteral(": "), 0, 0),
             QStringLiteral("Cannot use the data folder %1").arg(location.folder().chopped(1)));
    QVERIFY2(message.endsWith(reason), qPrintable(message));
    if (!blocker.isEmpty()) {
        QCOMPARE(QFileInfo(install.path(blocker)).size(), 4); // left as it was
        QVERIFY(!QFileInfo::exists(location.tablePath()));
    } else {
        QCOMPARE(entries(install.env.home), QStringList());
        QFile::setPermissions(install.path("home"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
}

void TestLayout::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status"); // -1: the window opens
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("errors"); // its first line
    QTest::newRow("none") << QStringList{} << -1 << ""
                          << "";
    QTest::newRow("Qt's window options") << QStringList{"-platform", "offscreen", "-style", "fusion", "-reverse"} << -1
                                         << ""
                                         << "";
    QTest::newRow("--version") << QStringList{"--version"} << 0 << "kestrove-news 6.88\n"
                               << "";
    QTest::newRow("-v") << QStringList{"-v"} << 0 << "kestrove-news 6.88\n"
                        << "";
    QTest::newRow("--help") << QStringList{"--help"} << 0 << "Usage: kestrove-news [OPTION]"
                            << "";
    QTest::newRow("-h wins over the window options")
        << QStringList{"-platform", "xcb", "-h"} << 0 << "Usage: kestrove-news [OPTION]"
        << "";
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << 2 << ""
                                    << "kestrove-news: Unknown option 'frobnicate'.";
    QTest::newRow("option taken for a Qt one") << QStringList{"-platform"} << 2 << ""
                                               << "kestrove-news: Missing value after '-platform'.";
    QTest::newRow("argument") << QStringList{"papers.csv"} << 2 << ""
                              << "kestrove-news: Unexpected argument 'papers.csv'.";
}

void TestLayout::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(QString, errors);
    arguments.prepend(QStringLiteral("/usr/bin/kestrove-news"));
    const CommandLine::Outcome outcome = CommandLine::parse(arguments);
    QCOMPARE(outcome.start, status < 0);
    QCOMPARE(outcome.status, std::max(status, 0));
    QCOMPARE(outcome.output.left(output.size()), output);
    QCOMPARE(outcome.output.isEmpty(), output.isEmpty());
    QCOMPARE(outcome.errors.section(QLatin1Char('\n'), 0, 0), errors);
    if (status == 2) // wrong use shows how to use it
        QVERIFY(outcome.errors.contains(QStringLiteral("\nUsage: kestrove-news [OPTION]\n")));
}

QTEST_GUILESS_MAIN(TestLayout)
#include "test_layout.moc"
