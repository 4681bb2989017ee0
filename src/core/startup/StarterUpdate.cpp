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

// Why the file is not a directory table that can be read; empty when it is one.
QString unreadable(const QString& path)
{
    if (!QFileInfo::exists(path))
        return QStringLiteral("the file does not exist");
    if (!QFileInfo(path).isFile())
        return QStringLiteral("it is not a file");
    try {
        sqlite::Database db(path, sqlite::Database::Mode::ReadOnly);
        TableSchema::verify(db);
        return QString();
    } catch (const AppError& error) {
        return error.message();
    }
}

// The base is missing only when neither it nor its stamp is there: a table made before
// bases were kept. A stamp without its base, or a base that cannot be read, is a base
// lost, and a merge without it could bring back what the user deleted.
bool baseMissing(const DataLocation& location)
{
    return !QFileInfo::exists(location.basePath()) && !QFileInfo::exists(location.baseVersionPath());
}

// No merge without a sound base. The installed starter is the very directory the base
// was, when its stamp says so: the base is made again from it, and the next release
// merges three-way as ever. Otherwise the user is told what to do.
QString baseLost(const DataLocation& location, const QString& reason, bool sameRelease)
{
    const QString lost = QStringLiteral("The copy of the directory yours came from, %1, cannot be read (%2).")
                             .arg(location.basePath(), reason);
    if (sameRelease) {
        try {
            location.keepStarterAsBase();
        } catch (const AppError& error) {
            return QStringLiteral("%1 It could not be made again from the directory installed with this version: "
                                  "%2 To refresh it, copy %3 to %4.")
                .arg(lost, error.message(), location.starterPath(), location.basePath());
        }
        return QStringLiteral("%1 It was made again from the directory installed with this version, which it was a "
                              "copy of; nothing in yours was changed.")
            .arg(lost);
    }
    return QStringLiteral("%1 So the directory that came with this version was not merged into yours: without that "
                          "copy, a merge could bring back newspapers you deleted. To merge it anyway, adding every "
                          "newspaper yours lacks, run: kestrove-db merge \"%2\" \"%3\". To refresh the copy, so "
                          "that later versions are merged as before, copy %3 to %4 and %5 to %6.")
        .arg(lost, location.tablePath(), location.starterPath(), location.basePath(), location.starterVersionPath(),
             location.baseVersionPath());
}

} // namespace

Outcome run(const DataLocation& location)
{
    Outcome outcome;
    if (!location.installed())
        return outcome;
    const QString version = location.starterVersion();
    if (version.isEmpty())
        return outcome;
    const bool missing = baseMissing(location);
    const QString baseProblem = missing ? QString() : unreadable(location.basePath());
    const bool sameRelease = readStamp(location.baseVersionPath()) == version;
    if (!missing && baseProblem.isEmpty() && sameRelease)
        return outcome;
    // A table that cannot be opened is the start's to report, once; the merge waits
    // until it can be.
    if (!unreadable(location.tablePath()).isEmpty())
        return outcome;
    if (!baseProblem.isEmpty()) {
        outcome.error = baseLost(location, baseProblem, sameRelease);
        return outcome;
    }

    try {
        merge::Options options;
        if (!missing)
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
