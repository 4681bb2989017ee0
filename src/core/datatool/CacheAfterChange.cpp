#include "datatool/CacheAfterChange.h"

#include "directory/Sqlite.h"
#include "directory/Table.h"
#include "directory/TableSchema.h"
#include "errors/AppError.h"
#include "startup/DataLocation.h"

#include <QFile>
#include <cstdio>
#include <sys/stat.h>

namespace DbTool {

namespace {

bool writesTables(const QString& command)
{
    static const QStringList writing = {QStringLiteral("create"), QStringLiteral("import"), QStringLiteral("generate"),
                                        QStringLiteral("merge"), QStringLiteral("check-links")};
    return writing.contains(command);
}

// A directory table, as opposed to a report or a CSV the command was also given.
bool isDirectoryTable(const QString& path)
{
    try {
        sqlite::Database db(path, sqlite::Database::Mode::ReadOnly);
        return TableSchema::problems(db).isEmpty();
    } catch (const AppError&) {
        return false; // not a database at all: a CSV or a report
    }
}

} // namespace

CacheAfterChange::Watched CacheAfterChange::look(const QString& path)
{
    Watched watched;
    watched.path = path;
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode)) {
        watched.existed = true;
        watched.size = info.st_size;
        watched.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        watched.statusChangedNs = qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    }
    return watched;
}

CacheAfterChange::CacheAfterChange(const QStringList& arguments)
{
    if (arguments.isEmpty() || !writesTables(arguments.first()))
        return;
    for (const QString& argument : arguments.mid(1)) {
        if (!argument.startsWith(QLatin1Char('-')))
            m_before << look(argument);
    }
}

void CacheAfterChange::writeWhereChanged() const
{
    for (const Watched& before : m_before) {
        const Watched now = look(before.path);
        const bool changed =
            now.existed && (!before.existed || now.size != before.size || now.modifiedNs != before.modifiedNs ||
                            now.statusChangedNs != before.statusChangedNs);
        if (!changed || !isDirectoryTable(now.path))
            continue;
        QString problem;
        try {
            Table table;
            table.setFileName(now.path);
            table.setCacheFile(DataLocation::cachePathFor(now.path, DataLocation::Environment::current()));
            // The order the program shows first.
            table.setOrder(Field::Name);
            table.open();
            if (!table.saveCache())
                problem = table.cacheProblem();
        } catch (const AppError& error) {
            problem = error.message();
        }
        if (!problem.isEmpty())
            std::fprintf(stderr,
                         "kestrove-db: the cache of %s was not written (%s); the program will read the "
                         "whole table at its next start\n",
                         qUtf8Printable(now.path), qUtf8Printable(problem));
    }
}

} // namespace DbTool
