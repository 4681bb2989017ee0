#include "directory/PrimaryKeySort.h"

#include "directory/Collation.h"
#include "errors/AppError.h"
#include "work/Parallel.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <numeric>
#include <utility>

namespace OrderSort {

namespace {
// From this many records on, the records are first split into buckets by the leading
// bytes of their keys, on every core, and the buckets are then sorted on every core:
// holding items for one bucket at a time, a few bytes a record, up to ItemsFactor times
// as many records, and an item of 16 bytes for every record at once (in two arrays) from
// there on, which is faster, when the records' own memory outweighs the program's.
std::atomic<std::size_t> g_bucketSortMinimum{1u << 16};
constexpr std::size_t ItemsFactor = 32;
// Below this many items a comparison sort beats the eight counting passes of the radix sort.
constexpr std::size_t InsertionMaximum = 32;
// Records whose keys still agree this deep in are checked for having the same text, from
// here on at every doubling of the depth, so that long duplicates are not read to the end.
constexpr std::size_t SameTextDepth = 32;

// Part `part` of `parts` nearly equal parts of [0, n).
std::pair<std::size_t, std::size_t> share(std::size_t n, unsigned part, unsigned parts)
{
    return {n * part / parts, n * (part + 1) / parts};
}

// 16 bytes: 8 bytes of the record's primary key from the current depth (see
// Collation::appendPrimaryKey), the record, and where its key goes on.
struct Item
{
    std::uint64_t chunk;
    Slot slot;
    std::uint32_t cursor;
};

// The primary keys of the records being sorted, read 8 bytes at a time as the sort goes
// deeper. Most are read straight from the records' text; the few that cannot be are made
// whole once and kept aside, each core keeping those of its share.
class PrimaryKeys
{
public:
    PrimaryKeys(const RecordStore& store, int position, unsigned parts)
        : m_store(store)
        , m_position(position)
        , m_aside(parts)
    {
    }

    std::string_view text(Slot slot) const { return m_store.text(slot, m_position).value_or(std::string_view()); }
    // The text as it is, blank or not, and its whole key, as compare() orders them.
    std::optional<std::string_view> exactText(Slot slot) const { return m_store.text(slot, m_position); }
    std::string wholeKey(Slot slot) const { return key(m_store, slot, m_position); }

    // Sets item to the slot's record and the first 8 bytes of its key; part: the caller's.
    void start(Item& item, Slot slot, unsigned part)
    {
        item.slot = slot;
        item.cursor = 0;
        const std::string_view t = text(slot);
        if (Collation::primaryKeyReadable(t)) {
            item.chunk = Collation::nextPrimaryBytes(t, item.cursor);
            return;
        }
        std::vector<std::string>& aside = m_aside[part];
        if (aside.size() >= AsideIndexes)
            throw AppError(QStringLiteral("Too many records to sort"));
        item.cursor = Aside | (part << AsidePartShift) | static_cast<std::uint32_t>(aside.size());
        Collation::appendPrimaryKey(t, aside.emplace_back());
        item.chunk = chunkAt(aside.back(), 0);
    }

    // Moves item on to the 8 bytes of its key from depth, the depth after its last ones.
    void advance(Item& item, std::size_t depth) const
    {
        if (item.cursor & Aside)
            item.chunk =
                chunkAt(m_aside[(item.cursor >> AsidePartShift) & 7u][item.cursor & (AsideIndexes - 1)], depth);
        else
            item.chunk = Collation::nextPrimaryBytes(text(item.slot), item.cursor);
    }

    // The first `levels` chunks of the slot's key, without keeping anything aside.
    void leadingChunks(Slot slot, std::uint64_t* chunks, int levels, std::string& scratch) const
    {
        const std::string_view t = text(slot);
        if (Collation::primaryKeyReadable(t)) {
            std::uint32_t cursor = 0;
            for (int level = 0; level < levels; ++level)
                chunks[level] = Collation::nextPrimaryBytes(t, cursor);
            return;
        }
        scratch.clear();
        Collation::appendPrimaryKey(t, scratch);
        for (int level = 0; level < levels; ++level)
            chunks[level] = chunkAt(scratch, 8 * static_cast<std::size_t>(level));
    }

    // Before reading records[i] of n, fetches the record and the text of those a few slots
    // ahead: records come out of order, and each would otherwise wait for memory.
    void fetch(const Slot* records, std::size_t n, std::size_t i) const
    {
        if (i + 16 < n)
            m_store.prefetch(records[i + 16]);
        if (i + 8 < n)
            __builtin_prefetch(text(records[i + 8]).data());
    }

    // The same as advance for many items, fetching ahead.
    template <class ItemAt>
    void advanceAll(std::size_t n, std::size_t depth, ItemAt itemAt) const
    {
        for (std::size_t i = 0; i < n; ++i) {
            if (i + 16 < n)
                m_store.prefetch(itemAt(i + 16).slot);
            if (i + 8 < n)
                __builtin_prefetch(text(itemAt(i + 8).slot).data());
            advance(itemAt(i), depth);
        }
    }

private:
    // Cursors below 2^27 are Collation's; the others point into the keys kept aside.
    static constexpr std::uint32_t Aside = 0x80000000u;
    static constexpr unsigned AsidePartShift = 28; // at most 8 parts
    static constexpr std::uint32_t AsideIndexes = 1u << AsidePartShift;

    static std::uint64_t chunkAt(const std::string& key, std::size_t depth)
    {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < 8; ++i) {
            const std::size_t at = depth + i;
            value = (value << 8) | (at < key.size() ? static_cast<unsigned char>(key[at]) : 0u);
        }
        return value;
    }

    const RecordStore& m_store;
    int m_position;
    std::vector<std::vector<std::string>> m_aside;
};

bool sameText(const Item* items, std::size_t n, const PrimaryKeys& keys)
{
    const std::optional<std::string_view> first = keys.exactText(items[0].slot);
    return std::all_of(items + 1, items + n, [&](const Item& item) { return keys.exactText(item.slot) == first; });
}

// Orders records whose primary keys are equal by their whole keys (a blank before an
// empty text). They come in number order, which equal keys keep; most often they are the
// same text, left as they are.
void orderByWholeKeys(Item* items, std::size_t n, const PrimaryKeys& keys)
{
    if (sameText(items, n, keys))
        return;
    std::vector<std::string> whole(n);
    for (std::size_t i = 0; i < n; ++i)
        whole[i] = keys.wholeKey(items[i].slot);
    std::vector<std::uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return whole[a] < whole[b]; });
    const std::vector<Item> input(items, items + n);
    for (std::size_t i = 0; i < n; ++i)
        items[i] = input[order[i]];
}

// Stable LSD radix sort of items by their chunk, a byte per pass. One reading counts
// every byte position; positions where all items agree are skipped.
void radixByChunk(Item* items, Item* buffer, std::size_t n)
{
    std::uint32_t count[8][256] = {};
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t chunk = items[i].chunk;
        for (int byte = 0; byte < 8; ++byte)
            ++count[byte][(chunk >> (8 * byte)) & 0xffu];
    }
    Item* from = items;
    Item* to = buffer;
    for (int byte = 0; byte < 8; ++byte) {
        const int shift = 8 * byte;
        std::uint32_t* bucket = count[byte];
        if (bucket[(from[0].chunk >> shift) & 0xffu] == n)
            continue;
        std::uint32_t sum = 0;
        for (int d = 0; d < 256; ++d) {
            const std::uint32_t here = bucket[d];
            bucket[d] = sum;
            sum += here;
        }
        for (std::size_t i = 0; i < n; ++i)
            to[bucket[(from[i].chunk >> shift) & 0xffu]++] = from[i];
        std::swap(from, to);
    }
    if (from != items)
        std::copy(from, from + n, items);
}

void sortByChunk(Item* items, Item* buffer, std::size_t n)
{
    if (n > InsertionMaximum) {
        radixByChunk(items, buffer, n);
        return;
    }
    for (std::size_t i = 1; i < n; ++i) {
        const Item moving = items[i];
        std::size_t j = i;
        for (; j > 0 && items[j - 1].chunk > moving.chunk; --j)
            items[j] = items[j - 1];
        items[j] = moving;
    }
}

// Sorts items[0, n), whose chunks hold their keys from depth, on the calling thread;
// buffer has room for n items. Runs that agree on their chunk are sorted by the next 8
// bytes, until their keys end.
void sortRange(Item* items, Item* buffer, std::size_t n, std::size_t depth, const PrimaryKeys& keys)
{
    struct Range
    {
        std::size_t start;
        std::size_t size;
        std::size_t depth;
    };
    std::vector<Range> pending{{0, n, depth}};
    std::vector<Item*> going; // the items whose keys go on, read on together
    while (!pending.empty()) {
        const Range range = pending.back();
        pending.pop_back();
        Item* const part = items + range.start;
        sortByChunk(part, buffer + range.start, range.size);
        const std::size_t deeper = range.depth + 8;
        going.clear();
        for (std::size_t start = 0, end = 1; end <= range.size; ++end) {
            if (end < range.size && part[end].chunk == part[start].chunk)
                continue;
            const std::size_t size = end - start;
            Item* const run = part + start;
            if (size < 2) {
            } else if ((run[0].chunk & 0xffu) == 0) { // the keys end here, equal
                orderByWholeKeys(run, size, keys);
            } else if (deeper < SameTextDepth || (deeper & (deeper - 1)) != 0 || !sameText(run, size, keys)) {
                for (std::size_t i = 0; i < size; ++i)
                    going.push_back(run + i);
                pending.push_back({range.start + start, size, deeper});
            }
            start = end;
        }
        keys.advanceAll(going.size(), deeper, [&](std::size_t i) -> Item& { return *going[i]; });
    }
}

// The same on every core, for many items: they are split into buckets by the 16 bits
// where their chunks first differ, each core placing its share, and the cores then sort
// the buckets, largest first. A bucket holding most items is split again the same way.
void sortOnCores(Item* items, Item* buffer, std::size_t n, std::size_t depth, const PrimaryKeys& keys, unsigned parts)
{
    for (;;) {
        if (parts == 1 || n < std::max<std::size_t>(g_bucketSortMinimum, 2)) {
            sortRange(items, buffer, n, depth, keys);
            return;
        }
        std::vector<std::uint64_t> differences(parts);
        Parallel::forEachPart(parts, [&](unsigned part) {
            const auto [from, to] = share(n, part, parts);
            std::uint64_t differ = 0;
            for (std::size_t i = from; i < to; ++i)
                differ |= items[i].chunk ^ items[0].chunk;
            differences[part] = differ;
        });
        std::uint64_t differ = 0;
        for (const std::uint64_t d : differences)
            differ |= d;
        if (differ == 0) {
            if ((items[0].chunk & 0xffu) == 0) {
                orderByWholeKeys(items, n, keys);
                return;
            }
            depth += 8;
            Parallel::forEachPart(parts, [&](unsigned part) {
                const auto [from, to] = share(n, part, parts);
                keys.advanceAll(to - from, depth, [&](std::size_t i) -> Item& { return items[from + i]; });
            });
            continue;
        }
        const int firstDifferent = __builtin_clzll(differ) / 8; // counted from the most significant byte
        const int shift = std::max(0, 48 - 8 * firstDifferent);
        auto digit = [shift](const Item& item) { return static_cast<std::size_t>((item.chunk >> shift) & 0xffffu); };
        constexpr std::size_t Digits = 1u << 16;
        std::vector<std::vector<std::uint32_t>> next(parts, std::vector<std::uint32_t>(Digits));
        Parallel::forEachPart(parts, [&](unsigned part) {
            const auto [from, to] = share(n, part, parts);
            for (std::size_t i = from; i < to; ++i)
                ++next[part][digit(items[i])];
        });
        // Each bucket takes the parts' items in turn, so it keeps the items' order.
        struct Bucket
        {
            std::size_t start;
            std::size_t size;
        };
        std::vector<Bucket> buckets;
        std::size_t placed = 0;
        for (std::size_t d = 0; d < Digits; ++d) {
            const std::size_t start = placed;
            for (unsigned part = 0; part < parts; ++part) {
                const std::uint32_t count = next[part][d];
                next[part][d] = static_cast<std::uint32_t>(placed);
                placed += count;
            }
            if (placed > start)
                buckets.push_back({start, placed - start});
        }
        Parallel::forEachPart(parts, [&](unsigned part) {
            const auto [from, to] = share(n, part, parts);
            std::uint32_t* const at = next[part].data();
            for (std::size_t i = from; i < to; ++i)
                buffer[at[digit(items[i])]++] = items[i];
        });
        std::sort(buckets.begin(), buckets.end(), [](const Bucket& a, const Bucket& b) { return a.size > b.size; });
        std::size_t first = 0;
        if (buckets.front().size > n / 2) {
            const Bucket& most = buckets.front();
            sortOnCores(buffer + most.start, items + most.start, most.size, depth, keys, parts);
            std::copy(buffer + most.start, buffer + most.start + most.size, items + most.start);
            first = 1;
        }
        std::atomic<std::size_t> taken{first};
        Parallel::forEachPart(parts, [&](unsigned) {
            for (std::size_t b = taken++; b < buckets.size(); b = taken++) {
                const Bucket& bucket = buckets[b];
                sortRange(buffer + bucket.start, items + bucket.start, bucket.size, depth, keys);
                std::copy(buffer + bucket.start, buffer + bucket.start + bucket.size, items + bucket.start);
            }
        });
        return;
    }
}

// Sorts a large sequence on every core without an item for every record at once. The
// first 24 bytes of the keys of a sample split the order into buckets; each record goes
// to its bucket by its own first 24 bytes, in number order, and the cores sort the
// buckets one after another with items for one bucket alone, largest first. False, with
// sequence untouched, when most records would share a bucket.
bool sortInBuckets(std::vector<Slot>& sequence, PrimaryKeys& keys, unsigned parts)
{
    using Prefix = std::array<std::uint64_t, 3>;
    const std::size_t n = sequence.size();
    std::vector<Prefix> splitters(std::min<std::size_t>(n, 16384));
    std::string scratch;
    for (std::size_t i = 0; i < splitters.size(); ++i)
        keys.leadingChunks(sequence[i * n / splitters.size()], splitters[i].data(), 3, scratch);
    std::sort(splitters.begin(), splitters.end());
    splitters.erase(std::unique(splitters.begin(), splitters.end()), splitters.end());
    for (std::size_t i = 0, step = std::max<std::size_t>(1, splitters.size() / 1024); i * step < splitters.size(); ++i)
        splitters[i] = splitters[i * step];
    splitters.resize(std::min<std::size_t>(splitters.size(), 1024));
    std::vector<std::uint16_t> bucketOf(n);
    std::vector<std::vector<std::uint32_t>> next(parts, std::vector<std::uint32_t>(splitters.size() + 1));
    Parallel::forEachPart(parts, [&](unsigned part) {
        const auto [from, to] = share(n, part, parts);
        std::string mine;
        Prefix prefix;
        for (std::size_t i = from; i < to; ++i) {
            keys.leadingChunks(sequence[i], prefix.data(), 3, mine);
            bucketOf[i] = static_cast<std::uint16_t>(std::upper_bound(splitters.begin(), splitters.end(), prefix) -
                                                     splitters.begin());
            ++next[part][bucketOf[i]];
        }
    });
    std::vector<std::pair<std::size_t, std::size_t>> buckets; // start, size
    std::size_t placed = 0;
    for (std::size_t b = 0; b <= splitters.size(); ++b) {
        const std::size_t start = placed;
        for (unsigned part = 0; part < parts; ++part)
            placed += std::exchange(next[part][b], static_cast<std::uint32_t>(placed));
        if (placed > start)
            buckets.emplace_back(start, placed - start);
    }
    std::sort(buckets.begin(), buckets.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    if (buckets.front().second > n / 2)
        return false;
    std::vector<Slot> bucketed(n);
    Parallel::forEachPart(parts, [&](unsigned part) {
        const auto [from, to] = share(n, part, parts);
        for (std::size_t i = from; i < to; ++i)
            bucketed[next[part][bucketOf[i]]++] = sequence[i];
    });
    std::vector<std::uint16_t>().swap(bucketOf);
    std::atomic<std::size_t> taken{0};
    Parallel::forEachPart(parts, [&](unsigned part) {
        std::vector<Item> items;
        std::vector<Item> buffer;
        for (std::size_t b = taken++; b < buckets.size(); b = taken++) {
            const auto [start, size] = buckets[b];
            items.resize(size);
            buffer.resize(size);
            const Slot* const records = bucketed.data() + start;
            for (std::size_t i = 0; i < size; ++i) {
                keys.fetch(records, size, i);
                keys.start(items[i], records[i], part);
            }
            sortRange(items.data(), buffer.data(), size, 0, keys);
            for (std::size_t i = 0; i < size; ++i)
                bucketed[start + i] = items[i].slot;
        }
    });
    sequence.swap(bucketed);
    return true;
}

} // namespace

// Sorts sequence by the collation of `position`: by primary keys, which most records'
// texts yield straight from their UTF-8, and by whole collation keys only among records
// whose primary keys are equal.
void sortByPrimaryKeys(std::vector<Slot>& sequence, const RecordStore& store, int position, Scratch scratch)
{
    const std::size_t n = sequence.size();
    const unsigned parts = n < std::max<std::size_t>(g_bucketSortMinimum, 2) ? 1u : Parallel::cores();
    PrimaryKeys keys(store, position, parts);
    if (scratch == Scratch::Lean && parts > 1 && n < ItemsFactor * g_bucketSortMinimum &&
        sortInBuckets(sequence, keys, parts))
        return;
    PrimaryKeyStart(sequence, store, position).sort(sequence);
}

struct PrimaryKeyStart::State
{
    State(const RecordStore& store, int position, std::size_t n, unsigned parts)
        : keys(store, position, parts)
        , items(new Item[n]) // set before it is read, as is the sort's buffer
        , n(n)
        , parts(parts)
    {
    }
    PrimaryKeys keys;
    std::unique_ptr<Item[]> items;
    std::size_t n;
    unsigned parts;
};

PrimaryKeyStart::PrimaryKeyStart(const std::vector<Slot>& sequence, const RecordStore& store, int position)
{
    const std::size_t n = sequence.size();
    const unsigned parts = n < std::max<std::size_t>(g_bucketSortMinimum, 2) ? 1u : Parallel::cores();
    m_state = std::make_unique<State>(store, position, n, parts);
    Item* const items = m_state->items.get();
    PrimaryKeys& keys = m_state->keys;
    Parallel::forEachPart(parts, [&](unsigned part) {
        const auto [from, to] = share(n, part, parts);
        for (std::size_t i = from; i < to; ++i)
            keys.start(items[i], sequence[i], part);
    });
}

PrimaryKeyStart::~PrimaryKeyStart() = default;

std::size_t PrimaryKeyStart::size() const
{
    return m_state->n;
}

std::uint64_t PrimaryKeyStart::leadingBytes(std::size_t i) const
{
    return m_state->items[i].chunk;
}

Slot PrimaryKeyStart::slot(std::size_t i) const
{
    return m_state->items[i].slot;
}

void PrimaryKeyStart::sort(std::vector<Slot>& into)
{
    State& state = *m_state;
    Item* const items = state.items.get();
    {
        const std::unique_ptr<Item[]> buffer(new Item[state.n]);
        sortOnCores(items, buffer.get(), state.n, 0, state.keys, state.parts);
    }
    into.resize(state.n);
    for (std::size_t i = 0; i < state.n; ++i)
        into[i] = items[i].slot;
    state.items.reset();
}

void setBucketSortMinimum(std::size_t records)
{
    g_bucketSortMinimum = records;
}

} // namespace OrderSort
