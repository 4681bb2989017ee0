#include "directory/ChangeReader.h"

#include "directory/Collation.h"
#include "directory/OrderSort.h"
#include "work/Parallel.h"
#include "work/Progress.h"

#include <algorithm>
#include <atomic>
#include <string>

namespace ChangeReader {

namespace {

using Slot = RecordStore::Slot;

// A handful of changes, or up to 2 % of the table, are placed into the orders: each takes a
// binary search per order, far less than sorting the order again.
std::atomic<std::size_t> g_placementMinimum{1000};

std::size_t placementMaximum(std::size_t records)
{
    return std::max<std::size_t>(g_placementMinimum, records / 50);
}
std::atomic<std::size_t> g_readAgainMinimum{100000};

// Past this many changed records, reading the whole file again takes less memory than
// holding the changes.
std::size_t changeLimit(std::size_t records)
{
    return std::max<std::size_t>(g_readAgainMinimum, records / 4);
}

TableOrders::Placement placementIn(const TableData& data, int position, const std::vector<TableFile::Change>& list,
                                   const std::vector<Slot>& slotOf, Progress& progress)
{
    const std::vector<Slot>& order = data.orders.get(position);
    struct Placed
    {
        OrderSort::Probe probe;
        Slot slot;
    };
    std::vector<Placed> placed;
    placed.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].deleted)
            continue;
        placed.push_back({OrderSort::Probe(list[i].text(position), list[i].no), slotOf[i]});
    }
    // In their own order first, so each is found after the one before: records placed
    // before the same one go in by key, then number.
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) { return a.probe < b.probe; });
    TableOrders::Placement placement;
    placement.reserve(placed.size());
    auto from = order.begin();
    for (const Placed& p : placed) {
        progress.checkCancelled();
        from = std::lower_bound(from, order.end(), 0,
                                [&](Slot a, int) { return p.probe.compareWith(data.store, position, a) < 0; });
        placement.emplace_back(static_cast<std::size_t>(from - order.begin()), p.slot);
    }
    return placement;
}

} // namespace

void setPlacementMaximum(std::size_t records)
{
    g_placementMinimum = records;
}

void setReadAgainMinimum(std::size_t records)
{
    g_readAgainMinimum = records;
}

Found find(const TableStorage& storage, const TableData& data, Progress& progress)
{
    Found found;
    found.changes = storage.readChanges(data, changeLimit(data.store.liveCount()), progress);
    const std::vector<TableFile::Change>& list = found.changes.list;
    if (found.changes.tooMany || list.size() > placementMaximum(data.store.liveCount()))
        return found;
    // The slots the store will give the added records, in the order they are added.
    std::vector<Slot> slotOf;
    Slot next = data.store.slotCount();
    for (const TableFile::Change& change : list)
        slotOf.push_back(change.slot ? *change.slot : next++);
    // Each built order on a core of its own.
    std::vector<int> built;
    for (int position = Field::Name; position < Field::NamedCount; ++position) {
        if (data.orders.has(position))
            built.push_back(position);
    }
    Parallel::onCores(built.size(), 2, [&](unsigned, std::size_t from, std::size_t to) {
        for (std::size_t b = from; b < to; ++b)
            found.placements[static_cast<std::size_t>(built[b])] = placementIn(data, built[b], list, slotOf, progress);
    });
    return found;
}

std::vector<Slot> apply(TableData& data, const Found& found)
{
    std::vector<Slot> touched;
    for (const TableFile::Change& change : found.changes.list) {
        RecordStore::ExactTexts texts;
        for (int position = Field::Name; position <= Field::Category; ++position)
            texts[static_cast<std::size_t>(position - 1)] = change.text(position);
        if (change.deleted) {
            data.store.remove(*change.slot);
            touched.push_back(*change.slot);
        } else if (change.slot) {
            data.store.setExact(*change.slot, texts);
            touched.push_back(*change.slot);
        } else {
            touched.push_back(data.store.addExact(change.no, texts));
        }
    }
    data.orders.reset(Field::No);
    std::vector<bool> moved(data.store.slotCount(), false);
    for (const TableFile::Change& change : found.changes.list) {
        if (change.slot)
            moved[*change.slot] = true;
    }
    for (int position = Field::Name; position < Field::NamedCount; ++position) {
        const auto& placement = found.placements[static_cast<std::size_t>(position)];
        if (placement)
            data.orders.place(position, moved, *placement);
        else
            data.orders.reset(position);
    }
    return touched;
}

} // namespace ChangeReader
