#pragma once

#include "directory/RecordStore.h"

#include <QString>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sqlite {
class Database;
}

// Reading the table file: what state it is in, all of its records, or only what
// changed since they were read.
namespace TableFile {

// Identifies a state of the table file: which file it is, its size, its modification and
// status-change times to the nanosecond, and SQLite's own counter of committed changes
// (header offset 24, with the number at offset 92 that says the counter is current).
// Anything made from the file stays good exactly as long as its stamp is unchanged. A
// copy put over the file, even one with the same size and counter, or a new file that
// got the same inode, changes the status-change time, which no ordinary tool can set
// back. In WAL mode the counter is not kept, so no stamp holds.
struct Stamp
{
    quint64 device = 0;
    quint64 inode = 0;
    quint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 statusChangedNs = 0;
    quint32 changeCounter = 0;
    quint32 validFor = 0;
    bool wal = false;

    bool operator==(const Stamp& other) const;
    bool operator!=(const Stamp& other) const { return !(*this == other); }
    // False where the file cannot vouch for its state (WAL mode, an unset counter).
    bool dependable() const { return !wal && validFor == changeCounter && size > 0; }
};

// Holds a read transaction, so that no other program commits while it lives.
class ReadLock
{
public:
    explicit ReadLock(sqlite::Database& db);
    ~ReadLock();
    ReadLock(const ReadLock&) = delete;
    ReadLock& operator=(const ReadLock&) = delete;

private:
    sqlite::Database& m_db;
};

// Whether the table could be read at once: no other program holds a lock that keeps
// readers out (and the file opens). Never waits.
bool readableNow(const QString& path);

// The file's stamp; db must hold a ReadLock.
Stamp readStamp(sqlite::Database& db, const QString& path);

// Tables whose record numbers span at least this many are read over two connections (the
// default suits a million records; tests lower it to read small tables that way too).
void setParallelMinimum(qint64 records);

// Every record of the file, in No order; a large table is read over two connections at
// once, each taking half of the numbers. db must hold a ReadLock; stamp is its stamp.
void loadAll(sqlite::Database& db, const QString& path, const Stamp& stamp, RecordStore& store);

// A record that differs between the file and the records held.
struct Change
{
    qint64 no = 0;
    std::optional<RecordStore::Slot> slot; // absent: a record the file has and the store has not
    bool deleted = false;                  // the store has it, the file has not

    // The text of field 1..6 as the file has it; absent for a blank.
    std::optional<std::string_view> text(int position) const;
    // Appends the next field's text (fields are given in order, 1 to 6).
    void addText(std::optional<std::string_view> text);

private:
    // The six texts in one piece, so a list of many changes holds little besides them.
    static constexpr std::uint32_t Blank = 0xffffffffu;
    std::string m_bytes;
    std::array<std::uint32_t, Field::TextCount> m_lengths{};
    int m_given = 0;
};

struct Changes
{
    std::vector<Change> list;
    // More changed than `limit`: the list is incomplete and the store is best read anew.
    bool tooMany = false;
    Stamp stamp;
};

// Compares the file with the store, record by record in No order (byNumber: the store's
// live slots by No). Opens connections of its own, so it may run on any thread while
// the store is only read.
Changes scan(const QString& path, const RecordStore& store, const std::vector<RecordStore::Slot>& byNumber,
             std::size_t limit);

} // namespace TableFile
