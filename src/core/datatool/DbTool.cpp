#include "datatool/DbTool.h"

#include "datatool/Csv.h"
#include "datatool/CsvRecords.h"
#include "datatool/Generator.h"
#include "datatool/links/LinkCommand.h"
#include "datatool/merge/MergeCommand.h"
#include "directory/Record.h"
#include "directory/Sqlite.h"
#include "directory/TableCache.h"
#include "directory/TableSchema.h"
#include "errors/AppError.h"
#include "startup/ProgramTitle.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <algorithm>
#include <cstdio>
#include <limits>
#include <unistd.h>

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

// Large enough that a million records take few system calls.
constexpr qsizetype ExportChunk = 256 * 1024;

} // namespace

void create(const QString& dbPath)
{
    createEmpty(dbPath);
}

qint64 importCsv(const QString& dbPath, const QString& csvPath, const Progress& progress)
{
    // Every record is read and checked before any is written, so a bad line changes nothing.
    std::vector<CsvRecords::Row> rows;
    const bool withNo = CsvRecords::read(csvPath, QStringLiteral("nothing was imported"),
                                         [&](CsvRecords::Row& row) { rows.push_back(std::move(row)); });

    sqlite::Database db = openTable(dbPath);
    sqlite::Transaction transaction(db, true);
    qint64 next = 1;
    {
        sqlite::Statement highest(db, "SELECT max(No) FROM newspapers");
        if (highest.step() && !highest.isNull(0))
            next = highest.int64(0) + 1;
    }
    if (withNo) {
        sqlite::Statement exists(db, "SELECT 1 FROM newspapers WHERE No = ?1");
        for (const CsvRecords::Row& row : rows) {
            exists.reset();
            exists.bind(1, row.no);
            if (exists.step()) {
                throw AppError(QStringLiteral("%1, line %2: No %3 is already in the table; nothing was imported")
                                   .arg(csvPath)
                                   .arg(row.line)
                                   .arg(row.no));
            }
        }
    } else if (next + static_cast<qint64>(rows.size()) - 1 > std::numeric_limits<qint32>::max()) {
        throw AppError(QStringLiteral("%1: the records would be numbered beyond %2; nothing was imported")
                           .arg(csvPath)
                           .arg(std::numeric_limits<qint32>::max()));
    }

    TableSchema::RecordInserter insert(db);
    Throttle report(progress);
    const auto total = static_cast<qint64>(rows.size());
    for (qint64 i = 0; i < total; ++i) {
        const CsvRecords::Row& row = rows[static_cast<size_t>(i)];
        insert.insert(withNo ? row.no : next++, row.text);
        if ((i & 0x3ff) == 0)
            report(i, total);
    }
    transaction.commit();
    return total;
}

void exportCsv(const QString& dbPath, QIODevice& out)
{
    sqlite::Database db = openTable(dbPath);
    // Written in large pieces, each checked, so a full disk or a closed pipe is reported.
    QByteArray pending;
    auto flush = [&] {
        if (!pending.isEmpty() && out.write(pending) != pending.size())
            throw AppError(QStringLiteral("Cannot write the export: %1").arg(out.errorString()));
        pending.clear();
    };
    pending += Csv::formatRecord({QStringLiteral("No"), QStringLiteral("Name"), QStringLiteral("Url"),
                                  QStringLiteral("Country"), QStringLiteral("State"), QStringLiteral("City"),
                                  QStringLiteral("Category")});
    sqlite::Statement st(db, "SELECT No, Name, Url, Country, State, City, Category FROM newspapers ORDER BY No");
    QStringList fields;
    while (st.step()) {
        fields.clear();
        fields << QString::number(st.int64(0));
        for (int i = 1; i <= Field::TextCount; ++i)
            fields << (st.isNull(i) ? QString() : st.string(i));
        pending += Csv::formatRecord(fields);
        if (pending.size() >= ExportChunk)
            flush();
    }
    flush();
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
        TableSchema::RecordInserter insert(db);
        Generator generator(seed);
        Throttle report(progress);
        for (qint64 no = 1; no <= count; ++no) {
            insert.insert(no, generator.next());
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
    "                       and that SQLite's integrity check passes; say whether the cache\n"
    "                       beside it (DB.cache) matches it.\n"
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
    "  merge DB NEWER [--base BASE] [--dry-run] [--report CSV]\n"
    "                       Bring DB up to date with NEWER (a table or a CSV file in the import\n"
    "                       format), all or none. Records are the same newspaper when their web\n"
    "                       addresses match (http/https, letter case of the host, a leading www.\n"
    "                       and a trailing / ignored), or else their names and countries in any\n"
    "                       letter case; numbers never match, and added records are numbered\n"
    "                       after DB's highest. A newspaper listed twice in NEWER is taken from\n"
    "                       its first record; the others are reported as kept.\n"
    "                       --base BASE: the directory DB started from (a table or CSV). What\n"
    "                         NEWER changed since BASE is applied where DB still has BASE's\n"
    "                         version: added, updated, removed. Where DB changed it too, it is a\n"
    "                         conflict and DB's version stays; what DB deleted stays deleted and\n"
    "                         what DB added is never touched.\n"
    "                       Without --base only records DB lacks are added; records that\n"
    "                         differ are reported as conflicts and left as they are.\n"
    "                       --dry-run: report what would change; DB is only read.\n"
    "                       --report CSV: Action,No,Name,Url,Country,State,City,Category,\n"
    "                         Differences,Reason per record added, updated, removed, in\n"
    "                         conflict or kept; without it only the counts are printed.\n"
    "                       Exit status 0 when merged with no conflict, 1 when conflicts were\n"
    "                       left as DB has them, 2 on wrong use, an unreadable input or a\n"
    "                       failed write (DB is then as it was).\n"
    "  --help               Show this text.\n"
    "  --version            Show the version.\n"
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

namespace {

// Standard output is checked once more at the end: a failed write there is a failure.
int finishOutput(int status)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "kestrove-db: cannot write to standard output\n");
        return status == 0 ? 1 : status;
    }
    return status;
}

int runCommand(const QStringList& arguments, bool standardOutputClosed)
{
    if (arguments.isEmpty())
        return wrongUse(QStringLiteral("no command given"));
    const QString command = arguments.first();
    const QStringList args = arguments.mid(1);
    auto isHelp = [](const QString& arg) { return arg == QLatin1String("--help") || arg == QLatin1String("-h"); };
    if (isHelp(command) || command == QLatin1String("help") || std::any_of(args.begin(), args.end(), isHelp)) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (command == QLatin1String("--version")) {
        std::printf("kestrove-db %s\n", qUtf8Printable(ProgramVersion));
        return 0;
    }
    // check-links and merge read their own options.
    if (command == QLatin1String("check-links"))
        return links::checkLinksCommand(args);
    if (command == QLatin1String("merge"))
        return merge::mergeCommand(args);
    // A name that starts with "-" is an option, never a file name.
    for (const QString& arg : args) {
        if (arg.startsWith(QLatin1Char('-')))
            return wrongUse(QStringLiteral("unknown option \"%1\"").arg(arg));
    }
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
                // Unbuffered: a full disk shows in write() itself rather than only at commit.
                if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
                    throw AppError(QStringLiteral("Cannot create %1: %2").arg(args[1], out.errorString()));
                exportCsv(args[0], out);
                if (!out.commit())
                    throw AppError(QStringLiteral("Cannot write %1: %2").arg(args[1], out.errorString()));
            } else {
                if (standardOutputClosed)
                    throw AppError(QStringLiteral("Cannot write to standard output: it is closed"));
                QFile out;
                if (!out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered,
                              QFileDevice::DontCloseHandle))
                    throw AppError(QStringLiteral("Cannot write to standard output"));
                exportCsv(args[0], out);
            }
            return 0;
        }
        if (command == QLatin1String("check")) {
            if (!expect(1, 1))
                return wrongUse(QStringLiteral("check takes one file name: kestrove-db check DB"));
            const QStringList problems = check(args[0]);
            for (const QString& problem : problems)
                std::printf("%s: %s\n", qUtf8Printable(args[0]), qUtf8Printable(problem));
            if (problems.isEmpty())
                std::printf("%s: ok\n", qUtf8Printable(args[0]));
            // The cache is derived data: whatever its state, the table is still fine.
            std::printf("%s: cache: %s\n", qUtf8Printable(args[0]), qUtf8Printable(TableCache::describe(args[0])));
            return problems.isEmpty() ? 0 : 1;
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

} // namespace

int run(const QStringList& arguments, bool standardOutputClosed)
{
    return finishOutput(runCommand(arguments, standardOutputClosed));
}

} // namespace DbTool
