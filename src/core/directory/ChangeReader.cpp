#include "directory/ChangeReader.h"

#include "directory/Collation.h"
#include "directory/OrderSort.h"
#include "work/Progress.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <tuple>

namespace ChangeReader {

namespace {

using Slot = RecordStore::Slot;

std::atomic<std::size_t> g_placementMaximum{1000};
std::atomic<std::size_t> g_readAgainMinimum{100000};

// Past this many changed records, reading the whole file again takes less memory than
// holding the changes.
std::size_t changeLimit(std::size_t records)
{
    return std::max<std::size_t>(g_readAgainMinimum, records / 4);
}

TableOrders::Placement placementIn(const TableData& data, int position, const std::vector<TableFile::Change>& list,
                                   const std::vector<Slot>& slotOf)
{
    const std::vector<Slot>& order = data.orders.get(position);
    struct Placed
    {
        std::size_t at;
        std::string key;
        qint64 no;
        Slot slot;
    };
    std::vector<Placed> placed;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].deleted)
            continue;
        const auto& text = list[i].texts[static_cast<std::size_t>(position - 1)];
        Placed p{0, text ? Collation::key(*text) : std::string(), list[i].no, slotOf[i]};
        p.at = static_cast<std::size_t>(std::lower_bound(order.begin(), order.end(), 0,
                                                         [&](Slot a, int) {
                                                             return OrderSort::compare(data.store, position, a, p.key,
                                                                                       p.no) < 0;
                                                         }) -
                                        order.begin());
        placed.push_back(std::move(p));
    }
    // Records placed before the same one go in their own order: by key, then number.
    std::sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        return std::tie(a.at, a.key, a.no) < std::tie(b.at, b.key, b.no);
    });
    TableOrders::Placement placement;
    for (const Placed& p : placed)
        placement.emplace_back(p.at, p.slot);
    return placement;
}

} // namespace

void setPlacementMaximum(std::size_t records)
{
    g_placementMaximum = records;
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
    if (found.changes.tooMany || list.size() > g_placementMaximum)
        return found;
    // The slots the store will give the added records, in the order they are added.
    std::vector<Slot> slotOf;
    Slot next = data.store.slotCount();
    for (const TableFile::Change& change : list)
        slotOf.push_back(change.slot ? *change.slot : next++);
    for (int position = Field::Name; position < Field::NamedCount; ++position) {
        progress.checkCancelled();
        if (data.orders.has(position))
            found.placements[static_cast<std::size_t>(position)] = placementIn(data, position, list, slotOf);
    }
    return found;
}

std::vector<Slot> apply(TableData& data, const Found& found)
{
    std::vector<Slot> touched;
    for (const TableFile::Change& change : found.changes.list) {
        RecordStore::ExactTexts texts;
        for (std::size_t i = 0; i < Field::TextCount; ++i) {
            if (change.texts[i])
                texts[i] = *change.texts[i];
        }
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
