#include "directory/SqliteStorage.h"

#include "directory/Sqlite.h"
#include "directory/TableCache.h"
#include "directory/TableSchema.h"
#include "work/Progress.h"

#include <QFile>
#include <sys/stat.h>

namespace {

using Slot = RecordStore::Slot;

// Whether the path still names the file that was read (it may have been replaced by
// a copy or a restore since).
bool namesFile(const QString& path, const TableFile::Stamp& stamp)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 &&
           static_cast<quint64>(info.st_dev) == stamp.device && static_cast<quint64>(info.st_ino) == stamp.inode;
}

// "No = ?n AND CAST(Name AS BLOB) IS ?n+1 AND ..." for the seven fields as the program
// read them. Compared as bytes, whatever another program stored (text that is not UTF-8,
// a BLOB, a number); IS also matches a blank (NULL) against a blank.
QByteArray seenClause(int firstParameter)
{
    QByteArray clause;
    for (int position = 0; position < Field::NamedCount; ++position) {
        const QByteArray column(Field::columnNames()[static_cast<std::size_t>(position)]);
        const QByteArray parameter = QByteArray::number(firstParameter + position);
        if (position > 0)
            clause += " AND ";
        clause += position == Field::No ? column + " = ?" + parameter : "CAST(" + column + " AS BLOB) IS ?" + parameter;
    }
    return clause;
}

void bindSeen(sqlite::Statement& st, int firstParameter, const RecordStore& store, Slot slot)
{
    st.bind(firstParameter, store.no(slot));
    for (int position = Field::Name; position < Field::NamedCount; ++position) {
        if (const auto text = store.text(slot, position))
            st.bindBlob(firstParameter + position, *text);
        else
            st.bindNull(firstParameter + position);
    }
}

class SqliteConnection final : public TableConnection
{
public:
    SqliteConnection(QString path, sqlite::Database db, TableFile::Stamp stamp, qint64 version)
        : m_path(std::move(path))
        , m_db(std::move(db))
        , m_stamp(stamp)
        , m_readVersion(version)
    {
    }

    void setBusyObserver(BusyObserver observer) override { m_db.setBusyObserver(std::move(observer)); }

    bool sameFile() override { return namesFile(m_path, m_stamp); }

    bool changedByOthers() override { return !sameFile() || m_db.dataVersion() != m_readVersion; }

    qint64 mark() override { return m_db.dataVersion(); }

    void noteRead(qint64 mark, const TableFile::Stamp& stamp) override
    {
        m_readVersion = mark;
        m_stamp = stamp;
    }

    std::optional<TableFile::Stamp> stampOfWhatWasRead() override
    {
        if (changedByOthers())
            return std::nullopt;
        // Under a read lock, so the stamp is of the very state the records show.
        const TableFile::ReadLock lock(m_db);
        if (m_db.dataVersion() != m_readVersion)
            return std::nullopt;
        return TableFile::readStamp(m_db, m_path);
    }

    bool update(const RecordStore& store, Slot slot, const ChangedTexts& texts) override
    {
        QByteArray sql = "UPDATE newspapers SET ";
        int bindings = 0;
        for (int i = 0; i < Field::TextCount; ++i) {
            if (!texts[static_cast<std::size_t>(i)])
                continue;
            if (bindings > 0)
                sql += ", ";
            sql += QByteArray(Field::columnNames()[static_cast<std::size_t>(i + 1)]) + " = ?" +
                   QByteArray::number(++bindings);
        }
        if (bindings == 0)
            return true;
        sql += " WHERE " + seenClause(bindings + 1);
        return writeOverSeen(store, slot, sql, bindings + 1, [&](sqlite::Statement& st) {
            int index = 0;
            for (const auto& text : texts) {
                if (!text)
                    continue;
                ++index;
                if (text->isEmpty())
                    st.bindNull(index);
                else
                    st.bind(index, *text);
            }
        });
    }

    bool remove(const RecordStore& store, Slot slot) override
    {
        return writeOverSeen(store, slot, "DELETE FROM newspapers WHERE " + seenClause(1), 1,
                             [](sqlite::Statement&) {});
    }

    qint32 append(const std::array<QByteArray, Field::TextCount>& texts, qint32& lastNo) override
    {
        // The number is taken inside the write transaction, so a record another copy
        // adds meanwhile can never get the same one.
        sqlite::Transaction transaction(m_db, true);
        qint64 highest = 0;
        {
            sqlite::Statement st(m_db, "SELECT max(No) FROM newspapers");
            if (st.step() && !st.isNull(0))
                highest = st.int64(0);
        }
        const qint32 no = RecordNumbers::next(lastNo, highest);
        lastNo = no; // kept even if the insert fails: numbers are not reused within a run
        TableSchema::RecordInserter(m_db).insert(no, texts);
        transaction.commit();
        return no;
    }

private:
    template <class BindOwn>
    bool writeOverSeen(const RecordStore& store, Slot slot, const QByteArray& sql, int firstSeenParameter,
                       BindOwn bindOwn)
    {
        sqlite::Transaction transaction(m_db, true);
        sqlite::Statement st(m_db, std::string_view(sql.constData(), static_cast<std::size_t>(sql.size())));
        bindOwn(st);
        bindSeen(st, firstSeenParameter, store, slot);
        st.run();
        const bool written = m_db.changes() > 0;
        if (written)
            transaction.commit();
        return written;
    }

    QString m_path;
    sqlite::Database m_db;
    TableFile::Stamp m_stamp;
    qint64 m_readVersion = 0;
};

} // namespace

SqliteStorage::SqliteStorage(QString path, QString cachePath)
    : m_path(std::move(path))
    , m_cachePath(std::move(cachePath))
{
}

TableStorage::Loaded SqliteStorage::readAll(Progress& progress) const
{
    sqlite::Database db(m_path, sqlite::Database::Mode::ReadWrite);
    TableSchema::verify(db);
    Loaded loaded;
    loaded.data = std::make_shared<TableData>();
    TableFile::Stamp stamp;
    qint64 version = 0;
    {
        const TableFile::ReadLock lock(db);
        // Noted before reading: a change committed meanwhile shows at the next look.
        stamp = TableFile::readStamp(db, m_path);
        version = db.dataVersion();
        TableOrders::All cached;
        loaded.fromCache = TableCache::read(m_cachePath, stamp, loaded.data->store, cached);
        if (loaded.fromCache)
            loaded.data->orders.setAll(std::move(cached));
        else
            TableFile::loadAll(db, m_path, stamp, loaded.data->store);
        progress.checkCancelled();
    }
    // Kept for writing a record at a time, which touches a few dozen pages: the 2 MB of
    // them SQLite keeps by default would only hold what the read went through.
    db.exec("PRAGMA cache_size = -256");
    loaded.connection = std::make_unique<SqliteConnection>(m_path, std::move(db), stamp, version);
    return loaded;
}

TableFile::Changes SqliteStorage::readChanges(const TableData& data, std::size_t limit, Progress& progress) const
{
    TableFile::Changes changes = TableFile::scan(m_path, data.store, data.orders.get(Field::No), limit);
    progress.checkCancelled();
    return changes;
}

TableStorage::CacheWrite SqliteStorage::saveCache(const TableData& data, const TableFile::Stamp& stamp,
                                                  Progress& progress) const
{
    CacheWrite result;
    result.problem = TableCache::write(m_cachePath, stamp, data.store, data.orders.all(), progress);
    result.written = result.problem.isEmpty();
    return result;
}
