#include "directory/DbTool.h"

#include "app/AppError.h"
#include "directory/Csv.h"
#include "directory/Generator.h"
#include "directory/Record.h"
#include "directory/Sqlite.h"
#include "directory/TableSchema.h"
#include "directory/links/LinkCommand.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <cstdio>
#include <limits>

namespace DbTool {

namespace {

sqlite::Database openTable(const QString& dbPath)
{
    sqlite::Database db(dbPath, sqlite::Database::Mode::ReadWrite);
    TableSchema::verify(db);
    return db;
}

sqlite::Database createEmpty(const QString& dbPath, bool withIndexes = true)
{
    if (QFileInfo::exists(dbPath))
        throw AppError(QStringLiteral("%1 already exists; it is left as it is").arg(dbPath));
    const QString folder = QFileInfo(dbPath).absolutePath();
    if (!QDir().mkpath(folder))
        throw AppError(QStringLiteral("Cannot create the folder %1").arg(folder));
    sqlite::Database db(dbPath, sqlite::Database::Mode::Create);
    // Rollback journal, not WAL: a WAL database cannot even be read from a read-only folder.
    db.exec("PRAGMA journal_mode = DELETE");
    if (withIndexes)
        TableSchema::create(db);
    else
        TableSchema::createTable(db);
    return db;
}

struct ImportRow
{
    qint64 no = 0;
    std::array<QString, Field::TextCount> text;
};

bool hasLineBreak(const QString& text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\r' || u == u'\n' || u == 0x0b || u == 0x0c || u == 0x85 || u == 0x2028 || u == 0x2029)
            return true;
    }
    return false;
}

void insertRow(sqlite::Statement& insert, qint64 no, const std::array<QString, Field::TextCount>& text)
{
    insert.reset();
    insert.bind(1, no);
    for (int i = 0; i < Field::TextCount; ++i)
        insert.bindTextOrNull(i + 2, text[static_cast<size_t>(i)]);
    insert.bind(8, QByteArray("0"));
    insert.bind(9, qint64(0));
    insert.bind(10, qint64(0));
    insert.run();
}

constexpr const char* InsertSql = "INSERT INTO newspapers (No, Name, Url, Country, State, City, Category, Reserved1, "
                                  "Reserved2, Reserved3) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)";

// Reports progress only once a run has taken a couple of seconds, then twice a second.
class Throttle
{
public:
    explicit Throttle(const Progress& progress)
        : m_progress(progress)
    {
        m_clock.start();
    }
    void operator()(qint64 done, qint64 total)
    {
        if (!m_progress || m_clock.elapsed() < 2000 || m_clock.elapsed() - m_last < 500)
            return;
        m_last = m_clock.elapsed();
        m_progress(done, total);
    }

private:
    const Progress& m_progress;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
};

} // namespace

void create(const QString& dbPath)
{
    createEmpty(dbPath);
}

qint64 importCsv(const QString& dbPath, const QString& csvPath, const Progress& progress)
{
    QFile file(csvPath);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Cannot read %1: %2").arg(csvPath, file.errorString()));
    Csv::Reader reader(file.readAll());
    file.close();

    sqlite::Database db = openTable(dbPath);

    // The header: the six text columns, with or without No in front.
    QStringList header;
    if (!reader.next(header))
        throw AppError(QStringLiteral("%1 is empty; it needs a header row").arg(csvPath));
    QStringList expected = {QStringLiteral("No"),      QStringLiteral("Name"),  QStringLiteral("Url"),
                            QStringLiteral("Country"), QStringLiteral("State"), QStringLiteral("City"),
                            QStringLiteral("Category")};
    const bool withNo = !header.isEmpty() && header.first().compare(QLatin1String("No"), Qt::CaseInsensitive) == 0;
    if (!withNo)
        expected.removeFirst();
    bool headerOk = header.size() == expected.size();
    for (qsizetype i = 0; headerOk && i < header.size(); ++i)
        headerOk = header[i].compare(expected[i], Qt::CaseInsensitive) == 0;
    if (!headerOk) {
        throw AppError(QStringLiteral("%1, line 1: the header must read \"No,Name,Url,Country,State,City,Category\" "
                                      "(No may be left out), not \"%2\"")
                           .arg(csvPath, header.join(QLatin1Char(','))));
    }

    // Read and check every record before writing any, so a bad line changes nothing.
    std::vector<ImportRow> rows;
    QHash<qint64, int> lineOfNo;
    QStringList fields;
    try {
        while (reader.next(fields)) {
            if (fields.size() == 1 && fields.first().isEmpty())
                continue; // an empty line
            const int line = reader.line();
            auto fail = [&](const QString& reason) {
                throw AppError(QStringLiteral("line %1: %2").arg(line).arg(reason));
            };
            if (fields.size() != expected.size())
                fail(QStringLiteral("expected %1 fields, found %2").arg(expected.size()).arg(fields.size()));
            ImportRow row;
            int first = 0;
            if (withNo) {
                bool ok = false;
                row.no = fields[0].toLongLong(&ok);
                if (!ok || row.no < 1 || row.no > std::numeric_limits<qint32>::max())
                    fail(QStringLiteral("No \"%1\" is not a whole number from 1 to %2")
                             .arg(fields[0])
                             .arg(std::numeric_limits<qint32>::max()));
                if (const auto seen = lineOfNo.constFind(row.no); seen != lineOfNo.constEnd())
                    fail(QStringLiteral("No %1 is used twice (also on line %2)").arg(row.no).arg(*seen));
                lineOfNo.insert(row.no, line);
                first = 1;
            }
            for (int i = 0; i < Field::TextCount; ++i)
                row.text[static_cast<size_t>(i)] = fields[first + i];
            if (hasLineBreak(row.text[0]))
                fail(QStringLiteral("the name contains a line break"));
            rows.push_back(std::move(row));
        }
    } catch (const AppError& error) {
        throw AppError(QStringLiteral("%1, %2; nothing was imported").arg(csvPath, error.message()));
    }

    sqlite::Transaction transaction(db, true);
    qint64 next = 1;
    {
        sqlite::Statement highest(db, "SELECT max(No) FROM newspapers");
        if (highest.step() && !highest.isNull(0))
            next = highest.int64(0) + 1;
    }
    if (withNo) {
        sqlite::Statement exists(db, "SELECT 1 FROM newspapers WHERE No = ?1");
        for (const ImportRow& row : rows) {
            exists.reset();
            exists.bind(1, row.no);
            if (exists.step()) {
                throw AppError(QStringLiteral("%1, line %2: No %3 is already in the table; nothing was imported")
                                   .arg(csvPath)
                                   .arg(lineOfNo.value(row.no))
                                   .arg(row.no));
            }
        }
    } else if (next + static_cast<qint64>(rows.size()) - 1 > std::numeric_limits<qint32>::max()) {
        throw AppError(QStringLiteral("%1: the records would be numbered beyond %2; nothing was imported")
                           .arg(csvPath)
                           .arg(std::numeric_limits<qint32>::max()));
    }

    sqlite::Statement insert(db, InsertSql);
    Throttle report(progress);
    const auto total = static_cast<qint64>(rows.size());
    for (qint64 i = 0; i < total; ++i) {
        const ImportRow& row = rows[static_cast<size_t>(i)];
        insertRow(insert, withNo ? row.no : next++, row.text);
        if ((i & 0x3ff) == 0)
            report(i, total);
    }
    transaction.commit();
    return total;
}

void exportCsv(const QString& dbPath, QIODevice& out)
{
    sqlite::Database db = openTable(dbPath);
    auto write = [&](const QByteArray& bytes) {
        if (out.write(bytes) != bytes.size())
            throw AppError(QStringLiteral("Cannot write the export: %1").arg(out.errorString()));
    };
    write(Csv::formatRecord({QStringLiteral("No"), QStringLiteral("Name"), QStringLiteral("Url"),
                             QStringLiteral("Country"), QStringLiteral("State"), QStringLiteral("City"),
                             QStringLiteral("Category")}));
    sqlite::Statement st(db, "SELECT No, Name, Url, Country, State, City, Category FROM newspapers ORDER BY No");
    QStringList fields;
    while (st.step()) {
        fields.clear();
        fields << QString::number(st.int64(0));
        for (int i = 1; i <= Field::TextCount; ++i)
            fields << (st.isNull(i) ? QString() : st.string(i));
        write(Csv::formatRecord(fields));
    }
}

QStringList check(const QString& dbPath)
{
    sqlite::Database db(dbPath, sqlite::Database::Mode::ReadWrite);
    QStringList problems = TableSchema::problems(db);
    sqlite::Statement integrity(db, "PRAGMA integrity_check");
    while (integrity.step()) {
        const QString line = integrity.string(0);
        if (line != QLatin1String("ok"))
            problems << QStringLiteral("integrity check: %1").arg(line);
    }
    sqlite::Statement mode(db, "PRAGMA journal_mode");
    if (mode.step() && mode.string(0).compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0)
        problems << QStringLiteral("the file is in WAL mode, which a read-only folder cannot read; "
                                   "run: sqlite3 FILE 'PRAGMA journal_mode=DELETE'");
    return problems;
}

void generate(const QString& dbPath, qint64 count, quint64 seed, const Progress& progress)
{
    if (count < 0 || count > std::numeric_limits<qint32>::max())
        throw AppError(
            QStringLiteral("The number of records must be from 0 to %1").arg(std::numeric_limits<qint32>::max()));
    // Indexing once at the end is far quicker than keeping six indexes up to date.
    sqlite::Database db = createEmpty(dbPath, false);
    db.exec("PRAGMA cache_size = -262144");
    {
        sqlite::Transaction transaction(db, true);
        sqlite::Statement insert(db, InsertSql);
        Generator generator(seed);
        Throttle report(progress);
        for (qint64 no = 1; no <= count; ++no) {
            insertRow(insert, no, generator.next());
            if ((no & 0x3ff) == 0)
                report(no, count);
        }
        transaction.commit();
    }
    TableSchema::createIndexes(db);
}

namespace {

const char* const Usage =
    "Usage: kestrove-db COMMAND ARGUMENTS\n"
    "\n"
    "Creates and maintains the directory table of Kestrove Online Newspaper (Data/list.db).\n"
    "\n"
    "Commands:\n"
    "  create DB            Create a new, empty directory table with its indexes in the file DB.\n"
    "                       An existing file is never overwritten.\n"
    "  import DB CSV        Append the records of the CSV file to the table, all or none.\n"
    "                       The header row is No,Name,Url,Country,State,City,Category; without\n"
    "                       the No column, records are numbered after the highest number.\n"
    "  export DB [CSV]      Write every record, in No order, to CSV or to standard output.\n"
    "  check DB             Check that DB is a directory table with every column and index,\n"
    "                       and that SQLite's integrity check passes.\n"
    "  generate DB N [SEED] Create a new table of N synthetic records (for measurements);\n"
    "                       the same SEED gives the same records.\n"
    "  check-links DB [--jobs N] [--timeout SECONDS] [--report CSV] [--apply-redirects]\n"
    "                       Ask every record's web address over HTTP (HEAD, or GET where HEAD\n"
    "                       is refused), following up to 5 redirects, and print how many are\n"
    "                       ok, moved (a permanent redirect), redirected (temporary ones only),\n"
    "                       broken (4xx, 5xx), unreachable (no answer, with the reason) or\n"
    "                       refused (not a web address, never asked).\n"
    "                       --jobs N: requests at once (default 16, 1 to 256); never more than\n"
    "                         2 to one host.\n"
    "                       --timeout SECONDS: per request (default 10).\n"
    "                       --report CSV: No,Name,Url,Verdict,Status,FinalUrl,Reason per record.\n"
    "                       --apply-redirects: replace the addresses of moved records by their\n"
    "                         new ones, all or none; without it the table is only read.\n"
    "                       Exit status 0 when all are ok, moved or redirected, 1 when any is\n"
    "                       broken, unreachable or refused, 2 on wrong use or an unreadable\n"
    "                       table, 130 after Ctrl+C (the report then holds what was checked).\n"
    "  --help               Show this text.\n"
    "\n"
    "CSV files are UTF-8 with RFC 4180 quoting. Exit status: 0 on success, 1 on failure,\n"
    "2 on wrong use.\n";

void printProgress(qint64 done, qint64 total)
{
    std::fprintf(stderr, "\r%lld of %lld records (%d%%)", static_cast<long long>(done), static_cast<long long>(total),
                 total > 0 ? static_cast<int>(done * 100 / total) : 100);
    std::fflush(stderr);
}

int wrongUse(const QString& reason)
{
    std::fprintf(stderr, "kestrove-db: %s (try kestrove-db --help)\n", qUtf8Printable(reason));
    return 2;
}

} // namespace

int run(const QStringList& arguments)
{
    if (arguments.isEmpty())
        return wrongUse(QStringLiteral("no command given"));
    const QString command = arguments.first();
    const QStringList args = arguments.mid(1);
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (command == QLatin1String("check-links"))
        return links::checkLinksCommand(args);
    auto expect = [&](qsizetype least, qsizetype most) { return args.size() >= least && args.size() <= most; };
    try {
        if (command == QLatin1String("create")) {
            if (!expect(1, 1))
                return wrongUse(QStringLiteral("create takes one file name: kestrove-db create DB"));
            create(args[0]);
            return 0;
        }
        if (command == QLatin1String("import")) {
            if (!expect(2, 2))
                return wrongUse(QStringLiteral("import takes a table and a CSV file: kestrove-db import DB CSV"));
            bool shown = false;
            const qint64 n = importCsv(args[0], args[1], [&](qint64 done, qint64 total) {
                shown = true;
                printProgress(done, total);
            });
            if (shown)
                std::fputs("\n", stderr);
            std::fprintf(stderr, "Imported %lld records into %s\n", static_cast<long long>(n), qUtf8Printable(args[0]));
            return 0;
        }
        if (command == QLatin1String("export")) {
            if (!expect(1, 2))
                return wrongUse(QStringLiteral("export takes a table and an optional CSV file"));
            if (args.size() == 2) {
                QSaveFile out(args[1]);
                if (!out.open(QIODevice::WriteOnly))
                    throw AppError(QStringLiteral("Cannot create %1: %2").arg(args[1], out.errorString()));
                exportCsv(args[0], out);
                if (!out.commit())
                    throw AppError(QStringLiteral("Cannot write %1: %2").arg(args[1], out.errorString()));
            } else {
                QFile out;
                if (!out.open(stdout, QIODevice::WriteOnly))
                    throw AppError(QStringLiteral("Cannot write to standard output"));
                exportCsv(args[0], out);
            }
            return 0;
        }
        if (command == QLatin1String("check")) {
            if (!expect(1, 1))
                return wrongUse(QStringLiteral("check takes one file name: kestrove-db check DB"));
            const QStringList problems = check(args[0]);
            if (problems.isEmpty()) {
                std::printf("%s: ok\n", qUtf8Printable(args[0]));
                return 0;
            }
            for (const QString& problem : problems)
                std::printf("%s: %s\n", qUtf8Printable(args[0]), qUtf8Printable(problem));
            return 1;
        }
        if (command == QLatin1String("generate")) {
            if (!expect(2, 3))
                return wrongUse(QStringLiteral("generate takes a file name, a count and an optional seed"));
            bool ok = false;
            const qint64 count = args[1].toLongLong(&ok);
            if (!ok || count < 0)
                return wrongUse(QStringLiteral("the count \"%1\" is not a whole number").arg(args[1]));
            quint64 seed = 1;
            if (args.size() == 3) {
                seed = args[2].toULongLong(&ok);
                if (!ok)
                    return wrongUse(QStringLiteral("the seed \"%1\" is not a whole number").arg(args[2]));
            }
            bool shown = false;
            generate(args[0], count, seed, [&](qint64 done, qint64 total) {
                shown = true;
                printProgress(done, total);
            });
            if (shown)
                std::fputs("\n", stderr);
            return 0;
        }
    } catch (const AppError& error) {
        std::fprintf(stderr, "kestrove-db: %s\n", qUtf8Printable(error.message()));
        return 1;
    }
    return wrongUse(QStringLiteral("unknown command \"%1\"").arg(command));
}

} // namespace DbTool
