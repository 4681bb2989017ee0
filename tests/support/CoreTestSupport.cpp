#include "CoreTestSupport.h"

#include "datatool/DbTool.h"
#include "directory/Sqlite.h"
#include "directory/TableSchema.h"

#include <QDir>
#include <QFile>
#include <QtEndian>
#include <sys/mount.h>
#include <unistd.h>

namespace {
// Lock tests wait this long for another connection instead of the program's 3 s.
const bool shortBusyTimeout = [] {
    sqlite::Database::setDefaultBusyTimeout(TestBusyTimeoutMs);
    return true;
}();
} // namespace

TempProgramFolder::TempProgramFolder()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("Data"));
}

void TempProgramFolder::makeTable(const std::vector<Row>& rows) const
{
    QFile::remove(tablePath());
    DbTool::create(tablePath());
    insertRows(tablePath(), rows);
}

void TempProgramFolder::writeFile(const QString& relative, const QByteArray& bytes) const
{
    QFile file(path(relative));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(file.fileName()));
    file.write(bytes);
}

QByteArray TempProgramFolder::readFile(const QString& relative) const
{
    QFile file(path(relative));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

bool TempProgramFolder::exists(const QString& relative) const
{
    return QFile::exists(path(relative));
}

TempInstall::TempInstall(const std::vector<Row>& starterRows)
{
    QDir(m_dir.path()).mkpath(QStringLiteral("usr/share/kestrove-news"));
    QDir(m_dir.path()).mkpath(QStringLiteral("usr/bin"));
    QDir(m_dir.path()).mkpath(QStringLiteral("home"));
    release(starterRows, "1");
    env.home = path(QStringLiteral("home"));
}

void TempInstall::release(const std::vector<Row>& starterRows, const QByteArray& version) const
{
    QFile::remove(starterPath());
    DbTool::create(starterPath());
    insertRows(starterPath(), starterRows);
    QFile stamp(path(QStringLiteral("usr/share/kestrove-news/starter-version")));
    if (!stamp.open(QIODevice::WriteOnly | QIODevice::Truncate) || stamp.write(version + '\n') != version.size() + 1)
        qFatal("cannot write the starter's version stamp");
}

QString TempInstall::userPath(const QString& relative) const
{
    return path(QStringLiteral("home/.local/share/kestrove-news/")) + relative;
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

void insertRows(const QString& tablePath, const std::vector<Row>& rows)
{
    sqlite::Database db(tablePath, sqlite::Database::Mode::ReadWrite);
    sqlite::Transaction transaction(db);
    TableSchema::RecordInserter insert(db);
    for (const Row& row : rows)
        insert.insert(row.no,
                      std::array<QString, 6>{row.name, row.url, row.country, row.state, row.city, row.category});
    transaction.commit();
}

QString queryValue(const QString& tablePath, const char* sql)
{
    sqlite::Database db(tablePath, sqlite::Database::Mode::ReadWrite);
    sqlite::Statement st(db, sql);
    if (!st.step())
        return QStringLiteral("<no row>");
    return st.isNull(0) ? QStringLiteral("NULL") : st.string(0);
}

quint32 fileChangeCounter(const QString& tablePath)
{
    QFile file(tablePath);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(24))
        return 0;
    const QByteArray bytes = file.read(4);
    return bytes.size() == 4 ? qFromBigEndian<quint32>(bytes.constData()) : 0;
}

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

SmallFileSystem::SmallFileSystem(const QString& sizeOption)
{
    const QByteArray target = QFile::encodeName(m_dir.path());
    const QByteArray options = sizeOption.toLatin1() + ",mode=0777";
    m_mounted = ::mount("tmpfs", target.constData(), "tmpfs", 0, options.constData()) == 0;
}

SmallFileSystem::~SmallFileSystem()
{
    if (m_mounted)
        ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
}

QString SmallFileSystem::path(const QString& relative) const
{
    return m_dir.path() + QLatin1Char('/') + relative;
}

bool SmallFileSystem::makeReadOnly()
{
    return ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}
