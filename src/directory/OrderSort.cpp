#include "directory/OrderSort.h"

#include "directory/CaseFold.h"

#include <algorithm>
#include <cstring>

namespace OrderSort {

std::string key(const RecordStore& store, Slot slot, int position)
{
    const auto text = store.text(slot, position);
    return text ? CaseFold::fold(*text) : std::string();
}

namespace {
int compareBytes(const std::string& a, const std::string& b)
{
    const int c = a.compare(b); // std::string compares as unsigned char
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int compareNumbers(qint64 a, qint64 b)
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

// Keys of all sequence being sorted, side by side in one buffer.
struct Keys
{
    std::string bytes;
    std::vector<std::uint32_t> start; // start[i]..start[i+1]
    std::string_view at(std::uint32_t i) const
    {
        return std::string_view(bytes.data() + start[i], start[i + 1] - start[i]);
    }
};

struct Item
{
    std::uint64_t chunk; // 8 key bytes from the current depth, big-endian, zero-padded
    std::uint32_t index; // into Keys and the input order
};

std::uint64_t chunkAt(std::string_view key, std::size_t depth)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const std::size_t at = depth + i;
        value = (value << 8) | (at < key.size() ? static_cast<unsigned char>(key[at]) : 0u);
    }
    return value;
}

// Stable insertion sort by the key tails from `depth`, for short runs.
void insertionSort(Item* items, std::size_t n, const Keys& keys, std::size_t depth)
{
    auto tail = [&](const Item& item) {
        const std::string_view k = keys.at(item.index);
        return depth < k.size() ? k.substr(depth) : std::string_view();
    };
    for (std::size_t i = 1; i < n; ++i) {
        const Item moving = items[i];
        const std::string_view movingTail = tail(moving);
        std::size_t j = i;
        while (j > 0 && tail(items[j - 1]) > movingTail) {
            items[j] = items[j - 1];
            --j;
        }
        items[j] = moving;
    }
}

// Stable LSD radix sort of items by their 64-bit chunk, 16 bits per pass.
void radixByChunk(Item* items, std::size_t n, std::vector<Item>& buffer)
{
    buffer.resize(std::max(buffer.size(), n));
    std::vector<std::uint32_t> count(1u << 16);
    Item* from = items;
    Item* to = buffer.data();
    for (int shift = 0; shift < 64; shift += 16) {
        std::fill(count.begin(), count.end(), 0u);
        for (std::size_t i = 0; i < n; ++i)
            ++count[(from[i].chunk >> shift) & 0xffffu];
        if (count[(from[0].chunk >> shift) & 0xffffu] == n)
            continue; // every item has the same digit here
        std::uint32_t sum = 0;
        for (std::uint32_t& c : count) {
            const std::uint32_t here = c;
            c = sum;
            sum += here;
        }
        for (std::size_t i = 0; i < n; ++i)
            to[count[(from[i].chunk >> shift) & 0xffffu]++] = from[i];
        std::swap(from, to);
    }
    if (from != items)
        std::copy(from, from + n, items);
}

void sortRange(Item* items, std::size_t n, const Keys& keys, std::size_t depth, std::vector<Item>& buffer)
{
    if (n < 2)
        return;
    if (n <= 32) {
        insertionSort(items, n, keys, depth);
        return;
    }
    for (std::size_t i = 0; i < n; ++i)
        items[i].chunk = chunkAt(keys.at(items[i].index), depth);
    if (n < 4096)
        std::stable_sort(items, items + n, [](const Item& a, const Item& b) { return a.chunk < b.chunk; });
    else
        radixByChunk(items, n, buffer);
    // Runs that agree on these 8 bytes and go on beyond them are ordered by the next 8.
    std::size_t runStart = 0;
    for (std::size_t i = 1; i <= n; ++i) {
        if (i == n || items[i].chunk != items[runStart].chunk) {
            if (i - runStart > 1 && (items[runStart].chunk & 0xffu) != 0)
                sortRange(items + runStart, i - runStart, keys, depth + 8, buffer);
            runStart = i;
        }
    }
}
} // namespace

int compare(const RecordStore& store, int position, Slot a, Slot b)
{
    if (position != 0) {
        const int c = compareBytes(key(store, a, position), key(store, b, position));
        if (c != 0)
            return c;
    }
    return compareNumbers(store.no(a), store.no(b));
}

int compare(const RecordStore& store, int position, Slot a, const std::string& keyB, qint64 noB)
{
    if (position != 0) {
        const int c = compareBytes(key(store, a, position), keyB);
        if (c != 0)
            return c;
    }
    return compareNumbers(store.no(a), noB);
}

std::vector<Slot> byNumber(const RecordStore& store)
{
    std::vector<Slot> sequence;
    sequence.reserve(store.liveCount());
    for (Slot s = 0; s < store.slotCount(); ++s) {
        if (store.isLive(s))
            sequence.push_back(s);
    }
    // Loaded in No order; only records added during the run can be out of place.
    auto less = [&](Slot a, Slot b) { return store.no(a) < store.no(b); };
    if (!std::is_sorted(sequence.begin(), sequence.end(), less))
        std::sort(sequence.begin(), sequence.end(), less);
    return sequence;
}

void sortByText(std::vector<Slot>& sequence, const RecordStore& store, int position)
{
    const std::size_t n = sequence.size();
    Keys keys;
    keys.start.reserve(n + 1);
    keys.bytes.reserve(n * 24);
    for (Slot slot : sequence) {
        keys.start.push_back(static_cast<std::uint32_t>(keys.bytes.size()));
        if (const auto text = store.text(slot, position))
            CaseFold::append(*text, keys.bytes);
    }
    keys.start.push_back(static_cast<std::uint32_t>(keys.bytes.size()));

    std::vector<Item> items(n);
    for (std::size_t i = 0; i < n; ++i)
        items[i].index = static_cast<std::uint32_t>(i);
    std::vector<Item> buffer;
    sortRange(items.data(), n, keys, 0, buffer);

    std::vector<Slot> sorted(n);
    for (std::size_t i = 0; i < n; ++i)
        sorted[i] = sequence[items[i].index];
    sequence.swap(sorted);
}

} // namespace OrderSort
