#pragma once

#include "directory/RecordStore.h"
#include "directory/TableFile.h"

#include <QString>
#include <array>
#include <optional>
#include <vector>

class Progress;

// A snapshot of the loaded records and their orders, kept in a file beside the table
// ("list.db.cache"), so the next start maps it instead of reading and sorting the whole
// table. It is derived data, never the only copy: it is used only while its stamp
// equals the table's (the same file, size and change counter) and its collation is the
// program's, and anything wrong with it (stale, truncated, foreign, damaged) makes it be
// ignored and written again. It is replaced through a temporary file and a rename; a
// folder that cannot be written simply goes without it.
class TableCache
{
public:
    using Orders = std::array<std::optional<std::vector<RecordStore::Slot>>, Field::NamedCount>;

    // The cache's place beside the table, where it is unless the table's owner keeps it
    // elsewhere (see DataLocation::cachePath).
    static QString pathFor(const QString& tablePath);

    // Fills store and the orders the cache at cachePath holds when it matches stamp;
    // otherwise leaves both as they were and says why in `reason`.
    static bool read(const QString& cachePath, const TableFile::Stamp& stamp, RecordStore& store, Orders& orders,
                     QString* reason = nullptr);

    // Writes the records and the orders given. Returns why it was not written (a folder
    // that cannot be written, a full disk, texts too long for it), empty when it was;
    // throws WorkCancelled when progress is cancelled meanwhile.
    // Makes the cache's folder first if need be (for the user's cache folder).
    static QString write(const QString& cachePath, const TableFile::Stamp& stamp, const RecordStore& store,
                         const Orders& orders, const Progress& progress);

    // For the data tool: whether the table has a cache at cachePath and whether it matches.
    static QString describe(const QString& tablePath, const QString& cachePath);
};
