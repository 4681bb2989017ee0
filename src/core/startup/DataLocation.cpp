#include "startup/DataLocation.h"

#include "directory/Sqlite.h"
#include "directory/TableCache.h"
#include "directory/TableSchema.h"
#include "errors/AppError.h"
#include "startup/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString FolderName = QStringLiteral("kestrove-news");

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Makes every missing folder on the path (0700, as the XDG rules ask for folders made
// there) and checks that each of `writable` can be written. Returns the reason it
// failed, with the path at fault when it is not `shown`; empty when all is well.
QString makeWritableFolder(const QString& folder, const QStringList& writable, const QString& shown)
{
    const auto reason = [&](int error, const QString& at) {
        return at == shown ? systemReason(error) : QStringLiteral("%1 (%2)").arg(systemReason(error), at);
    };
    const QByteArray path = QFile::encodeName(QDir::cleanPath(folder));
    for (qsizetype end = path.indexOf('/', 1);; end = path.indexOf('/', end + 1)) {
        const QByteArray part = end < 0 ? path : path.left(end);
        struct stat info;
        int error = 0;
        if (::stat(part.constData(), &info) == 0)
            error = S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
        else if (errno != ENOENT)
            error = errno;
        else if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            error = errno;
        if (error != 0)
            return reason(error, QFile::decodeName(part));
        if (end < 0)
            break;
    }
    for (const QString& each : writable) {
        if (::access(QFile::encodeName(each).constData(), W_OK | X_OK) != 0)
            return reason(errno, each);
    }
    return QString();
}

void verifyStarter(const QString& starter)
{
    // A damaged starter directory is refused before anything is written.
    try {
        sqlite::Database db(starter, sqlite::Database::Mode::ReadWrite);
        TableSchema::verify(db);
    } catch (const AppError& error) {
        throw AppError(QStringLiteral("The installed starter directory cannot be used. %1").arg(error.message()));
    }
}

// Copies the starter directory to `target`. The copy takes a hidden temporary name and
// gets the target's name only when it is whole, so a failed or interrupted copy never
// looks like a table; the temporary file is removed when it fails. `replace`: an
// existing target is replaced; otherwise it is left alone, so a table another copy of
// the program made in the meantime is the one both use.
void copyStarter(const QString& starter, const QString& target, bool replace)
{
    QFile source(starter);
    if (!source.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Cannot read the starter directory %1: %2").arg(starter, source.errorString()));

    const QFileInfo info(target);
    QTemporaryFile copy(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral("-XXXXXX"));
    const auto fail = [&](const QString& reason) {
        return AppError(QStringLiteral("Cannot copy the starter directory to %1: %2").arg(target, reason));
    };
    if (!copy.open())
        throw fail(copy.errorString());
    QByteArray chunk;
    while (!(chunk = source.read(1 << 16)).isEmpty()) {
        if (copy.write(chunk) != chunk.size())
            throw fail(copy.errorString());
    }
    if (source.error() != QFileDevice::NoError)
        throw AppError(QStringLiteral("Cannot read the starter directory %1: %2").arg(starter, source.errorString()));
    if (!copy.flush() || ::fsync(copy.handle()) != 0)
        throw fail(copy.error() != QFileDevice::NoError ? copy.errorString() : systemReason(errno));
    if (replace) {
        if (::rename(QFile::encodeName(copy.fileName()).constData(), QFile::encodeName(target).constData()) != 0)
            throw fail(systemReason(errno));
        copy.setAutoRemove(false); // it has the target's name now
    } else if (copy.rename(target)) {
        copy.setAutoRemove(false); // the temporary file would take its new name with it
    } else if (!QFileInfo::exists(target)) {
        throw fail(copy.errorString());
    }
}

} // namespace

DataLocation::Environment DataLocation::Environment::current()
{
    return {qEnvironmentVariable("XDG_DATA_HOME"), qEnvironmentVariable("HOME"),
            qEnvironmentVariable("XDG_CACHE_HOME")};
}

DataLocation DataLocation::choose(const QString& programFilePath, const Environment& environment)
{
    DataLocation location;
    location.m_folder = ProgramFolder::folderOf(programFilePath);
    const QDir programDir = QFileInfo(programFilePath).absoluteDir();
    if (programDir.dirName() != QLatin1String("bin"))
        return location;
    const QString starter = QDir::cleanPath(
        programDir.absoluteFilePath(QStringLiteral("../share/") + FolderName + QStringLiteral("/list.db")));
    if (!QFileInfo(starter).isFile())
        return location;

    // The XDG rules ignore a relative XDG_DATA_HOME.
    QString base;
    if (QDir::isAbsolutePath(environment.xdgDataHome))
        base = environment.xdgDataHome;
    else if (QDir::isAbsolutePath(environment.home))
        base = environment.home + QStringLiteral("/.local/share");
    else
        throw AppError(QStringLiteral("Cannot find the user's data folder: neither XDG_DATA_HOME nor HOME names a "
                                      "folder"));
    location.m_folder = QDir::cleanPath(base + QLatin1Char('/') + FolderName) + QLatin1Char('/');
    location.m_starter = starter;
    // The XDG rules ignore a relative XDG_CACHE_HOME too. Without a cache folder the
    // cache stays beside the table.
    const QString cacheBase = QDir::isAbsolutePath(environment.xdgCacheHome) ? environment.xdgCacheHome
                              : QDir::isAbsolutePath(environment.home) ? environment.home + QStringLiteral("/.cache")
                                                                       : QString();
    if (!cacheBase.isEmpty())
        location.m_cacheFolder = QDir::cleanPath(cacheBase + QLatin1Char('/') + FolderName) + QLatin1Char('/');
    return location;
}

QString DataLocation::cachePath() const
{
    if (m_cacheFolder.isEmpty())
        return TableCache::pathFor(tablePath());
    return m_cacheFolder + QStringLiteral("list.db.cache");
}

QString DataLocation::cachePathFor(const QString& tablePath, const Environment& environment)
{
    // The installed program's table in the user's data folder, whatever program file asks.
    auto base = [&](const QString& xdg, const char* underHome) {
        return QDir::isAbsolutePath(xdg)                ? xdg
               : QDir::isAbsolutePath(environment.home) ? environment.home + QLatin1String(underHome)
                                                        : QString();
    };
    const QString dataBase = base(environment.xdgDataHome, "/.local/share");
    const QString cacheBase = base(environment.xdgCacheHome, "/.cache");
    if (!dataBase.isEmpty() && !cacheBase.isEmpty()) {
        DataLocation installed;
        installed.m_folder = QDir::cleanPath(dataBase + QLatin1Char('/') + FolderName) + QLatin1Char('/');
        installed.m_cacheFolder = QDir::cleanPath(cacheBase + QLatin1Char('/') + FolderName) + QLatin1Char('/');
        const QFileInfo given(tablePath);
        const QFileInfo theirs(installed.tablePath());
        if (given.exists() && theirs.exists() && given.canonicalFilePath() == theirs.canonicalFilePath())
            return installed.cachePath();
    }
    return TableCache::pathFor(tablePath);
}

void DataLocation::prepare() const
{
    if (!installed())
        return;
    const QString folder = QDir::cleanPath(m_folder);
    const QString data = folder + QStringLiteral("/Data");
    // The lists are written in the folder and the table with its journal in Data.
    const QString reason = makeWritableFolder(data, {folder, data}, folder);
    if (!reason.isEmpty())
        throw AppError(QStringLiteral("Cannot use the data folder %1: %2").arg(folder, reason));
    if (QFileInfo::exists(tablePath()))
        return;
    verifyStarter(m_starter);
    // The base first: a table with no base beside it is taken for one made before bases
    // were kept.
    keepStarterAsBase();
    copyStarter(m_starter, tablePath(), false);
}

QString DataLocation::starterVersionPath() const
{
    return installed() ? QFileInfo(m_starter).absolutePath() + QStringLiteral("/starter-version") : QString();
}

QString DataLocation::starterVersion() const
{
    QFile file(starterVersionPath());
    if (!installed() || !file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.read(256)).trimmed();
}

void DataLocation::keepStarterAsBase() const
{
    copyStarter(m_starter, basePath(), true);
    const QString version = starterVersion();
    if (version.isEmpty()) {
        // Nothing to tell the next start which release the base is.
        QFile::remove(baseVersionPath());
        return;
    }
    QSaveFile stamp(baseVersionPath());
    const QByteArray bytes = version.toUtf8() + '\n';
    if (!stamp.open(QIODevice::WriteOnly) || stamp.write(bytes) != bytes.size() || !stamp.commit())
        throw AppError(QStringLiteral("Cannot write %1: %2").arg(baseVersionPath(), stamp.errorString()));
}
