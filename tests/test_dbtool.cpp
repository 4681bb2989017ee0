// The CSV format, the data tool's commands and the starter directory's data.

#include "CoreTestSupport.h"

#include "datatool/Csv.h"
#include "datatool/DbTool.h"
#include "directory/ItemLists.h"
#include "directory/Sqlite.h"
#include "directory/Table.h"
#include "errors/AppError.h"
#include "lists/WebAddress.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

QList<QStringList> readAll(const QByteArray& text)
{
    Csv::Reader reader(text);
    QList<QStringList> records;
    QStringList fields;
    while (reader.next(fields))
        records << fields;
    return records;
}

QByteArray exported(const QString& db)
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    DbTool::exportCsv(db, out);
    return out.data();
}

// The exit status of the tool run by a shell: $1 is the tool, $2 the table.
int shell(const QString& command, const QString& db)
{
    QProcess tool;
    tool.start(QStringLiteral("/bin/sh"),
               {QStringLiteral("-c"), command, QStringLiteral("sh"), QStringLiteral(KESTROVE_DB), db});
    tool.waitForFinished();
    return tool.exitCode();
}

bool isKind(const QString& path, mode_t kind)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && (info.st_mode & S_IFMT) == kind;
}

} // namespace

class TestDbTool : public QObject
{
    Q_OBJECT

private slots:
    void csvReadsQuotedFieldsAndAnyLineEnd_data();
    void csvReadsQuotedFieldsAndAnyLineEnd();
    void csvRefusesMalformedText_data();
    void csvRefusesMalformedText();
    void exportThenImportReproducesTheTable();
    void importWithoutNumbersContinuesAfterTheHighest();
    void badImportsChangeNothing_data();
    void badImportsChangeNothing();
    void createRefusesAnExistingFile();
    void checkFindsProblems();
    void generatedTablesAreRepeatable();
    void commandLineReportsWrongUse();
    void failedWritesAreNeverReportedAsSuccess();
    void noOutputLandsOnAnInput();
    void devicesAndPipesAreWrittenInPlace();
    void starterDirectoryIsUsable();
};

void TestDbTool::csvReadsQuotedFieldsAndAnyLineEnd_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<QStringList>>("records");
    QTest::newRow("plain") << QByteArray("a,b\nc,d\n") << QList<QStringList>{{"a", "b"}, {"c", "d"}};
    QTest::newRow("CR LF, no last end") << QByteArray("a,b\r\nc,d") << QList<QStringList>{{"a", "b"}, {"c", "d"}};
    QTest::newRow("empty fields") << QByteArray(",,\n") << QList<QStringList>{{"", "", ""}};
    QTest::newRow("quoted comma and quote")
        << QByteArray("\"a,b\",\"say \"\"hi\"\"\"\n") << QList<QStringList>{{"a,b", "say \"hi\""}};
    QTest::newRow("line break inside quotes")
        << QByteArray("\"one\ntwo\",x\ny,z\n") << QList<QStringList>{{"one\ntwo", "x"}, {"y", "z"}};
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBFNo,Name\n") << QList<QStringList>{{"No", "Name"}};
    QTest::newRow("U+FEFF inside is data")
        << QByteArray("a,\xEF\xBB\xBF"
                      "b\n\xEF\xBB\xBF"
                      "c,d\n")
        << QList<QStringList>{{"a", QStringLiteral("\uFEFFb")}, {QStringLiteral("\uFEFFc"), "d"}};
    QTest::newRow("UTF-8 and blanks kept")
        << QByteArray(" El País ,Zürich\n") << QList<QStringList>{{" El País ", "Zürich"}};
}

void TestDbTool::csvReadsQuotedFieldsAndAnyLineEnd()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<QStringList>, records);
    QCOMPARE(readAll(text), records);
    QByteArray written;
    for (const QStringList& record : records)
        written += Csv::formatRecord(record);
    QCOMPARE(readAll(written), records);
}

void TestDbTool::csvRefusesMalformedText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("unclosed quote") << QByteArray("a,b\n\"open,c\n") << "line 2: a quoted field is not closed";
    QTest::newRow("text after quote") << QByteArray("a\n\"x\"y,z\n") << "line 2: unexpected text after a closing quote";
    QTest::newRow("stray quote") << QByteArray("a\nx\"y\n") << "line 2: a quote inside a field";
    QTest::newRow("not UTF-8") << QByteArray("a\n\xe9t\xe9\n") << "line 2: the text is not valid UTF-8";
    // Line numbers count CR LF, a lone CR and a lone LF alike, inside quotes too.
    QTest::newRow("after a quoted LF") << QByteArray("a\n\"b\nc\"\nx\"y\n") << "line 4: a quote inside a field";
    QTest::newRow("after a quoted CR LF")
        << QByteArray("a\r\n\"b\r\nc\"\r\nx\"y\r\n") << "line 4: a quote inside a field";
    QTest::newRow("after a quoted CR") << QByteArray("a\r\"b\rc\"\rx\"y\r") << "line 4: a quote inside a field";
    QTest::newRow("after a quoted CR, CR LF") << QByteArray("a\r\"b\r\r\nc\"\rx\"y") << "line 5: a quote inside";
}

void TestDbTool::csvRefusesMalformedText()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, message);
    try {
        readAll(text);
        QFAIL("read malformed text");
    } catch (const AppError& error) {
        QVERIFY2(error.message().startsWith(message), qPrintable(error.message()));
    }
}

void TestDbTool::exportThenImportReproducesTheTable()
{
    TempProgramFolder folder;
    const QByteArray csv = "No,Name,Url,Country,State,City,Category\n"
                           "3,\"Courier, The\",https://courier.example.com/,United States,NY,New York,\n"
                           "1,\"He said \"\"news\"\"\",,Canada,,,Sports\n"
                           "7,Süddeutsche Zeitung,https://www.sueddeutsche.de/,Germany,Bavaria,Munich,\n";
    folder.writeFile(QStringLiteral("in.csv"), csv);
    DbTool::create(folder.tablePath());
    QCOMPARE(DbTool::importCsv(folder.tablePath(), folder.path(QStringLiteral("in.csv"))).added, 3);
    QCOMPARE(queryValue(folder.tablePath(), "SELECT Url IS NULL AND State IS NULL FROM newspapers WHERE No = 1"),
             QStringLiteral("1"));
    QCOMPARE(queryValue(folder.tablePath(), "SELECT Reserved1 || Reserved2 || Reserved3 FROM newspapers WHERE No = 7"),
             QStringLiteral("000"));
    const QByteArray first = exported(folder.tablePath());
    QCOMPARE(readAll(first).size(), 4);
    QVERIFY(first.indexOf("1,") < first.indexOf("3,")); // No order

    TempProgramFolder copy;
    DbTool::create(copy.tablePath());
    copy.writeFile(QStringLiteral("out.csv"), first);
    DbTool::importCsv(copy.tablePath(), copy.path(QStringLiteral("out.csv")));
    QCOMPARE(exported(copy.tablePath()), first);
    QVERIFY(DbTool::check(copy.tablePath()).isEmpty());
}

void TestDbTool::importWithoutNumbersContinuesAfterTheHighest()
{
    TempProgramFolder folder;
    folder.makeTable({{41, "Existing", "", "", "", "", ""}});
    folder.writeFile(QStringLiteral("in.csv"), "Name,Url,Country,State,City,Category\nFirst,,,,,\nSecond,,,,,\n\n");
    QCOMPARE(DbTool::importCsv(folder.tablePath(), folder.path(QStringLiteral("in.csv"))).added, 2);
    QCOMPARE(queryValue(folder.tablePath(), "SELECT group_concat(No || Name, ' ') FROM newspapers"),
             QStringLiteral("41Existing 42First 43Second"));
}

void TestDbTool::badImportsChangeNothing_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>("reason");
    const QByteArray header = "No,Name,Url,Country,State,City,Category\n";
    QTest::newRow("wrong header") << QByteArray("Name,Country\nA,B\n") << "line 1: the header must read";
    QTest::newRow("missing field") << header + "5,A,,,,\n"
                                   << "line 2: expected 7 fields, found 6";
    QTest::newRow("number not numeric") << header + "5,A,,,,,\nfive,B,,,,,\n"
                                        << "line 3: No \"five\"";
    QTest::newRow("number zero") << header + "0,A,,,,,\n"
                                 << "line 2: No \"0\"";
    QTest::newRow("number twice") << header + "5,A,,,,,\n6,B,,,,,\n5,C,,,,,\n"
                                  << "line 4: No 5 is used twice (also on line 2)";
    QTest::newRow("number in the table") << header + "8,A,,,,,\n1,B,,,,,\n"
                                         << "line 3: No 1 is already in the table";
    QTest::newRow("line break in a name") << header + "5,\"Two\nLines\",,,,,\n"
                                          << "line 2: the name contains a line break";
    QTest::newRow("line break in an address") << header + "5,A,\"https://a.example.com/\r\n\",,,,\n"
                                              << "line 2: the web address contains a line break";
    QTest::newRow("line separator in a city") << header + "5,A,,,,Two\u2028Lines,\n"
                                              << "line 2: the city contains a line break";
    QTest::newRow("byte 0 in a name") << header + "5,Fav Be" + QByteArray(1, '\0') + "ta,,,,,\n"
                                      << "line 2: the name contains the control character U+0000";
    QTest::newRow("escape in a category") << header + "5,A,,,,,Sp\x1b"
                                                      "orts\n"
                                          << "line 2: the category contains the control character U+001B";
    QTest::newRow("number with blanks") << header + " 5 ,A,,,,,\n"
                                        << "line 2: No \" 5 \"";
    QTest::newRow("number with a sign") << header + "+6,A,,,,,\n"
                                        << "line 2: No \"+6\"";
    QTest::newRow("number with a leading zero") << header + "007,A,,,,,\n"
                                                << "line 2: No \"007\"";
    QTest::newRow("number past the limit") << header + "2147483648,A,,,,,\n"
                                           << "line 2: No \"2147483648\"";
    QTest::newRow("malformed") << header + "5,\"A,,,,,\n"
                               << "line 2: a quoted field is not closed";
    QTest::newRow("empty file") << QByteArray() << "is empty";
}

void TestDbTool::badImportsChangeNothing()
{
    QFETCH(QByteArray, csv);
    QFETCH(QString, reason);
    TempProgramFolder folder;
    folder.makeTable({{1, "Existing", "", "", "", "", ""}});
    const QByteArray before = folder.readFile(QStringLiteral("Data/list.db"));
    folder.writeFile(QStringLiteral("bad.csv"), csv);
    try {
        DbTool::importCsv(folder.tablePath(), folder.path(QStringLiteral("bad.csv")));
        QFAIL("imported a bad file");
    } catch (const AppError& error) {
        QVERIFY2(error.message().contains(reason), qPrintable(error.message()));
        QVERIFY2(error.message().contains(QStringLiteral("bad.csv")), qPrintable(error.message()));
    }
    QCOMPARE(folder.readFile(QStringLiteral("Data/list.db")), before);
}

void TestDbTool::createRefusesAnExistingFile()
{
    TempProgramFolder folder;
    folder.writeFile(QStringLiteral("Data/list.db"), "precious");
    QVERIFY_THROWS_EXCEPTION(AppError, DbTool::create(folder.tablePath()));
    QCOMPARE(folder.readFile(QStringLiteral("Data/list.db")), QByteArray("precious"));
    DbTool::create(folder.path(QStringLiteral("new/folder/list.db")));
    QVERIFY(DbTool::check(folder.path(QStringLiteral("new/folder/list.db"))).isEmpty());
}

void TestDbTool::checkFindsProblems()
{
    TempProgramFolder folder;
    folder.makeTable();
    {
        sqlite::Database db(folder.tablePath(), sqlite::Database::Mode::ReadWrite);
        db.exec("DROP INDEX City1; PRAGMA journal_mode = WAL");
    }
    const QStringList problems = DbTool::check(folder.tablePath());
    QCOMPARE(problems.size(), 2);
    QVERIFY(problems[0].contains(QStringLiteral("City1")));
    QVERIFY(problems[1].contains(QStringLiteral("WAL")));
    QVERIFY_THROWS_EXCEPTION(AppError, DbTool::check(folder.path(QStringLiteral("missing.db"))));
    QVERIFY(!folder.exists(QStringLiteral("missing.db")));

    // Whether the program's cache beside the table still matches it.
    TempProgramFolder cached;
    cached.makeTable({{1, "One", "", "", "", "", ""}});
    auto cacheLine = [&] {
        QProcess tool;
        tool.start(QStringLiteral(KESTROVE_DB), {QStringLiteral("check"), cached.tablePath()});
        tool.waitForFinished();
        const QString out = QString::fromUtf8(tool.readAllStandardOutput());
        return tool.exitCode() == 0 ? out.section(QStringLiteral("cache: "), 1).trimmed() : out;
    };
    QVERIFY2(cacheLine().startsWith(QStringLiteral("no cache")), qPrintable(cacheLine()));
    {
        Table table;
        table.setFileName(cached.tablePath());
        table.open();
        QVERIFY(table.saveCache());
    }
    QCOMPARE(cacheLine(), QStringLiteral("the cache matches the table"));
    insertRows(cached.tablePath(), {{2, "Two", "", "", "", "", ""}});
    QVERIFY2(cacheLine().startsWith(QStringLiteral("the cache is out of date")), qPrintable(cacheLine()));
}

void TestDbTool::generatedTablesAreRepeatable()
{
    TempProgramFolder folder;
    DbTool::generate(folder.path(QStringLiteral("a.db")), 2000, 7);
    DbTool::generate(folder.path(QStringLiteral("b.db")), 2000, 7);
    DbTool::generate(folder.path(QStringLiteral("c.db")), 2000, 8);
    const QByteArray a = exported(folder.path(QStringLiteral("a.db")));
    QCOMPARE(exported(folder.path(QStringLiteral("b.db"))), a);
    QVERIFY(exported(folder.path(QStringLiteral("c.db"))) != a);
    const QString db = folder.path(QStringLiteral("a.db"));
    QCOMPARE(queryValue(db, "SELECT count(*) FROM newspapers"), QStringLiteral("2000"));
    const int blankCountries = queryValue(db, "SELECT count(*) FROM newspapers WHERE Country IS NULL").toInt();
    QVERIFY(blankCountries > 10 && blankCountries < 150); // a few percent
    QVERIFY(queryValue(db, "SELECT count(*) FROM newspapers WHERE Name GLOB '*[^ -~]*'").toInt() > 100); // accents
    QVERIFY(DbTool::check(db).isEmpty());
}

void TestDbTool::commandLineReportsWrongUse()
{
    TempProgramFolder folder;
    QCOMPARE(DbTool::run({}), 2);
    QCOMPARE(DbTool::run({QStringLiteral("frobnicate")}), 2);
    QCOMPARE(DbTool::run({QStringLiteral("create")}), 2);
    QCOMPARE(DbTool::run({QStringLiteral("generate"), folder.path(QStringLiteral("g.db")), QStringLiteral("many")}), 2);
    QCOMPARE(DbTool::run({QStringLiteral("--help")}), 0);
    QCOMPARE(DbTool::run({QStringLiteral("--version")}), 0);
    // A name starting with "-" is an option, never a file to create.
    const QString current = QDir::currentPath();
    QDir::setCurrent(folder.path(QString()));
    QCOMPARE(DbTool::run({QStringLiteral("create"), QStringLiteral("--help")}), 0);
    QCOMPARE(DbTool::run({QStringLiteral("create"), QStringLiteral("-x")}), 2);
    QCOMPARE(DbTool::run({QStringLiteral("export"), QStringLiteral("--out"), QStringLiteral("x.db")}), 2);
    QDir::setCurrent(current);
    QCOMPARE(QDir(folder.path(QString())).entryList(QDir::Files), QStringList());
    QCOMPARE(DbTool::run({QStringLiteral("create"), folder.tablePath()}), 0);
    QCOMPARE(DbTool::run({QStringLiteral("create"), folder.tablePath()}), 1);
    QCOMPARE(DbTool::run({QStringLiteral("check"), folder.tablePath()}), 0);
    QCOMPARE(DbTool::run({QStringLiteral("export"), folder.tablePath(), folder.path(QStringLiteral("out.csv"))}), 0);
    QCOMPARE(folder.readFile(QStringLiteral("out.csv")), QByteArray("No,Name,Url,Country,State,City,Category\n"));
}

void TestDbTool::failedWritesAreNeverReportedAsSuccess()
{
    TempProgramFolder folder;
    folder.makeTable({{1, "One", "https://one.example.com/", "", "", "", ""}});
    auto exportTo = [&](const QString& shell) {
        QProcess tool;
        tool.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), shell, QStringLiteral("sh"),
                                               QStringLiteral(KESTROVE_DB), folder.tablePath()});
        tool.waitForFinished();
        return std::make_pair(tool.exitCode(), QString::fromUtf8(tool.readAllStandardError()));
    };
    const auto full = exportTo(QStringLiteral("\"$1\" export \"$2\" > /dev/full"));
    QCOMPARE(full.first, 1);
    QVERIFY2(full.second.contains(QStringLiteral("Cannot write the export")), qPrintable(full.second));
    const auto closed = exportTo(QStringLiteral("\"$1\" export \"$2\" >&-"));
    QCOMPARE(closed.first, 1);
    QVERIFY2(closed.second.contains(QStringLiteral("standard output")), qPrintable(closed.second));
    QCOMPARE(exportTo(QStringLiteral("\"$1\" export \"$2\" > /dev/null")).first, 0);

    // A small export into a full file system: an error, and the old file stays.
    SmallFileSystem disk(QStringLiteral("size=16k"));
    if (!disk.mounted())
        QSKIP("this system does not allow mounting a small file system");
    QFile old(disk.path(QStringLiteral("out.csv")));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old\n");
    old.close();
    QFile filler(disk.path(QStringLiteral("filler")));
    QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    while (filler.write(QByteArray(512, 'x')) == 512) {
    }
    filler.close();
    QCOMPARE(DbTool::run({QStringLiteral("export"), folder.tablePath(), old.fileName()}), 1);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old\n"));
}

void TestDbTool::noOutputLandsOnAnInput()
{
    TempProgramFolder folder;
    folder.makeTable({{1, "One", "", "", "", "", ""}}); // no address: check-links asks nobody
    const QString db = folder.tablePath();
    folder.writeFile(QStringLiteral("newer.csv"), "Name,Url,Country,State,City,Category\nTwo,,,,,\n");
    const QString newer = folder.path(QStringLiteral("newer.csv"));
    const QString symbolic = folder.path(QStringLiteral("symbolic.db"));
    const QString hard = folder.path(QStringLiteral("hard.db"));
    QVERIFY(QFile::link(db, symbolic));
    QVERIFY(::link(QFile::encodeName(db).constData(), QFile::encodeName(hard).constData()) == 0);
    const QByteArray table = folder.readFile(QStringLiteral("Data/list.db"));
    const QList<QStringList> refused = {
        {"export", db, db},
        {"export", db, symbolic},
        {"export", db, hard},
        {"import", db, db},
        {"import", symbolic, hard},
        {"check-links", db, "--report", db},
        {"check-links", db, "--apply-redirects", "--report", symbolic},
        {"merge", db, newer, "--report", db},
        {"merge", db, newer, "--report", newer},
        {"merge", db, newer, "--base", newer, "--dry-run", "--report", newer},
        {"merge", db, hard},
        {"merge", db, newer, "--base", symbolic},
    };
    for (const QStringList& args : refused)
        QVERIFY2(DbTool::run(args) == 2, qPrintable(args.join(QLatin1Char(' '))));
    QCOMPARE(shell(QStringLiteral("\"$1\" export \"$2\" >> \"$2\""), db), 2);
    QCOMPARE(folder.readFile(QStringLiteral("Data/list.db")), table);
    QCOMPARE(folder.readFile(QStringLiteral("hard.db")), table);
    QVERIFY(isKind(symbolic, S_IFLNK));
    QCOMPARE(folder.readFile(QStringLiteral("newer.csv")),
             QByteArray("Name,Url,Country,State,City,Category\nTwo,,,,,\n"));
    // A dry run writes no table, so NEWER may be the table itself.
    QCOMPARE(DbTool::run({"merge", db, db, "--dry-run"}), 0);
}

void TestDbTool::devicesAndPipesAreWrittenInPlace()
{
    TempProgramFolder folder;
    folder.makeTable({{1, "One", "", "", "", "", ""}});
    const QString db = folder.tablePath();
    const QString newer = folder.path(QStringLiteral("newer.csv"));
    folder.writeFile(QStringLiteral("newer.csv"), "Name,Url,Country,State,City,Category\nTwo,,,,,\n");

    // A pipe gets the export through it and stays a pipe.
    const QString pipe = folder.path(QStringLiteral("pipe"));
    QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
    const int readEnd = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(readEnd >= 0);
    QCOMPARE(DbTool::run({"export", db, pipe}), 0);
    char buffer[4096];
    const ssize_t got = ::read(readEnd, buffer, sizeof buffer);
    ::close(readEnd);
    QCOMPARE(QByteArray(buffer, static_cast<qsizetype>(std::max<ssize_t>(got, 0))), exported(db));
    QVERIFY(isKind(pipe, S_IFIFO));

    // Devices of our own, never the system's: one that takes everything, one always full.
    if (!runningAsRoot())
        QSKIP("making device nodes needs root");
    const QString null = folder.path(QStringLiteral("null"));
    const QString full = folder.path(QStringLiteral("full"));
    if (::mknod(QFile::encodeName(null).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
        ::mknod(QFile::encodeName(full).constData(), S_IFCHR | 0666, makedev(1, 7)) != 0 ||
        !QFile(null).open(QIODevice::WriteOnly))
        QSKIP("this system does not allow device nodes here");
    const QByteArray table = folder.readFile(QStringLiteral("Data/list.db"));
    QCOMPARE(DbTool::run({"export", db, full}), 1);
    QCOMPARE(DbTool::run({"merge", db, newer, "--report", full}), 2); // the report fails: nothing merged
    QCOMPARE(folder.readFile(QStringLiteral("Data/list.db")), table);
    QCOMPARE(DbTool::run({"export", db, null}), 0);
    QCOMPARE(DbTool::run({"merge", db, newer, "--report", null}), 0);
    QCOMPARE(queryValue(db, "SELECT group_concat(Name) FROM newspapers"), QStringLiteral("One,Two"));
    QVERIFY(isKind(null, S_IFCHR) && isKind(full, S_IFCHR));
}

void TestDbTool::starterDirectoryIsUsable()
{
    QFile file(QStringLiteral(KESTROVE_STARTER_CSV));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QStringList> records = readAll(file.readAll());
    QCOMPARE(records.first(), (QStringList{"No", "Name", "Url", "Country", "State", "City", "Category"}));
    QVERIFY(records.size() > 300);
    const QStringList countryList = ItemLists::searchCountries();
    const QSet<QString> countries(countryList.begin(), countryList.end());
    const QStringList categoryList = ItemLists::dialogCategories();
    QSet<QString> seen;
    QSet<QString> names;
    for (qsizetype i = 1; i < records.size(); ++i) {
        const QStringList& r = records[i];
        QCOMPARE(r.size(), 7);
        QVERIFY2(countries.contains(r[3]), qPrintable(r[3]));
        QVERIFY2(r[6].isEmpty() || categoryList.contains(r[6]), qPrintable(r[6]));
        QVERIFY2(WebAddress::forBrowser(r[2]) == r[2] && r[2].startsWith(QLatin1String("http")), qPrintable(r[2]));
        QVERIFY2(!names.contains(r[1]) && r[1] == r[1].trimmed() && !r[1].isEmpty(), qPrintable(r[1]));
        names.insert(r[1]);
        seen.insert(r[3]);
    }
    QVERIFY(seen.size() >= 40);
}

QTEST_GUILESS_MAIN(TestDbTool)
#include "test_dbtool.moc"
