#include "startup/StarterUpdate.h"

#include "datatool/merge/Merge.h"
#include "directory/Sqlite.h"
#include "directory/TableSchema.h"
#include "errors/AppError.h"
#include "startup/DataLocation.h"

#include <QFile>
#include <QFileInfo>

namespace StarterUpdate {

namespace {

QString readStamp(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.read(256)).trimmed() : QString();
}

bool isDirectoryTable(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return false;
    try {
        sqlite::Database db(path, sqlite::Database::Mode::ReadOnly);
        TableSchema::verify(db);
        return true;
    } catch (const AppError&) {
        return false;
    }
}

} // namespace

Outcome run(const DataLocation& location)
{
    Outcome outcome;
    if (!location.installed())
        return outcome;
    const QString version = location.starterVersion();
    // A base that cannot be read is taken as none, so that it cannot stop every later merge.
    const bool haveBase = isDirectoryTable(location.basePath());
    if (version.isEmpty() || (haveBase && readStamp(location.baseVersionPath()) == version))
        return outcome;
    // A table that cannot be opened is the start's to report, once; the merge waits
    // until it can be.
    if (!isDirectoryTable(location.tablePath()))
        return outcome;

    try {
        merge::Options options;
        if (haveBase)
            options.basePath = location.basePath();
        const merge::Result result = merge::mergeInto(location.tablePath(), location.starterPath(), options);
        outcome.merged = true;
        outcome.added = result.count(merge::Action::Added);
        outcome.updated = result.count(merge::Action::Updated);
        outcome.removed = result.count(merge::Action::Removed);
        outcome.conflicts = result.count(merge::Action::Conflict);
    } catch (const AppError& error) {
        outcome.error = QStringLiteral("The directory that came with this version could not be merged into yours; "
                                       "yours is as it was. %1")
                            .arg(error.message());
        return outcome;
    }
    // Should this fail, the next start merges again, which changes nothing more.
    try {
        location.keepStarterAsBase();
    } catch (const AppError& error) {
        outcome.error = QStringLiteral("The directory that came with this version was merged into yours, but it "
                                       "cannot be kept for the next one. %1")
                            .arg(error.message());
    }
    return outcome;
}

} // namespace StarterUpdate
