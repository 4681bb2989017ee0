#include "datatool/DbTool.h"

#include "datatool/CacheAfterChange.h"
#include "datatool/OutputFile.h"
#include "datatool/links/LinkCommand.h"
#include "datatool/merge/MergeCommand.h"
#include "directory/TableCache.h"
#include "errors/AppError.h"
#include "startup/DataLocation.h"
#include "startup/ProgramTitle.h"

#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <unistd.h>

// The command line; the operations it runs are in Operations.cpp.
namespace DbTool {

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

// Runs a long operation on a thread of its own while this one shows its progress: only
// once it has taken a couple of seconds, then at most twice a second, and only while
// records are being written (a known total that moves on). Failures are thrown here, as
// the operation threw them.
template <class Operation>
auto withProgressLine(Operation operation)
{
    Progress progress;
    auto outcome = std::async(std::launch::async, [&] { return operation(progress); });
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 lastDone = -1;
    bool shown = false;
    while (outcome.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        const qint64 elapsed = clock.elapsed();
        const qint64 done = progress.done();
        if (elapsed < 2000 || elapsed - last < 500 || progress.total() <= 0 || done == lastDone)
            continue;
        last = elapsed;
        lastDone = done;
        shown = true;
        printProgress(done, progress.total());
    }
    auto result = outcome.get();
    if (shown)
        std::fputs("\n", stderr);
    return result;
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
            const ImportSummary summary =
                withProgressLine([&](Progress& progress) { return importCsv(args[0], args[1], progress); });
            std::fprintf(stderr, "Imported %lld records into %s\n", static_cast<long long>(summary.added),
                         qUtf8Printable(args[0]));
            return 0;
        }
        if (command == QLatin1String("export")) {
            if (!expect(1, 2))
                return wrongUse(QStringLiteral("export takes a table and an optional CSV file"));
            if (args.size() == 2) {
                exportCsv(args[0], args[1]);
            } else {
                if (standardOutputClosed)
                    throw AppError(QStringLiteral("Cannot write to standard output: it is closed"));
                refuseStandardOutputOnInput({args[0]});
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
            std::printf("%s: cache: %s\n", qUtf8Printable(args[0]),
                        qUtf8Printable(TableCache::describe(
                            args[0], DataLocation::cachePathFor(args[0], DataLocation::Environment::current()))));
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
            withProgressLine([&](Progress& progress) {
                generate(args[0], count, seed, progress);
                return true;
            });
            return 0;
        }
    } catch (const OutputIsInput& error) {
        std::fprintf(stderr, "kestrove-db: %s\n", qUtf8Printable(error.message()));
        return 2;
    } catch (const AppError& error) {
        std::fprintf(stderr, "kestrove-db: %s\n", qUtf8Printable(error.message()));
        return 1;
    }
    return wrongUse(QStringLiteral("unknown command \"%1\"").arg(command));
}

} // namespace

int run(const QStringList& arguments, bool standardOutputClosed)
{
    const CacheAfterChange cache(arguments);
    const int status = runCommand(arguments, standardOutputClosed);
    cache.writeWhereChanged();
    return finishOutput(status);
}

} // namespace DbTool
