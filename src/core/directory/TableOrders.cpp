#include "directory/TableOrders.h"

#include "directory/Collation.h"
#include "directory/OrderSort.h"
#include "startup/Startup.h"

#include <algorithm>
#include <limits>

namespace {

// Room left in an order after it is built, so additions (another copy's 1 % included) do
// not move a million entries, nor hold them twice for a moment.
std::size_t roomFor(std::size_t size)
{
    return std::max<std::size_t>(4096, size / 64);
}

} // namespace

const std::vector<TableOrders::Slot>& TableOrders::byNumber(const RecordStore& store)
{
    if (!has(Field::No))
        set(Field::No, OrderSort::byNumber(store));
    return get(Field::No);
}

void TableOrders::set(int position, std::vector<Slot> order)
{
    order.reserve(order.size() + roomFor(order.size()));
    m_orders[static_cast<std::size_t>(position)] = std::move(order);
    // The sort's scratch memory goes back to the system at once; the C library would
    // otherwise keep tens of megabytes for later.
    Startup::returnFreedMemory();
}

void TableOrders::setAll(All orders)
{
    m_orders = std::move(orders);
    for (auto& built : m_orders) {
        if (built)
            built->reserve(built->size() + roomFor(built->size()));
    }
}

void TableOrders::insert(const RecordStore& store, Slot slot)
{
    for (int position = 0; position < Field::NamedCount; ++position) {
        if (!has(position))
            continue;
        auto& order = *m_orders[static_cast<std::size_t>(position)];
        order.insert(order.begin() + OrderSort::placeOf(order, store, position, slot), slot);
    }
}

void TableOrders::remove(const RecordStore& store, Slot slot)
{
    for (int position = 0; position < Field::NamedCount; ++position) {
        if (!has(position))
            continue;
        auto& order = *m_orders[static_cast<std::size_t>(position)];
        auto at = order.begin() + OrderSort::placeOf(order, store, position, slot);
        if (at == order.end() || *at != slot)
            at = std::find(order.begin(), order.end(), slot);
        if (at != order.end())
            order.erase(at);
    }
}

void TableOrders::place(std::vector<Slot>& order, const std::vector<bool>& moved, const Placement& placement)
{
    // First the moved records leave, each placement's index following; then, from the
    // back, the placed records go in.
    std::size_t kept = 0;
    std::size_t p = 0;
    std::vector<std::size_t> at(placement.size());
    for (std::size_t i = 0; i <= order.size(); ++i) {
        for (; p < placement.size() && placement[p].first == i; ++p)
            at[p] = kept;
        if (i < order.size() && !moved[order[i]])
            order[kept++] = order[i];
    }
    // Grown to its new size at once, with room for more, rather than doubled.
    if (kept + placement.size() > order.capacity())
        order.reserve(kept + placement.size() + roomFor(kept));
    order.resize(kept + placement.size());
    std::size_t write = order.size();
    std::size_t read = kept;
    for (std::size_t q = placement.size(); q-- > 0;) {
        while (read > at[q])
            order[--write] = order[--read];
        order[--write] = placement[q].second;
    }
}

std::pair<std::vector<TableOrders::Slot>::const_iterator, std::vector<TableOrders::Slot>::const_iterator>
TableOrders::equalRun(const RecordStore& store, int position, std::string_view text) const
{
    const std::vector<Slot>& order = get(position);
    const std::string key = Collation::key(text);
    const auto first = std::lower_bound(order.begin(), order.end(), key, [&](Slot a, const std::string& k) {
        return OrderSort::compare(store, position, a, k, std::numeric_limits<qint64>::min()) < 0;
    });
    const auto last = std::upper_bound(first, order.end(), key, [&](const std::string& k, Slot a) {
        return OrderSort::compare(store, position, a, k, std::numeric_limits<qint64>::max()) > 0;
    });
    return {first, last};
}
