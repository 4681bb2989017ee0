#include "datatool/merge/MergeCommand.h"

#include "datatool/Csv.h"
#include "datatool/OutputFile.h"
#include "datatool/merge/Merge.h"
#include "errors/AppError.h"

#include <QIODevice>
#include <cstdio>
#include <memory>

namespace merge {

namespace {

struct Arguments
{
    QString db;
    QString newer;
    QString base;
    QString report;
    bool dryRun = false;
};

// Why the arguments are wrong; empty when they are fine.
QString parse(const QStringList& args, Arguments& out)
{
    QStringList files;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (!arg.startsWith(QLatin1Char('-'))) {
            files << arg;
            continue;
        }
        const qsizetype equals = arg.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? arg : arg.left(equals);
        if (name == QLatin1String("--dry-run")) {
            if (equals >= 0)
                return QStringLiteral("--dry-run takes no value");
            out.dryRun = true;
            continue;
        }
        if (name != QLatin1String("--base") && name != QLatin1String("--report"))
            return QStringLiteral("unknown option \"%1\"").arg(arg);
        // A word starting with "-" is always an option, never a file name.
        QString value;
        if (equals >= 0)
            value = arg.mid(equals + 1);
        else if (i + 1 < args.size() && !args[i + 1].startsWith(QLatin1Char('-')))
            value = args[++i];
        if (value.isEmpty() || value.startsWith(QLatin1Char('-')))
            return QStringLiteral("%1 needs a file name that does not start with \"-\"").arg(name);
        (name == QLatin1String("--base") ? out.base : out.report) = value;
    }
    if (files.size() != 2)
        return QStringLiteral("merge takes a table and a newer directory: kestrove-db merge DB NEWER");
    out.db = files[0];
    out.newer = files[1];
    return QString();
}

void write(DbTool::OutputFile& file, const QByteArray& bytes)
{
    if (file.device().write(bytes) != bytes.size())
        throw AppError(
            QStringLiteral("Cannot write %1: %2; nothing was merged").arg(file.path(), file.device().errorString()));
}

void writeReport(DbTool::OutputFile& file, const Result& result)
{
    write(file, Csv::formatRecord({QStringLiteral("Action"), QStringLiteral("No"), QStringLiteral("Name"),
                                   QStringLiteral("Url"), QStringLiteral("Country"), QStringLiteral("State"),
                                   QStringLiteral("City"), QStringLiteral("Category"), QStringLiteral("Differences"),
                                   QStringLiteral("Reason")}));
    QByteArray pending;
    for (const Change& change : result.changes) {
        QStringList fields{actionName(change.action), change.no > 0 ? QString::number(change.no) : QString()};
        for (const QString& text : change.fields)
            fields << text;
        fields << change.differences << change.reason;
        pending += Csv::formatRecord(fields);
        if (pending.size() >= 256 * 1024) {
            write(file, pending);
            pending.clear();
        }
    }
    write(file, pending);
    // A stream cannot wait for the merge: it is finished here, and the merge is committed
    // only once all of it went through.
    if (file.isStream() && !file.commit())
        throw AppError(QStringLiteral("Cannot write %1: %2; nothing was merged").arg(file.path(), file.errorString()));
}

} // namespace

int mergeCommand(const QStringList& arguments)
{
    Arguments args;
    if (const QString wrong = parse(arguments, args); !wrong.isEmpty()) {
        std::fprintf(stderr, "kestrove-db: %s (try kestrove-db --help)\n", qUtf8Printable(wrong));
        return ExitWrongUse;
    }
    try {
        // The report is never written over an input (mergeInto sees to the table).
        if (!args.report.isEmpty())
            DbTool::refuseOutputOnInput(args.report, {args.db, args.newer, args.base});
        // Opened first, so a report that cannot be written is known before the table changes.
        std::unique_ptr<DbTool::OutputFile> report;
        if (!args.report.isEmpty()) {
            report = std::make_unique<DbTool::OutputFile>(args.report);
            report->open();
        }
        Options options;
        options.basePath = args.base;
        options.dryRun = args.dryRun;
        // Written in full before the merge is committed: a full disk stops the merge too.
        if (report)
            options.beforeCommit = [&](const Result& result) { writeReport(*report, result); };
        const Result result = mergeInto(args.db, args.newer, options);
        if (report && !report->isStream() && !report->commit()) {
            throw AppError(QStringLiteral("Cannot write %1: %2%3")
                               .arg(args.report, report->errorString(),
                                    args.dryRun ? QString() : QStringLiteral(" (the merge itself is done)")));
        }

        for (int a = 0; a < ActionCount; ++a) {
            const auto action = static_cast<Action>(a);
            std::printf("%-9s %lld\n", qUtf8Printable(actionName(action)),
                        static_cast<long long>(result.count(action)));
        }
        const char* kind = result.threeWay ? "three-way, from BASE" : "two-way, without a base: only additions";
        if (args.dryRun)
            std::printf("Dry run (%s): nothing was written to %s.\n", kind, qUtf8Printable(args.db));
        else
            std::printf("Merged %s into %s (%s).\n", qUtf8Printable(args.newer), qUtf8Printable(args.db), kind);
        return result.count(Action::Conflict) > 0 ? ExitConflicts : ExitMerged;
    } catch (const AppError& error) {
        std::fprintf(stderr, "kestrove-db: %s\n", qUtf8Printable(error.message()));
        return ExitWrongUse;
    }
}

} // namespace merge
