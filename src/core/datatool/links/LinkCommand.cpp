#include "datatool/links/LinkCommand.h"

#include "datatool/Csv.h"
#include "datatool/OutputFile.h"
#include "datatool/links/LinkChecker.h"
#include "datatool/links/LinkOperations.h"
#include "directory/Sqlite.h"
#include "directory/TableSchema.h"
#include "errors/AppError.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <unistd.h>

namespace links {

namespace {

struct Arguments
{
    QString db;
    int jobs = DefaultJobs;
    int timeoutMs = DefaultTimeoutSeconds * 1000;
    QString report;
    bool apply = false;
};

// Why the arguments are wrong; empty when they are fine.
QString parse(const QStringList& args, Arguments& out)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (!arg.startsWith(QLatin1Char('-'))) {
            if (!out.db.isEmpty())
                return QStringLiteral("check-links takes one table, not \"%1\" as well").arg(arg);
            out.db = arg;
            continue;
        }
        const qsizetype equals = arg.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? arg : arg.left(equals);
        std::optional<QString> inlineValue;
        if (equals >= 0)
            inlineValue = arg.mid(equals + 1);
        if (name == QLatin1String("--apply-redirects")) {
            if (inlineValue)
                return QStringLiteral("--apply-redirects takes no value");
            out.apply = true;
            continue;
        }
        if (name != QLatin1String("--jobs") && name != QLatin1String("--timeout") && name != QLatin1String("--report"))
            return QStringLiteral("unknown option \"%1\"").arg(arg);
        // A word starting with "-" is always an option, never a value or a file name.
        QString value;
        if (inlineValue)
            value = *inlineValue;
        else if (i + 1 < args.size() && !args[i + 1].startsWith(QLatin1Char('-')))
            value = args[++i];
        if (value.isEmpty() || value.startsWith(QLatin1Char('-'))) {
            if (name == QLatin1String("--report"))
                return QStringLiteral("--report needs a file name that does not start with \"-\"");
            if (name == QLatin1String("--jobs"))
                return QStringLiteral("--jobs needs a whole number from 1 to %1").arg(MaxJobs);
            return QStringLiteral("--timeout needs a number of seconds");
        }
        if (name == QLatin1String("--report")) {
            out.report = value;
        } else if (name == QLatin1String("--jobs")) {
            bool ok = false;
            out.jobs = value.toInt(&ok);
            if (!ok || out.jobs < 1 || out.jobs > MaxJobs)
                return QStringLiteral("--jobs \"%1\" is not a whole number from 1 to %2").arg(value).arg(MaxJobs);
        } else {
            bool ok = false;
            const double seconds = value.toDouble(&ok);
            if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > MaxTimeoutSeconds)
                return QStringLiteral("--timeout \"%1\" is not a number of seconds above 0 and up to %2")
                    .arg(value)
                    .arg(MaxTimeoutSeconds);
            out.timeoutMs = std::max(1, static_cast<int>(std::lround(seconds * 1000)));
        }
    }
    if (out.db.isEmpty())
        return QStringLiteral("check-links needs a table: kestrove-db check-links DB");
    return QString();
}

// Turns SIGINT into a call on the event loop: the handler only writes a byte to a pipe,
// the one thing it may safely do, and a notifier reads it in the main thread.
class InterruptWatch
{
public:
    explicit InterruptWatch(const std::function<void()>& onInterrupt)
    {
        if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            throw AppError(QStringLiteral("Cannot watch for Ctrl+C: %1").arg(QString::fromLocal8Bit(strerror(errno))));
        s_writeEnd = m_pipe[1];
        m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this, onInterrupt] {
            char byte;
            while (::read(m_pipe[0], &byte, 1) > 0) {
            }
            m_interrupted = true;
            onInterrupt();
        });
        // A shell starts background commands with SIGINT ignored; they should stay deaf to it.
        sigaction(SIGINT, nullptr, &m_previous);
        m_installed = m_previous.sa_handler != SIG_IGN;
        if (m_installed) {
            struct sigaction action = {};
            action.sa_handler = &InterruptWatch::handle;
            sigemptyset(&action.sa_mask);
            // A second Ctrl+C ends the program at once, should the clean stop hang.
            action.sa_flags = SA_RESTART | SA_RESETHAND;
            sigaction(SIGINT, &action, nullptr);
        }
    }
    ~InterruptWatch()
    {
        if (m_installed)
            sigaction(SIGINT, &m_previous, nullptr);
        m_notifier.reset();
        s_writeEnd = -1;
        ::close(m_pipe[0]);
        ::close(m_pipe[1]);
    }
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    bool interrupted() const { return m_interrupted; }

private:
    static void handle(int)
    {
        const int saved = errno;
        const char byte = 1;
        if (s_writeEnd >= 0 && ::write(s_writeEnd, &byte, 1) < 0) {
            // The pipe is full: a wake-up is already waiting.
        }
        errno = saved;
    }

    static volatile sig_atomic_t s_writeEnd;
    int m_pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_previous = {};
    bool m_installed = false;
    bool m_interrupted = false;
};

volatile sig_atomic_t InterruptWatch::s_writeEnd = -1;

QString counts(const Progress& progress)
{
    QStringList parts;
    for (const Verdict verdict : AllVerdicts)
        parts << QStringLiteral("%1 %2").arg(verdictName(verdict)).arg(progress.tally(static_cast<int>(verdict)));
    return parts.join(QLatin1String("  "));
}

void write(DbTool::OutputFile& file, const QByteArray& bytes)
{
    if (file.device().write(bytes) != bytes.size())
        throw AppError(QStringLiteral("Cannot write %1: %2").arg(file.path(), file.device().errorString()));
}

void writeReport(DbTool::OutputFile& file, const TableCheck& check)
{
    write(file, Csv::formatRecord({QStringLiteral("No"), QStringLiteral("Name"), QStringLiteral("Url"),
                                   QStringLiteral("Verdict"), QStringLiteral("Status"), QStringLiteral("FinalUrl"),
                                   QStringLiteral("Reason")}));
    for (const RecordCheck& each : check.records) {
        const std::optional<LinkResult>& result = each.result;
        if (!result)
            continue;
        write(file, Csv::formatRecord({QString::number(each.record.no), each.record.text(Field::Name),
                                       each.record.text(Field::Url), verdictName(result->verdict),
                                       result->status > 0 ? QString::number(result->status) : QString(),
                                       result->finalUrl, result->reason}));
    }
    if (!file.commit())
        throw AppError(QStringLiteral("Cannot write %1: %2").arg(file.path(), file.errorString()));
}

// Puts the new addresses of moved records in place, all or none. A record changes only
// if it is still as it was read: another copy of the program may have edited it.
void applyRedirects(const QString& dbPath, const TableCheck& check)
{
    std::vector<AddressChange> changes;
    std::vector<const RecordCheck*> moved;
    for (const RecordCheck& each : check.records) {
        if (each.result && each.result->verdict == Verdict::Moved) {
            changes.push_back({each.record, each.result->finalUrl});
            moved.push_back(&each);
        }
    }
    const std::vector<ChangeOutcome> outcomes = applyNewAddresses(dbPath, changes);
    QStringList changed;
    QStringList skipped;
    for (size_t i = 0; i < moved.size(); ++i) {
        const StoredRecord& record = moved[i]->record;
        const QString& newUrl = moved[i]->result->finalUrl;
        const QString label = QStringLiteral("No %1 (%2)").arg(record.no).arg(record.text(Field::Name));
        switch (outcomes[i]) {
        case ChangeOutcome::Done:
            changed << QStringLiteral("changed %1: %2 -> %3").arg(label, record.text(Field::Url), newUrl);
            break;
        case ChangeOutcome::NotAWebAddress:
            skipped << QStringLiteral("skipped %1: the new address %2 is not a web address").arg(label, newUrl);
            break;
        case ChangeOutcome::ChangedElsewhere:
            skipped << QStringLiteral("skipped %1: the record was changed or deleted since it was checked").arg(label);
            break;
        }
    }
    for (const QString& line : changed + skipped)
        std::printf("%s\n", qUtf8Printable(line));
    std::printf("Changed %lld of %d moved addresses.\n", static_cast<long long>(changed.size()),
                static_cast<int>(moved.size()));
}

} // namespace

int checkLinksCommand(const QStringList& arguments)
{
    Arguments args;
    if (const QString wrong = parse(arguments, args); !wrong.isEmpty()) {
        std::fprintf(stderr, "kestrove-db: %s (try kestrove-db --help)\n", qUtf8Printable(wrong));
        return ExitWrongUse;
    }

    try {
        if (!args.report.isEmpty())
            DbTool::refuseOutputOnInput(args.report, {args.db});
        {
            // Without --apply-redirects the file is opened so that nothing can be written to it.
            sqlite::Database db(args.db,
                                args.apply ? sqlite::Database::Mode::ReadWrite : sqlite::Database::Mode::ReadOnly);
            TableSchema::verify(db);
            if (args.apply && db.isReadOnly())
                throw AppError(
                    QStringLiteral("Cannot apply redirects to %1: the file or its folder is read-only").arg(args.db));
        }

        // Opened first, so a report that cannot be written is known before a long check.
        std::unique_ptr<DbTool::OutputFile> report;
        if (!args.report.isEmpty()) {
            report = std::make_unique<DbTool::OutputFile>(args.report);
            report->open();
        }

        CheckOptions options;
        options.jobs = args.jobs;
        options.timeoutMs = args.timeoutMs;
        Progress progress;
        InterruptWatch interrupt([&progress] { progress.cancel(); });

        QElapsedTimer clock;
        clock.start();
        QTimer line;
        const bool live = ::isatty(STDERR_FILENO) == 1;
        if (live) {
            line.setInterval(250);
            QObject::connect(&line, &QTimer::timeout, &line, [&] {
                const double seconds = std::max(clock.elapsed(), qint64(1)) / 1000.0;
                const qint64 done = progress.done();
                std::fprintf(stderr, "\r\033[K%lld / %lld  %s  %.1f/s", static_cast<long long>(done),
                             static_cast<long long>(progress.total()), qUtf8Printable(counts(progress)),
                             done / seconds);
                std::fflush(stderr);
            });
            line.start();
        }
        const TableCheck check = checkTable(args.db, options, progress);
        line.stop();
        if (live)
            std::fputs("\r\033[K", stderr);

        const CheckTally& tally = check.tally;
        for (const Verdict verdict : AllVerdicts)
            std::printf("%-12s %d\n", qUtf8Printable(verdictName(verdict)), tally.counts[static_cast<size_t>(verdict)]);
        const double seconds = clock.elapsed() / 1000.0;
        if (interrupt.interrupted())
            std::printf("Interrupted: checked %d of %d addresses in %.1f s.\n", tally.done, tally.total, seconds);
        else
            std::printf("Checked %d addresses in %.1f s.\n", tally.total, seconds);
        std::fflush(stdout);

        // The report is whole (or the command has failed) before the table changes.
        if (report)
            writeReport(*report, check);
        if (args.apply) {
            if (interrupt.interrupted())
                std::printf("The table is left as it was, since the check was interrupted.\n");
            else
                applyRedirects(args.db, check);
        }
        if (interrupt.interrupted())
            return ExitInterrupted;
        for (const Verdict verdict : AllVerdicts) {
            if (isFailure(verdict) && tally.counts[static_cast<size_t>(verdict)] > 0)
                return ExitSomeFailed;
        }
        return ExitAllGood;
    } catch (const AppError& error) {
        std::fprintf(stderr, "kestrove-db: %s\n", qUtf8Printable(error.message()));
        return ExitWrongUse;
    }
}

} // namespace links
