#pragma once

#include "directory/TableStorage.h"

#include <array>
#include <optional>
#include <vector>

class Progress;

// Another program's changes to the table, found beside the window's thread and put in
// place on it: a handful of changed records go into each built order where they belong,
// without building it again.
namespace ChangeReader {

struct Found
{
    TableFile::Changes changes;
    // Where each changed or added record goes in each built order; absent for an order
    // that is to be built again (or was not built).
    std::array<std::optional<TableOrders::Placement>, Field::NamedCount> placements;
    // So many changed that reading the whole table again is the better way.
    bool readAgain() const { return changes.tooMany; }
};

// Reads what changed between the stored table and data.store, and where it goes in the
// orders. Only reads data, whose order by No must be built.
Found find(const TableStorage& storage, const TableData& data, Progress& progress);

// Puts what was found into data; returns the slots of the records that changed.
std::vector<RecordStore::Slot> apply(TableData& data, const Found& found);

// Up to this many changed records (or 2 % of the table, if more) are placed into the
// orders one by one; more, and the orders are built again (tests lower it to reach both
// ways on small tables).
void setPlacementMaximum(std::size_t records);
// Past this many changed records (or a quarter of the table, if more) the whole table
// is read again instead (tests lower it too).
void setReadAgainMinimum(std::size_t records);

} // namespace ChangeReader
