#pragma once

#include "directory/RecordStore.h"

#include <array>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

// The orders the table can show, one per field: the live slots sorted by that field's
// collation, ties by No (see OrderSort). An order is built the first time it is needed
// and then kept in step with every change, so switching back to it costs nothing.
class TableOrders
{
public:
    using Slot = RecordStore::Slot;
    using All = std::array<std::optional<std::vector<Slot>>, Field::NamedCount>;
    // Where records go into an order: before the entry at that index, in this sequence.
    using Placement = std::vector<std::pair<std::size_t, Slot>>;

    bool has(int position) const { return m_orders[static_cast<std::size_t>(position)].has_value(); }
    // An order that has been built.
    const std::vector<Slot>& get(int position) const { return *m_orders[static_cast<std::size_t>(position)]; }
    // The order by No, built now if it is not there (it costs a pass over the slots).
    const std::vector<Slot>& byNumber(const RecordStore& store);

    void set(int position, std::vector<Slot> order);
    void reset(int position) { m_orders[static_cast<std::size_t>(position)].reset(); }
    void clear() { m_orders = {}; }
    const All& all() const { return m_orders; }
    void setAll(All orders);

    // Keeps every built order in step with one record: remove before its texts change,
    // insert after.
    void insert(const RecordStore& store, Slot slot);
    void remove(const RecordStore& store, Slot slot);

    // Takes the `moved` records out of an order and puts the placed ones in, in place, so
    // no order is ever held twice.
    static void place(std::vector<Slot>& order, const std::vector<bool>& moved, const Placement& placement);
    void place(int position, const std::vector<bool>& moved, const Placement& placement)
    {
        place(*m_orders[static_cast<std::size_t>(position)], moved, placement);
    }

    // The records of a built text order whose collation key equals that of `text`: a
    // short run, found by binary search.
    std::pair<std::vector<Slot>::const_iterator, std::vector<Slot>::const_iterator>
    equalRun(const RecordStore& store, int position, std::string_view text) const;

private:
    All m_orders;
};

// The records and their orders: what work beside the window's thread reads, as a
// snapshot the window's thread changes only once no such work holds it.
struct TableData
{
    RecordStore store;
    TableOrders orders;
};
