// The program's start as the entry point runs it, in both layouts: an installed
// program works in the user's data folder, and a start that cannot go on is reported
// once. Each test makes its own application objects, as the program does.

#include "TestSupport.h"

#include "datatool/DbTool.h"
#include "desktop/ProgramStart.h"
#include "dialogs/RecordDialog.h"
#include "directory/Table.h"
#include "mainwindow/MainWindow.h"
#include "startup/Startup.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

namespace {

const std::vector<Row> Starter = {{1, "Alpha Post", "https://alpha.example.com/", "", "", "", ""},
                                  {2, "Beta Times", "https://beta.example.com/", "", "", "", ""}};

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Makes a folder and everything in it read-only, or writable again.
void setWritable(const QString& folder, bool writable)
{
    const QFileDevice::Permissions base = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    const QFileDevice::Permissions dirBits = QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    const QFileDevice::Permissions write = writable ? QFileDevice::WriteOwner : QFileDevice::Permissions();
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    QStringList paths{folder};
    while (it.hasNext())
        paths << it.next();
    for (const QString& path : paths)
        QFile::setPermissions(path, base | write | (QFileInfo(path).isDir() ? dirBits : QFileDevice::Permissions()));
}

// Ends the program's event loop once it runs, and notes whether any window was on
// screen when each box came up.
class QuittingBoxes : public FakeMessageBoxes
{
public:
    Answer showWithDescription(QWidget* owner, const QString& text, const QString& caption, Style style,
                               const QString& description) override
    {
        const QWidgetList windows = QApplication::topLevelWidgets();
        windowShown.push_back(std::any_of(windows.begin(), windows.end(), [](QWidget* w) { return w->isVisible(); }));
        auto* quit = new QTimer(QCoreApplication::instance());
        QObject::connect(quit, &QTimer::timeout, QCoreApplication::instance(), &QCoreApplication::quit);
        quit->start(20);
        return FakeMessageBoxes::showWithDescription(owner, text, caption, style, description);
    }
    std::vector<bool> windowShown;
};

int runProgram(const Platform& platform)
{
    char name[] = "kestrove-news";
    char* argv[] = {name, nullptr};
    int argc = 1;
    return ProgramStart::run(argc, argv, platform);
}

} // namespace

class TestProgramStart : public QObject
{
    Q_OBJECT

private slots:
    void installedProgramWorksInTheUsersFolder();
    void newerStarterIsAnnouncedBeforeTheWindow_data();
    void newerStarterIsAnnouncedBeforeTheWindow();
    void failedStartIsReportedOnceInEitherLayout_data();
    void failedStartIsReportedOnceInEitherLayout();
};

void TestProgramStart::installedProgramWorksInTheUsersFolder()
{
    int argc = 1;
    char name[] = "kestrove-news";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    TempInstall install(Starter);
    // Tables the program must never take: beside the program and in the working directory.
    QDir().mkpath(install.path("usr/bin/Data"));
    DbTool::create(install.path("usr/bin/Data/list.db"));
    QDir().mkpath(install.path("work/Data"));
    DbTool::create(install.path("work/Data/list.db"));
    setWritable(install.path("usr"), false);
    FakeShell shell;
    FakeMessageBoxes boxes;
    FakeFileDialogs files;
    const Platform platform{shell, boxes, install, files};
    const QString before = QDir::currentPath();
    QDir::setCurrent(install.path("work"));

    platform.folder.dataLocation().prepare();
    {
        MainWindow form(platform);
        QCOMPARE(form.dataFolder(), install.userPath(QString()));
        QCOMPARE(form.table().recordCount(), 2);
        QCOMPARE(form.lastNumber(), 2);

        form.readNow();         // Read Now on the first record in name order
        form.addToFavourites(); // and a favourite
        RecordDialog dialog(form, RecordDialog::Mode::Add);
        nameEdit(dialog)->setText(QStringLiteral("Gamma Daily"));
        dialog.save();
        QCOMPARE(shell.opened, std::vector<QString>{"https://alpha.example.com/"});
        QCOMPARE(boxes.errors(), QStringList());
    }
    QDir::setCurrent(before);
    setWritable(install.path("usr"), true);

    QCOMPARE(readAll(install.path("home/.local/share/kestrove-news/history.txt")), QByteArray("Alpha Post\r\n"));
    QCOMPARE(readAll(install.path("home/.local/share/kestrove-news/favorites.txt")), QByteArray("Alpha Post\r\n"));
    QCOMPARE(queryValue(install.userPath("Data/list.db"), "SELECT No || ':' || Name FROM newspapers WHERE No = 3"),
             QStringLiteral("3:Gamma Daily"));
    // The install and the decoys are as they were.
    QCOMPARE(queryValue(install.starterPath(), "SELECT count(*) FROM newspapers"), QStringLiteral("2"));
    QCOMPARE(entries(install.path("usr/bin")), QStringList{"Data"});
    QCOMPARE(entries(install.path("work")), QStringList{"Data"});
    QCOMPARE(queryValue(install.path("work/Data/list.db"), "SELECT count(*) FROM newspapers"), QStringLiteral("0"));
}

void TestProgramStart::newerStarterIsAnnouncedBeforeTheWindow_data()
{
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QString>("shown");
    QTest::newRow("merged") << false
                            << "The directory that came with this version of the program was merged into yours: "
                               "1 newspaper added, 1 updated, 0 removed.\n\n"
                               "1 newspaper that you have differently was kept as you have it.";
    QTest::newRow("failed") << true
                            << "The directory that came with this version could not be merged into yours; "
                               "yours is as it was.";
}

void TestProgramStart::newerStarterIsAnnouncedBeforeTheWindow()
{
    QFETCH(bool, fails);
    QFETCH(QString, shown);
    TempInstall install(Starter);
    const DataLocation location = install.dataLocation();
    location.prepare();
    queryValue(location.tablePath(), "UPDATE newspapers SET Category = 'Sports' WHERE No = 2");
    if (fails)
        queryValue(location.tablePath(), "CREATE TRIGGER fail BEFORE INSERT ON newspapers "
                                         "BEGIN SELECT RAISE(ABORT, 'injected failure'); END");
    install.release({{1, "Alpha Post", "https://alpha.example.com/", "", "", "", "News"},
                     {2, "Beta Times", "https://beta.example.com/", "", "", "", "News"},
                     {3, "Gamma Daily", "https://gamma.example.com/", "", "", "", ""}},
                    "2");
    const QByteArray before = readAll(location.tablePath());

    FakeShell shell;
    QuittingBoxes boxes;
    FakeFileDialogs files;
    QCOMPARE(runProgram(Platform{shell, boxes, install, files}), 0); // the window opens either way
    QCOMPARE(boxes.shown.size(), size_t(1));
    QVERIFY2(boxes.shown[0].text.startsWith(shown), qPrintable(boxes.shown[0].text));
    QCOMPARE(boxes.shown[0].style, fails ? MessageBoxes::Style::Error : MessageBoxes::Style::Plain);
    // The announcement is the program's own message; a failure is an error report.
    QCOMPARE(boxes.shown[0].caption,
             fails ? QStringLiteral("kestrove-news") : QStringLiteral("Kestrove Online Newspaper"));
    QCOMPARE(boxes.windowShown, std::vector<bool>{false});
    QCOMPARE(readAll(location.tablePath()) == before, fails);

    // Nothing merged, or nothing to tell: no box.
    FakeMessageBoxes quiet;
    ProgramStart::announce(Platform{shell, quiet, install, files}, {});
    StarterUpdate::Outcome unchanged;
    unchanged.merged = true;
    ProgramStart::announce(Platform{shell, quiet, install, files}, unchanged);
    QCOMPARE(quiet.shown.size(), size_t(0));
}

void TestProgramStart::failedStartIsReportedOnceInEitherLayout_data()
{
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("userTable"); // installed: what stands at the user's Data/list.db
    QTest::addColumn<QString>("shown");     // expected in the error box; @ is the temporary folder
    QTest::addColumn<bool>("recovered");    // the recovery ran (and removed the engine files)
    QTest::newRow("portable, no table") << false << ""
                                        << "@/Data/list.db: the file does not exist" << true;
    QTest::newRow("installed, damaged table") << true << "damaged"
                                              << "@/home/.local/share/kestrove-news/Data/list.db" << true;
    QTest::newRow("installed, a file where the data folder goes")
        << true << "blocker"
        << "Cannot use the data folder @/home/.local/share/kestrove-news: Not a directory" << false;
}

void TestProgramStart::failedStartIsReportedOnceInEitherLayout()
{
    QFETCH(bool, installed);
    QFETCH(QString, userTable);
    QFETCH(QString, shown);
    QFETCH(bool, recovered);
    TempInstall install(Starter);
    TempProgramFolder portable;
    const ProgramFolder& folder = installed ? static_cast<const ProgramFolder&>(install) : portable;
    const QString root = installed ? install.path(QString()) : portable.path(QString());
    shown.replace(QStringLiteral("@/"), root);
    const QString dataFolder = installed ? install.userPath(QString()) : portable.path(QString());
    if (userTable == QLatin1String("damaged"))
        writeFile(install.userPath("Data/list.db"), "not a table");
    if (userTable == QLatin1String("blocker"))
        writeFile(install.userPath(QString()).chopped(1), "kept");
    else {
        for (const QString& file : Startup::engineFiles())
            writeFile(dataFolder + file, "library");
    }
    // An install's program folder belongs to the system: the recovery never works there.
    for (const QString& file : Startup::engineFiles())
        writeFile(folder.exePath() + file, "library");

    FakeShell shell;
    FakeMessageBoxes boxes;
    FakeFileDialogs files;
    QCOMPARE(runProgram(Platform{shell, boxes, folder, files}), 1);
    QCOMPARE(boxes.shown.size(), size_t(1));
    QVERIFY2(boxes.errors().value(0).contains(shown), qPrintable(boxes.errors().value(0)));
    QVERIFY(boxes.errors().value(0).startsWith(QStringLiteral("Kestrove Online Newspaper v6.88 cannot start.\n\n")));
    if (userTable == QLatin1String("blocker")) {
        QCOMPARE(entries(install.path("home/.local/share")), QStringList{"kestrove-news"});
        QCOMPARE(QFileInfo(install.userPath(QString()).chopped(1)).size(), 4);
    } else {
        const QStringList left = entries(dataFolder);
        for (const QString& file : Startup::engineFiles())
            QCOMPARE(left.contains(file), !recovered);
    }
    if (installed) {
        QCOMPARE(entries(install.path("usr/bin")).size(), Startup::engineFiles().size());
        if (userTable == QLatin1String("damaged")) // the user's file is never replaced by the starter
            QCOMPARE(readAll(install.path("home/.local/share/kestrove-news/Data/list.db")), QByteArray("not a table"));
    }
}

QTEST_APPLESS_MAIN(TestProgramStart)
#include "test_programstart.moc"
