#pragma once

#include "directory/TableFile.h"
#include "directory/TableOrders.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class Progress;

// One open connection to the stored table, used by one thread at a time: the one that
// opened it, or the window's once it has been handed over.
class TableConnection
{
public:
    // A text to write per field 1..6; absent fields are left as stored, and an empty
    // text stores a blank.
    using ChangedTexts = std::array<std::optional<QByteArray>, Field::TextCount>;
    // Told true when a call starts waiting for another program's lock, false when done.
    using BusyObserver = std::function<void(bool waiting)>;

    virtual ~TableConnection() = default;

    virtual void setBusyObserver(BusyObserver observer) = 0;
    // Whether the stored table may differ from what was read through this connection:
    // another program committed, or the path now names another file.
    virtual bool changedByOthers() = 0;
    // Whether the path still names the file this connection has open.
    virtual bool sameFile() = 0;
    // A mark of the committed state, taken before reading changes; noteRead then says
    // that everything up to that mark and the stamp found has been read.
    virtual qint64 mark() = 0;
    virtual void noteRead(qint64 mark, const TableFile::Stamp& stamp) = 0;
    // The stamp of the stored state, when nothing but this connection's own writes has
    // changed it since it was read (so the records held are exactly the stored ones).
    virtual std::optional<TableFile::Stamp> stampOfWhatWasRead() = 0;

    // The writes, each in a transaction of its own. An update or delete acts on the record
    // only while it still holds what `store` says of `slot`, all seven fields compared by
    // their stored bytes; otherwise nothing is written and the result is false.
    virtual bool update(const RecordStore& store, RecordStore::Slot slot, const ChangedTexts& texts) = 0;
    virtual bool remove(const RecordStore& store, RecordStore::Slot slot) = 0;
    // Appends a record numbered RecordNumbers::next(lastNo, highest number stored), the
    // number chosen inside the write transaction; lastNo becomes it once chosen.
    virtual qint32 append(const std::array<QByteArray, Field::TextCount>& texts, qint32& lastNo) = 0;
};

// Where the table is stored: what reads it whole, reads what changed, and keeps the
// cache of what was read. The reads may run on any thread; each opens connections of
// its own and hands them back.
class TableStorage
{
public:
    struct Loaded
    {
        std::unique_ptr<TableConnection> connection; // the one that read, kept for writing
        std::shared_ptr<TableData> data;
        bool fromCache = false;
    };
    struct CacheWrite
    {
        bool written = false;
        QString problem; // why not, when not cancelled
    };

    virtual ~TableStorage() = default;

    virtual QString path() const = 0;
    // Opens the table, checks it is the directory table, and reads every record (from the
    // cache when it provably holds this very state).
    virtual Loaded readAll(Progress& progress) const = 0;
    // The records that differ between the stored table and data.store.
    virtual TableFile::Changes readChanges(const TableData& data, std::size_t limit, Progress& progress) const = 0;
    // Keeps a copy of data for the next readAll of the same state.
    virtual CacheWrite saveCache(const TableData& data, const TableFile::Stamp& stamp, Progress& progress) const = 0;
};
