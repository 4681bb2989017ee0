#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// After the data tool changed a table, the program's next start should not have to read
// and sort the whole of it: the tool leaves the cache the program would write (see
// TableCache), in the place the program looks for it, once its own transaction has
// committed.
namespace DbTool {

class CacheAfterChange
{
public:
    // Notes how the files a command is given stand before it runs; only the commands that
    // write a table (create, import, generate, merge, check-links) are watched.
    explicit CacheAfterChange(const QStringList& arguments);

    // Writes the cache of every watched file that is now a directory table and changed (or
    // was made) meanwhile. A cache that cannot be written is reported on standard error
    // and changes nothing else: the table is fine without it.
    void writeWhereChanged() const;

private:
    struct Watched
    {
        QString path;
        bool existed = false;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        qint64 statusChangedNs = 0;
    };
    static Watched look(const QString& path);

    QList<Watched> m_before;
};

} // namespace DbTool
