#include "directory/OrderSort.h"

#include "directory/Collation.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <limits>
#include <thread>
#include <unordered_map>

namespace OrderSort {

namespace {
// Below this many keys, sharing the runs among threads costs more than it saves.
constexpr std::size_t ParallelSortMinimum = 100000;
// Below this many items a comparison sort beats the eight counting passes of the radix sort.
constexpr std::size_t RadixMinimum = 1024;
// Runs this short are finished by insertion on the whole key tails.
constexpr std::size_t InsertionMaximum = 32;
// A field with at most this many different texts (country, category, ...) is ordered by
// ranking its texts once each; collation keys cost far more than counting.
constexpr std::size_t RankedMaximum = 4096;
// From this many records on, every key held at once would take more memory than the
// records' text: such a field is sorted in buckets (see sortInBuckets).
std::atomic<std::size_t> g_bucketSortMinimum{1u << 18};
// A few thousand records a bucket at a million records: keys for one bucket are tiny.
constexpr std::size_t BucketCount = 1024;

// A collation key takes about a microsecond, so keying is shared among the cores from
// a few thousand records on.
constexpr std::size_t ParallelKeysMinimum = 8192;

unsigned coresFor(std::size_t n, std::size_t minimum)
{
    return n < minimum ? 1u : std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

// Runs work(part, from, to) over [0, n) split among the cores, the caller's thread
// taking the first part; rethrows the first failure once all are done.
void onCores(std::size_t n, std::size_t minimum, const std::function<void(unsigned, std::size_t, std::size_t)>& work)
{
    const unsigned parts = coresFor(n, minimum);
    std::vector<std::thread> helpers;
    std::vector<std::exception_ptr> failures(parts);
    const std::size_t share = n / parts;
    auto run = [&](unsigned part) {
        try {
            work(part, share * part, part + 1 == parts ? n : share * (part + 1));
        } catch (...) {
            failures[part] = std::current_exception();
        }
    };
    for (unsigned part = 1; part < parts; ++part)
        helpers.emplace_back(run, part);
    run(0);
    for (std::thread& helper : helpers)
        helper.join();
    for (const std::exception_ptr& failure : failures) {
        if (failure)
            std::rethrow_exception(failure);
    }
}
} // namespace

std::string key(const RecordStore& store, Slot slot, int position)
{
    const auto text = store.text(slot, position);
    return text ? Collation::key(*text) : std::string();
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

// The collation keys of the records being sorted, side by side: reading them at random
// during the sort costs one cache miss each. Keys are made on every core, each core
// keeping the keys of its share of the records in a buffer of its own.
class Keys
{
public:
    Keys(const RecordStore& store, int position, const std::vector<Slot>& input, bool onEveryCore)
    {
        const std::size_t minimum = onEveryCore ? ParallelKeysMinimum : std::numeric_limits<std::size_t>::max();
        const unsigned parts = coresFor(input.size(), minimum);
        m_parts.resize(parts);
        m_share = std::max<std::size_t>(1, input.size() / parts);
        onCores(input.size(), minimum, [&](unsigned part, std::size_t from, std::size_t to) {
            Part& mine = m_parts[part];
            mine.first = from;
            mine.start.reserve(to - from + 1);
            for (std::size_t i = from; i < to; ++i) {
                mine.start.push_back(static_cast<std::uint32_t>(mine.bytes.size()));
                if (const auto text = store.text(input[i], position))
                    Collation::appendKey(*text, mine.bytes);
            }
            mine.start.push_back(static_cast<std::uint32_t>(mine.bytes.size()));
        });
    }

    std::string_view at(std::uint32_t index) const
    {
        const Part& part = m_parts[std::min<std::size_t>(index / m_share, m_parts.size() - 1)];
        const std::size_t i = index - part.first;
        return std::string_view(part.bytes.data() + part.start[i], part.start[i + 1] - part.start[i]);
    }

private:
    struct Part
    {
        std::size_t first = 0;
        std::string bytes;
        std::vector<std::uint32_t> start;
    };
    std::vector<Part> m_parts;
    std::size_t m_share = 1;
};

// Orders sequence by ranking its distinct texts, when there are few: each text is keyed
// once and the records are then placed by counting, stably. False, with sequence
// untouched, when the field has too many different texts for that.
bool sortByRank(std::vector<Slot>& sequence, const RecordStore& store, int position)
{
    std::unordered_map<std::string_view, std::uint32_t> ids;
    std::vector<std::string_view> texts;
    std::vector<std::uint32_t> idOf(sequence.size());
    constexpr std::uint32_t Blank = 0;
    texts.emplace_back(); // the blank
    for (std::size_t i = 0; i < sequence.size(); ++i) {
        const auto text = store.text(sequence[i], position);
        if (!text) {
            idOf[i] = Blank;
            continue;
        }
        const auto [it, added] = ids.try_emplace(*text, static_cast<std::uint32_t>(texts.size()));
        if (added) {
            if (texts.size() > RankedMaximum)
                return false;
            texts.push_back(*text);
        }
        idOf[i] = it->second;
    }
    std::vector<std::string> keys(texts.size());
    std::vector<std::uint32_t> byKey(texts.size());
    for (std::uint32_t id = 0; id < texts.size(); ++id) {
        if (id != Blank)
            keys[id] = Collation::key(texts[id]);
        byKey[id] = id;
    }
    std::sort(byKey.begin(), byKey.end(), [&](std::uint32_t a, std::uint32_t b) { return keys[a] < keys[b]; });
    // Texts with equal keys share a rank, so their records stay in number order.
    std::vector<std::uint32_t> rank(texts.size());
    std::uint32_t ranks = 0;
    for (std::size_t i = 0; i < byKey.size(); ++i) {
        if (i > 0 && keys[byKey[i]] != keys[byKey[i - 1]])
            ++ranks;
        rank[byKey[i]] = ranks;
    }
    std::vector<std::size_t> place(ranks + 2, 0);
    for (const std::uint32_t id : idOf)
        ++place[rank[id] + 1];
    for (std::size_t r = 1; r < place.size(); ++r)
        place[r] += place[r - 1];
    std::vector<Slot> sorted(sequence.size());
    for (std::size_t i = 0; i < sequence.size(); ++i)
        sorted[place[rank[idOf[i]]]++] = sequence[i];
    sequence.swap(sorted);
    return true;
}

// 12 bytes: 8 key bytes from the current depth and the record's place in the input.
struct Item
{
    std::uint32_t high;
    std::uint32_t low;
    std::uint32_t index;
    std::uint64_t chunk() const { return (static_cast<std::uint64_t>(high) << 32) | low; }
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

// Stable LSD radix sort of items by their 64-bit chunk, a byte per pass. One reading
// counts every byte position; positions where all items agree are skipped.
void radixByChunk(Item* items, std::size_t n, std::vector<Item>& buffer)
{
    buffer.resize(std::max(buffer.size(), n));
    std::uint32_t count[8][256] = {};
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t chunk = items[i].chunk();
        for (int byte = 0; byte < 8; ++byte)
            ++count[byte][(chunk >> (8 * byte)) & 0xffu];
    }
    Item* from = items;
    Item* to = buffer.data();
    for (int byte = 0; byte < 8; ++byte) {
        const int shift = 8 * byte;
        std::uint32_t* bucket = count[byte];
        if (bucket[(from[0].chunk() >> shift) & 0xffu] == n)
            continue;
        std::uint32_t sum = 0;
        for (int d = 0; d < 256; ++d) {
            const std::uint32_t here = bucket[d];
            bucket[d] = sum;
            sum += here;
        }
        for (std::size_t i = 0; i < n; ++i)
            to[bucket[(from[i].chunk() >> shift) & 0xffu]++] = from[i];
        std::swap(from, to);
    }
    if (from != items)
        std::copy(from, from + n, items);
}

// Orders items by the 8 key bytes at `depth` and returns the runs that agree on them
// and go on beyond them, which the next 8 bytes must order.
std::vector<std::pair<std::size_t, std::size_t>> sortByChunk(Item* items, std::size_t n, const Keys& keys,
                                                             std::size_t depth, std::vector<Item>& buffer)
{
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t chunk = chunkAt(keys.at(items[i].index), depth);
        items[i].high = static_cast<std::uint32_t>(chunk >> 32);
        items[i].low = static_cast<std::uint32_t>(chunk);
    }
    if (n < RadixMinimum)
        std::stable_sort(items, items + n, [](const Item& a, const Item& b) { return a.chunk() < b.chunk(); });
    else
        radixByChunk(items, n, buffer);
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    std::size_t runStart = 0;
    for (std::size_t i = 1; i <= n; ++i) {
        if (i == n || items[i].chunk() != items[runStart].chunk()) {
            if (i - runStart > 1 && (items[runStart].low & 0xffu) != 0)
                runs.emplace_back(runStart, i - runStart);
            runStart = i;
        }
    }
    return runs;
}

void sortRange(Item* items, std::size_t n, const Keys& keys, std::size_t depth, std::vector<Item>& buffer)
{
    if (n < 2)
        return;
    if (n <= InsertionMaximum) {
        insertionSort(items, n, keys, depth);
        return;
    }
    for (const auto& [start, size] : sortByChunk(items, n, keys, depth, buffer))
        sortRange(items + start, size, keys, depth + 8, buffer);
}

// The same for a large table: once the items fall into many runs, the runs are shared
// out among the processor's cores.
void sortRangeOnCores(Item* items, std::size_t n, const Keys& keys, std::size_t depth, std::vector<Item>& buffer)
{
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    if (cores == 1 || n < ParallelSortMinimum) {
        sortRange(items, n, keys, depth, buffer);
        return;
    }
    auto runs = sortByChunk(items, n, keys, depth, buffer);
    if (runs.size() == 1 && runs.front().second == n) { // a prefix every key shares
        sortRangeOnCores(items, n, keys, depth + 8, buffer);
        return;
    }
    std::sort(runs.begin(), runs.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    std::atomic<std::size_t> next{0};
    auto work = [&](std::vector<Item>& scratch) {
        for (std::size_t r = next++; r < runs.size(); r = next++)
            sortRange(items + runs[r].first, runs[r].second, keys, depth + 8, scratch);
    };
    std::vector<std::thread> helpers;
    std::vector<std::vector<Item>> scratches(cores - 1);
    for (unsigned i = 0; i + 1 < cores; ++i)
        helpers.emplace_back([&, i] { work(scratches[i]); });
    work(buffer);
    for (std::thread& helper : helpers)
        helper.join();
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

namespace {

// Sorts sequence by the collation of `position`, stably, with every record's key made at
// once; keyed on every core when `onEveryCore`.
void sortWithKeys(std::vector<Slot>& sequence, const RecordStore& store, int position, bool onEveryCore)
{
    const std::size_t n = sequence.size();
    std::vector<Item> items(n);
    {
        const Keys keys(store, position, sequence, onEveryCore);
        for (std::size_t i = 0; i < n; ++i)
            items[i].index = static_cast<std::uint32_t>(i);
        std::vector<Item> buffer;
        if (onEveryCore)
            sortRangeOnCores(items.data(), n, keys, 0, buffer);
        else
            sortRange(items.data(), n, keys, 0, buffer);
    }
    // The input is no longer needed as it was: write the order over it.
    std::vector<Slot> input;
    input.swap(sequence);
    sequence.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        sequence[i] = input[items[i].index];
}

// Sorts a large sequence without holding every key at once: keys of a sample split the
// collation into buckets, each record is put in its bucket by its key, and the buckets
// are sorted one by one with their own keys. Keys are made twice, but memory stays a
// few bytes a record where holding all keys would take more than the text itself.
void sortInBuckets(std::vector<Slot>& sequence, const RecordStore& store, int position)
{
    const std::size_t n = sequence.size();
    std::vector<std::string> splitters;
    {
        const std::size_t sampleSize = std::min(n, BucketCount * 16);
        std::vector<std::string> sample;
        sample.reserve(sampleSize);
        for (std::size_t i = 0; i < sampleSize; ++i)
            sample.push_back(key(store, sequence[i * n / sampleSize], position));
        std::sort(sample.begin(), sample.end());
        sample.erase(std::unique(sample.begin(), sample.end()), sample.end());
        const std::size_t step = std::max<std::size_t>(1, sample.size() / BucketCount);
        for (std::size_t i = step; i < sample.size(); i += step)
            splitters.push_back(std::move(sample[i]));
    }
    const std::size_t buckets = splitters.size() + 1;

    // Equal keys fall into the same bucket, after the splitter they equal.
    std::vector<std::uint16_t> bucketOf(n);
    onCores(n, ParallelKeysMinimum, [&](unsigned, std::size_t from, std::size_t to) {
        std::string k;
        for (std::size_t i = from; i < to; ++i) {
            k.clear();
            if (const auto text = store.text(sequence[i], position))
                Collation::appendKey(*text, k);
            bucketOf[i] =
                static_cast<std::uint16_t>(std::upper_bound(splitters.begin(), splitters.end(), k) - splitters.begin());
        }
    });
    std::vector<std::size_t> start(buckets + 1, 0);
    for (const std::uint16_t b : bucketOf)
        ++start[b + 1];
    for (std::size_t b = 1; b <= buckets; ++b)
        start[b] += start[b - 1];
    {
        // Placed in input order, so each bucket keeps the records' order by number.
        std::vector<Slot> bucketed(n);
        std::vector<std::size_t> next(start.begin(), start.end() - 1);
        for (std::size_t i = 0; i < n; ++i)
            bucketed[next[bucketOf[i]]++] = sequence[i];
        sequence.swap(bucketed);
    }
    std::vector<std::uint16_t>().swap(bucketOf);

    std::atomic<std::size_t> nextBucket{0};
    onCores(coresFor(n, ParallelKeysMinimum), 1, [&](unsigned, std::size_t, std::size_t) {
        std::vector<Slot> part;
        for (std::size_t b = nextBucket++; b < buckets; b = nextBucket++) {
            part.assign(sequence.begin() + static_cast<std::ptrdiff_t>(start[b]),
                        sequence.begin() + static_cast<std::ptrdiff_t>(start[b + 1]));
            sortWithKeys(part, store, position, false);
            std::copy(part.begin(), part.end(), sequence.begin() + static_cast<std::ptrdiff_t>(start[b]));
        }
    });
}

} // namespace

void setBucketSortMinimum(std::size_t records)
{
    g_bucketSortMinimum = records;
}

void sortByText(std::vector<Slot>& sequence, const RecordStore& store, int position)
{
    if (sortByRank(sequence, store, position))
        return;
    if (sequence.size() >= g_bucketSortMinimum)
        sortInBuckets(sequence, store, position);
    else
        sortWithKeys(sequence, store, position, true);
}

} // namespace OrderSort
