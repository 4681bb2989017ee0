#include "directory/TableFile.h"

#include "directory/Sqlite.h"
#include "errors/AppError.h"
#include "work/Parallel.h"

#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>
#include <sqlite3.h>
#include <sys/stat.h>

namespace TableFile {

namespace {

// Below this many records one connection reads the file sooner than two would start.
std::atomic<qint64> g_parallelMinimum{200000};

constexpr qint64 Lowest = std::numeric_limits<qint64>::min();
constexpr qint64 Highest = std::numeric_limits<qint64>::max();

qint64 single(sqlite::Database& db, const char* sql)
{
    sqlite::Statement st(db, sql);
    return st.step() && !st.isNull(0) ? st.int64(0) : 0;
}

// Where to split the numbers between two readers, or nothing when one reader is best.
// Judged by the span of the numbers: min and max come straight from the number index,
// while counting the records would read a whole index first (35 ms at a million).
std::optional<qint64> middleNumber(sqlite::Database& db)
{
    if (Parallel::cores() < 2)
        return std::nullopt;
    const qint64 low = single(db, "SELECT min(No) FROM newspapers");
    const qint64 high = single(db, "SELECT max(No) FROM newspapers");
    if (high <= low || high - low < g_parallelMinimum)
        return std::nullopt;
    return low + (high - low) / 2 + 1;
}

// A second reader on a connection of its own, checked to see the same state of the file.
template <class Work>
void onOwnConnection(const QString& path, const Stamp& stamp, bool& sameState, Work work)
{
    sqlite::Database db(path, sqlite::Database::Mode::ReadOnly);
    const ReadLock lock(db);
    sameState = readStamp(db, path) == stamp;
    if (sameState)
        work(db);
}

} // namespace

void setParallelMinimum(qint64 records)
{
    g_parallelMinimum = records;
}

std::optional<std::string_view> Change::text(int position) const
{
    std::size_t at = 0;
    for (int i = 0; i + 1 < position; ++i)
        at += m_lengths[static_cast<std::size_t>(i)] == Blank ? 0 : m_lengths[static_cast<std::size_t>(i)];
    const std::uint32_t length = m_lengths[static_cast<std::size_t>(position - 1)];
    if (length == Blank)
        return std::nullopt;
    return std::string_view(m_bytes).substr(at, length);
}

void Change::addText(std::optional<std::string_view> text)
{
    m_lengths[static_cast<std::size_t>(m_given++)] = text ? static_cast<std::uint32_t>(text->size()) : Blank;
    if (text)
        m_bytes.append(*text);
}

bool Stamp::operator==(const Stamp& other) const
{
    return device == other.device && inode == other.inode && size == other.size && modifiedNs == other.modifiedNs &&
           statusChangedNs == other.statusChangedNs && changeCounter == other.changeCounter &&
           validFor == other.validFor && wal == other.wal;
}

ReadLock::ReadLock(sqlite::Database& db)
    : m_db(db)
{
    m_db.exec("BEGIN");
    try {
        // A read inside the transaction takes the shared lock, kept until it ends.
        single(m_db, "SELECT count(*) FROM sqlite_master");
    } catch (...) {
        sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

ReadLock::~ReadLock()
{
    sqlite3_exec(m_db.handle(), "COMMIT", nullptr, nullptr, nullptr);
}

bool readableNow(const QString& path)
{
    try {
        sqlite::Database db(path, sqlite::Database::Mode::ReadOnly);
        db.setBusyTimeout(0);
        const ReadLock lock(db);
        return true;
    } catch (const AppError&) {
        return false; // locked, or not there: not readable now, which is the answer
    }
}

Stamp readStamp(sqlite::Database& db, const QString& path)
{
    Stamp stamp;
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
        stamp.device = static_cast<quint64>(info.st_dev);
        stamp.inode = static_cast<quint64>(info.st_ino);
        stamp.size = static_cast<quint64>(info.st_size);
        stamp.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        stamp.statusChangedNs = qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    }
    // Read through SQLite's own file handle: opening the file again and closing it would
    // drop the locks SQLite holds on it.
    sqlite3_file* file = nullptr;
    unsigned char header[100] = {};
    if (sqlite3_file_control(db.handle(), "main", SQLITE_FCNTL_FILE_POINTER, &file) == SQLITE_OK && file &&
        file->pMethods && file->pMethods->xRead(file, header, sizeof header, 0) == SQLITE_OK) {
        stamp.changeCounter = qFromBigEndian<quint32>(header + 24);
        stamp.validFor = qFromBigEndian<quint32>(header + 92);
        stamp.wal = header[18] == 2 || header[19] == 2;
    } else {
        stamp.wal = true; // unknown: nothing may rely on it
    }
    return stamp;
}

void loadAll(sqlite::Database& db, const QString& path, const Stamp& stamp, RecordStore& store)
{
    const std::optional<qint64> middle = middleNumber(db);
    if (!middle) {
        store.load(db, Lowest, Highest);
        return;
    }
    RecordStore upper;
    bool sameState = false;
    Parallel::both([&] { store.load(db, Lowest, *middle); },
                   [&] {
                       try {
                           onOwnConnection(path, stamp, sameState,
                                           [&](sqlite::Database& own) { upper.load(own, *middle, Highest); });
                       } catch (const AppError&) {
                           sameState = false; // no second connection now: its half is read below
                       }
                   });
    // Another program may have committed before the second reader began: read its half
    // here then, on the connection that holds the state being read.
    if (!sameState)
        upper.load(db, *middle, Highest);
    store.append(std::move(upper));
}

namespace {

using Slot = RecordStore::Slot;

// The differences between the file's records numbered in [from, to) and the store's.
// Stops once `limit` are found.
bool compareRange(sqlite::Database& db, qint64 from, qint64 to, const RecordStore& store,
                  const std::vector<Slot>& byNumber, std::size_t limit, std::vector<Change>& out)
{
    auto slotIt =
        std::lower_bound(byNumber.begin(), byNumber.end(), from, [&](Slot s, qint64 no) { return store.no(s) < no; });
    const auto slotEnd =
        std::lower_bound(slotIt, byNumber.end(), to, [&](Slot s, qint64 no) { return store.no(s) < no; });
    // Straight on SQLite, each field's value read once, as RecordStore::load does: this
    // reads every record of the file, and each call to SQLite counts.
    const RecordStore::RangeRead read = RecordStore::readRange(db, from, to);
    sqlite3_stmt* const statement = read.get();
    int rc = SQLITE_OK;
    RecordStore::ExactTexts texts;
    qint64 no = 0;
    auto step = [&] {
        rc = sqlite3_step(statement);
        db.endWait();
        if (rc == SQLITE_DONE)
            return false;
        if (rc != SQLITE_ROW)
            db.fail(QStringLiteral("Cannot read"), rc);
        no = sqlite3_column_int64(statement, 0);
        for (int i = 0; i < Field::TextCount; ++i) {
            sqlite3_value* value = sqlite3_column_value(statement, i + 1);
            if (sqlite3_value_type(value) == SQLITE_NULL) {
                texts[static_cast<std::size_t>(i)].reset();
                continue;
            }
            const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
            if (!text) // no memory to convert the value to text
                db.fail(QStringLiteral("Cannot read"), SQLITE_NOMEM);
            texts[static_cast<std::size_t>(i)] =
                std::string_view(text, static_cast<std::size_t>(sqlite3_value_bytes(value)));
        }
        return true;
    };
    auto fileRecord = [&](Change& change) {
        change.no = no;
        for (const auto& text : texts)
            change.addText(text);
    };
    bool more = step();
    while (more || slotIt != slotEnd) {
        if (out.size() > limit)
            return false;
        const bool storeFirst = slotIt != slotEnd && (!more || store.no(*slotIt) < no);
        if (storeFirst) {
            Change& gone = out.emplace_back();
            gone.no = store.no(*slotIt);
            gone.slot = *slotIt;
            gone.deleted = true;
            ++slotIt;
            continue;
        }
        if (slotIt != slotEnd && store.no(*slotIt) == no) {
            if (!store.holds(*slotIt, texts)) {
                Change& changed = out.emplace_back();
                fileRecord(changed);
                changed.slot = *slotIt;
            }
            ++slotIt;
        } else {
            fileRecord(out.emplace_back());
        }
        more = step();
    }
    return true;
}

} // namespace

Changes scan(const QString& path, const RecordStore& store, const std::vector<Slot>& byNumber, std::size_t limit)
{
    Changes changes;
    sqlite::Database db(path, sqlite::Database::Mode::ReadOnly);
    const ReadLock lock(db);
    changes.stamp = readStamp(db, path);
    // Split where the records held are halved: whatever was added since (at higher
    // numbers, as a rule) is little beside them.
    std::optional<qint64> middle;
    if (Parallel::cores() >= 2 && static_cast<qint64>(byNumber.size()) >= g_parallelMinimum)
        middle = store.no(byNumber[byNumber.size() / 2]);
    if (!middle) {
        changes.tooMany = !compareRange(db, Lowest, Highest, store, byNumber, limit, changes.list);
        return changes;
    }
    std::vector<Change> upper;
    bool upperComplete = false;
    bool sameState = false;
    bool lowerComplete = false;
    Parallel::both([&] { lowerComplete = compareRange(db, Lowest, *middle, store, byNumber, limit, changes.list); },
                   [&] {
                       try {
                           onOwnConnection(path, changes.stamp, sameState, [&](sqlite::Database& own) {
                               upperComplete = compareRange(own, *middle, Highest, store, byNumber, limit, upper);
                           });
                       } catch (const AppError&) {
                           sameState = false; // no second connection now: its half is read below
                       }
                   });
    if (!sameState) {
        upper.clear();
        upperComplete = compareRange(db, *middle, Highest, store, byNumber, limit, upper);
    }
    changes.tooMany = !lowerComplete || !upperComplete || changes.list.size() + upper.size() > limit;
    changes.list.reserve(changes.list.size() + upper.size());
    for (Change& change : upper)
        changes.list.push_back(std::move(change));
    return changes;
}

} // namespace TableFile
