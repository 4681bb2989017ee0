// Merging a newer directory into a table: which records are the same newspaper, the
// three-way and two-way rules, repeats in the newer directory, all or nothing, the dry
// run and the command line.

#include "CoreTestSupport.h"

#include "datatool/Csv.h"
#include "datatool/DbTool.h"

#include <QFile>
#include <QtTest>

namespace {

const QByteArray Header = "No,Name,Url,Country,State,City,Category\n";

// Every record as "No Name|Url|Country|Category", in No order.
QString dump(const QString& table)
{
    return queryValue(table, "SELECT group_concat(No || ' ' || ifnull(Name, '') || '|' || ifnull(Url, '') || '|' || "
                             "ifnull(Country, '') || '|' || ifnull(Category, ''), '; ') FROM "
                             "(SELECT * FROM newspapers ORDER BY No)");
}

QByteArray bytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The report's rows as "action No Name: reason", the header left out.
QStringList reportRows(const QString& path)
{
    Csv::Reader reader(bytes(path));
    QStringList fields;
    QStringList rows;
    reader.next(fields);
    while (reader.next(fields))
        rows << QStringLiteral("%1 %2 %3%4")
                    .arg(fields[0], fields[1], fields[2],
                         fields[9].isEmpty() ? QString() : QStringLiteral(": ") + fields[9]);
    return rows;
}

class Folder : public TempProgramFolder
{
public:
    QString table(const QString& name, const std::vector<Row>& rows) const
    {
        DbTool::create(path(name));
        insertRows(path(name), rows);
        return path(name);
    }
    QString csv(const QString& name, const QByteArray& text) const
    {
        writeFile(name, text);
        return path(name);
    }
    int merge(QStringList args) const
    {
        args.prepend(QStringLiteral("merge"));
        return DbTool::run(args);
    }
};

} // namespace

class TestMerge : public QObject
{
    Q_OBJECT

private slots:
    void sameNewspaper_data();
    void sameNewspaper();
    void threeWayKeepsEveryoneElsesChanges();
    void repeatsInNewerUseTheFirst();
    void failureLeavesTheTableByteForByte();
    void badInputsChangeNothing_data();
    void badInputsChangeNothing();
};

void TestMerge::sameNewspaper_data()
{
    // DB holds one record, No 7; NEWER one record, also numbered 7, whose category
    // differs. The same newspaper is a conflict (two-way updates are not applied);
    // another is added as No 8.
    QTest::addColumn<QStringList>("db"); // Name, Url, Country
    QTest::addColumn<QStringList>("newer");
    QTest::addColumn<bool>("same");
    QTest::newRow("scheme, www, host case, trailing slash") << QStringList{"A", "http://www.Example.com/News/", ""}
                                                            << QStringList{"B", "HTTPS://example.COM/News", ""} << true;
    QTest::newRow("path case counts") << QStringList{"A", "https://example.com/News", ""}
                                      << QStringList{"B", "https://example.com/news", ""} << false;
    QTest::newRow("other schemes count") << QStringList{"A", "ftp://example.com/", ""}
                                         << QStringList{"B", "https://example.com/", ""} << false;
    QTest::newRow("moved, same name and country in any case")
        << QStringList{"ÉCHO DE PARIS", "https://old.example.com/", "France"}
        << QStringList{"écho de paris", "https://new.example.com/", "FRANCE"} << true;
    QTest::newRow("accent composed or not")
        << QStringList{"\u00c9cho", "", "France"} << QStringList{"E\u0301CHO", "", "France"} << true;
    QTest::newRow("final sigma folds") << QStringList{"ΟΔΟΣ", "", "Greece"} << QStringList{"οδος", "", "Greece"}
                                       << true;
    QTest::newRow("same name, other country")
        << QStringList{"Times", "", "Canada"} << QStringList{"Times", "", "Ireland"} << false;
    QTest::newRow("blank addresses never match") << QStringList{"A", "", ""} << QStringList{"B", " ", ""} << false;
    QTest::newRow("blank names never match") << QStringList{"", "https://a.example.com/", "Peru"}
                                             << QStringList{"", "https://b.example.com/", "Peru"} << false;
}

void TestMerge::sameNewspaper()
{
    QFETCH(QStringList, db);
    QFETCH(QStringList, newer);
    QFETCH(bool, same);
    Folder f;
    const QString table = f.table("db.db", {{7, db[0], db[1], db[2], "", "", ""}});
    const QString csv =
        f.csv("newer.csv", Header + Csv::formatRecord({"7", newer[0], newer[1], newer[2], "", "", "Sports"}));
    QCOMPARE(f.merge({table, csv, "--report", f.path("r.csv")}), same ? 1 : 0);
    QCOMPARE(
        reportRows(f.path("r.csv")),
        QStringList{
            same ? QStringLiteral("conflict 7 %1: it differs from NEWER; without a base, kept as DB has it").arg(db[0])
                 : QStringLiteral("added 8 %1").arg(newer[0])});
    QCOMPARE(queryValue(table, "SELECT count(*) FROM newspapers"), same ? QStringLiteral("1") : QStringLiteral("2"));
}

void TestMerge::threeWayKeepsEveryoneElsesChanges()
{
    Folder f;
    const std::vector<Row> base = {{1, "Alpha", "https://a.example.com/", "Canada", "", "", ""},
                                   {2, "Beta", "https://b.example.com/", "Canada", "", "", ""},
                                   {3, "Gamma", "https://g.example.com/", "France", "", "", ""},
                                   {4, "Delta", "https://d.example.com/", "France", "", "", ""},
                                   {5, "Echo", "https://e.example.com/", "Spain", "", "", ""},
                                   {6, "Fox", "https://f.example.com/", "Spain", "", "", ""},
                                   {7, "Golf", "https://golf.example.com/", "Italy", "", "", ""},
                                   {8, "India", "https://i.example.com/", "Peru", "", "", ""}};
    // The release: Alpha recategorised, Beta moved, Gamma renamed, Delta and Echo gone,
    // Fox and Golf recategorised, Juliet and Kilo new; its numbers mean nothing here.
    const QString newer = f.csv("newer.csv", "Name,Url,Country,State,City,Category\n"
                                             "Juliet,https://j.example.com/,Chile,,,\n"
                                             "India,https://i.example.com/,Peru,,,\n"
                                             "Golf,https://golf.example.com/,Italy,,,News\n"
                                             "Fox,https://f.example.com/,Spain,,,News\n"
                                             "Gamma Daily,https://g.example.com/,France,,,\n"
                                             "beta,https://beta.example.org/,Canada,,,\n"
                                             "Alpha,https://a.example.com/,Canada,,,Sports\n"
                                             "Kilo,https://k.example.com/,Chile,,,\n");
    // The user: renamed Gamma, recategorised Echo, Golf (as the release did) and India,
    // deleted Fox, added Kilo (as the release did) and Lima.
    std::vector<Row> user = base;
    user[2].name = "Gamma Online";
    user[4].category = "Business";
    user[6].category = "News";
    user[7].category = "Travel";
    user.erase(user.begin() + 5);
    user.push_back({20, "Kilo", "https://k.example.com/", "Chile", "", "", ""});
    user.push_back({21, "Lima", "https://l.example.com/", "Chile", "", "", ""});
    const QString db = f.table("db.db", user);

    QCOMPARE(f.merge({db, newer, "--base", f.table("base.db", base), "--report", f.path("r.csv")}), 1);
    QCOMPARE(dump(db), QStringLiteral("1 Alpha|https://a.example.com/|Canada|Sports; "
                                      "2 beta|https://beta.example.org/|Canada|; "
                                      "3 Gamma Online|https://g.example.com/|France|; "
                                      "5 Echo|https://e.example.com/|Spain|Business; "
                                      "7 Golf|https://golf.example.com/|Italy|News; "
                                      "8 India|https://i.example.com/|Peru|Travel; "
                                      "20 Kilo|https://k.example.com/|Chile|; "
                                      "21 Lima|https://l.example.com/|Chile|; "
                                      "22 Juliet|https://j.example.com/|Chile|"));
    QCOMPARE(reportRows(f.path("r.csv")),
             (QStringList{"added 22 Juliet", "updated 2 beta", "updated 1 Alpha", "removed 4 Delta",
                          "conflict 3 Gamma Online: changed in both DB and NEWER since BASE; kept as DB has it",
                          "conflict 5 Echo: removed in NEWER but changed in DB since BASE; kept as DB has it",
                          "kept  Fox: deleted in DB since BASE; NEWER changed it"}));
    Csv::Reader reader(bytes(f.path("r.csv")));
    QStringList fields;
    reader.next(fields);
    reader.next(fields);
    reader.next(fields);
    QCOMPARE(fields.value(8),
             QStringLiteral("Name: Beta -> beta; Url: https://b.example.com/ -> https://beta.example.org/"));

    // Merging the same release again changes nothing: a start that stopped after the
    // merge but before keeping the new base may do just that.
    const QByteArray merged = bytes(db);
    QCOMPARE(f.merge({db, newer, "--base", f.path("base.db")}), 1);
    QCOMPARE(bytes(db), merged);
}

void TestMerge::repeatsInNewerUseTheFirst()
{
    Folder f;
    const QString db = f.table("db.db", {{1, "Times", "https://times.example.com/", "Ireland", "", "", ""},
                                         {2, "Gazette", "https://gazette.example.com/", "Ireland", "", "", ""}});
    // Line 3 matches No 1 by name, after line 2 took it by address; lines 5 and 6 repeat
    // line 4, by address and by name.
    const QString newer = f.csv("newer.csv", Header + "9,The Times,https://times.example.com/,Ireland,,,\n"
                                                      "9000,TIMES,https://other.example.com/,Ireland,,,\n"
                                                      "12,Post,https://post.example.com/,Ireland,,,\n"
                                                      "13,Post Again,http://WWW.post.example.com,Ireland,,,\n"
                                                      "14,POST,https://gazette.example.com/,Ireland,,,\n");
    QCOMPARE(f.merge({db, newer, "--report", f.path("r.csv")}), 1);
    QCOMPARE(reportRows(f.path("r.csv")),
             (QStringList{"added 3 Post", "conflict 1 Times: it differs from NEWER; without a base, kept as DB has it",
                          "kept 1 TIMES: it matches No 1 of DB, which line 2 of NEWER stands for",
                          "kept  Post Again: the same newspaper as line 4 of NEWER, which is used instead",
                          "kept  POST: the same newspaper as line 4 of NEWER, which is used instead"}));

    // With a base, a record that NEWER lists only in a repeat is still listed: never removed.
    const QString base = f.csv("base.csv", Header + "1,Times,https://times.example.com/,Ireland,,,\n"
                                                    "2,Gazette,https://gazette.example.com/,Ireland,,,\n");
    QCOMPARE(f.merge({db, newer, "--base", base}), 0);
    QCOMPARE(queryValue(db, "SELECT group_concat(Name, ',') FROM (SELECT Name FROM newspapers ORDER BY No)"),
             QStringLiteral("The Times,Gazette,Post"));
}

void TestMerge::failureLeavesTheTableByteForByte()
{
    Folder f;
    std::vector<Row> rows;
    for (int i = 1; i <= 400; ++i)
        rows.push_back({i, QStringLiteral("Paper %1").arg(i), QStringLiteral("https://p%1.example.com/").arg(i),
                        "Chile", "", "", ""});
    const QString base = f.table("base.db", rows);
    QByteArray csv = "Name,Url,Country,State,City,Category\n";
    for (int i = 1; i <= 400; ++i) {
        if (i % 4 != 0) // every fourth removed, every other one recategorised
            csv +=
                Csv::formatRecord({QStringLiteral("Paper %1").arg(i), QStringLiteral("https://p%1.example.com/").arg(i),
                                   "Chile", "", "", i % 2 ? "News" : ""});
    }
    csv += "First,https://first.example.com/,Chile,,,\nLast,https://last.example.com/,Chile,,,\n";
    const QString newer = f.csv("newer.csv", csv);
    const QString db = f.table("db.db", rows);
    const QString report = f.csv("r.csv", "an earlier report\n");

    // The dry run reports exactly what the merge does, and writes nothing.
    const QByteArray before = bytes(db);
    QCOMPARE(f.merge({db, newer, "--base", base, "--dry-run", "--report", f.path("dry.csv")}), 0);
    QCOMPARE(bytes(db), before);
    QCOMPARE(reportRows(f.path("dry.csv")).size(), 100 + 200 + 2);

    // A failure on the last write, after hundreds of others, undoes them all.
    queryValue(db, "CREATE TRIGGER fail BEFORE INSERT ON newspapers WHEN NEW.Name = 'Last' "
                   "BEGIN SELECT RAISE(ABORT, 'injected failure'); END");
    const QByteArray armed = bytes(db);
    QCOMPARE(f.merge({db, newer, "--base", base, "--report", report}), 2);
    QCOMPARE(bytes(db), armed);
    QCOMPARE(bytes(report), QByteArray("an earlier report\n"));
    QCOMPARE(entries(f.path(QString())), (QStringList{"Data", "base.db", "db.db", "dry.csv", "newer.csv", "r.csv"}));

    queryValue(db, "DROP TRIGGER fail");
    QCOMPARE(f.merge({db, newer, "--base", base, "--report", report}), 0);
    QCOMPARE(bytes(report), bytes(f.path("dry.csv")));
    QCOMPARE(queryValue(db, "SELECT count(*) || ' ' || max(No) FROM newspapers"), QStringLiteral("302 402"));
}

void TestMerge::badInputsChangeNothing_data()
{
    QTest::addColumn<QStringList>("args"); // @db: the table, @newer: a good CSV, @bad: newer.bad
    QTest::addColumn<QByteArray>("bad");   // written as newer.bad
    QTest::newRow("one file") << QStringList{"@db"} << QByteArray();
    QTest::newRow("three files") << QStringList{"@db", "@newer", "@newer"} << QByteArray();
    QTest::newRow("a file name that starts with -") << QStringList{"@db", "-newer.csv"} << QByteArray();
    QTest::newRow("--base without a file") << QStringList{"@db", "@newer", "--base"} << QByteArray();
    QTest::newRow("--report then an option") << QStringList{"@db", "@newer", "--report", "--dry-run"} << QByteArray();
    QTest::newRow("unknown option") << QStringList{"@db", "@newer", "--force"} << QByteArray();
    QTest::newRow("missing newer") << QStringList{"@db", "@missing"} << QByteArray();
    QTest::newRow("missing base") << QStringList{"@db", "@newer", "--base", "@missing"} << QByteArray();
    QTest::newRow("line break in a name") << QStringList{"@db", "@bad"} << Header + "5,\"Two\nLines\",,,,,\n";
    QTest::newRow("escape in a base's city")
        << QStringList{"@db", "@newer", "--base=@bad"} << Header + "5,A,,,,Li\x1bma,\n";
    QTest::newRow("wrong header") << QStringList{"@db", "@bad"} << QByteArray("Name,Country\nA,B\n");
    QTest::newRow("another SQLite file") << QStringList{"@db", "@bad"} << QByteArray("sqlite");
    QTest::newRow("control character in a NEWER table") << QStringList{"@db", "@bad"} << QByteArray("table");
    QTest::newRow("DB not a table") << QStringList{"@newer", "@newer"} << QByteArray();
}

void TestMerge::badInputsChangeNothing()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, bad);
    Folder f;
    const QString db = f.table("db.db", {{1, "One", "", "", "", "", ""}});
    f.csv("newer.csv", "Name,Url,Country,State,City,Category\nTwo,,,,,\n");
    if (bad == "sqlite") {
        queryValue(f.table("newer.bad", {}), "DROP TABLE newspapers");
    } else if (bad == "table") {
        f.table("newer.bad", {{3, "Tab\tbed", "", "", "", "", ""}});
    } else if (!bad.isEmpty()) {
        f.csv("newer.bad", bad);
    }
    for (QString& arg : args) {
        arg.replace("@db", db).replace("@newer", f.path("newer.csv")).replace("@bad", f.path("newer.bad"));
        arg.replace("@missing", f.path("missing.csv"));
    }
    const QByteArray before = bytes(db);
    QCOMPARE(f.merge(args), 2);
    QCOMPARE(bytes(db), before);
    QVERIFY(!f.exists("missing.csv"));
}

QTEST_GUILESS_MAIN(TestMerge)
#include "test_merge.moc"
