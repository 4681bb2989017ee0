#include "directory/OrderSort.h"

#include "directory/Collation.h"
#include "directory/PrimaryKeySort.h"
#include "work/Parallel.h"

#include <algorithm>
#include <numeric>
#include <optional>
#include <unordered_map>

namespace OrderSort {

namespace {
// From this many records on, the bound of a first page is found on every core.
constexpr std::size_t ParallelBoundMinimum = 100000;
// A field with at most this many different texts (country, category, ...) is ordered by
// ranking its texts once each; collation keys cost far more than counting.
constexpr std::size_t RankedMaximum = 4096;
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

Probe::Probe(std::optional<std::string_view> text, qint64 no)
    : m_no(no)
{
    if (text) {
        m_text = text;
        Collation::appendPrimaryKey(*text, m_primary);
    }
}

const std::string& Probe::whole() const
{
    if (!m_whole)
        m_whole = m_text ? Collation::key(*m_text) : std::string();
    return *m_whole;
}

int Probe::compareWith(const RecordStore& store, int position, Slot a) const
{
    const auto text = store.text(a, position);
    // A blank comes before every text; two blanks go by number.
    if (!text || !m_text) {
        if (text.has_value() != m_text.has_value())
            return text ? 1 : -1;
        return compareNumbers(store.no(a), m_no);
    }
    // Where the first levels differ, the whole keys differ the same way.
    int c = 0;
    if (Collation::primaryKeyReadable(*text)) {
        std::uint32_t cursor = 0;
        for (std::size_t depth = 0;; depth += 8) {
            const std::uint64_t mine = Collation::nextPrimaryBytes(*text, cursor);
            std::uint64_t theirs = 0;
            for (std::size_t i = 0; i < 8; ++i) {
                const std::size_t at = depth + i;
                theirs = (theirs << 8) | (at < m_primary.size() ? static_cast<unsigned char>(m_primary[at]) : 0u);
            }
            if (mine != theirs) {
                c = mine < theirs ? -1 : 1;
                break;
            }
            if ((mine & 0xffu) == 0)
                break; // both end here: equal first levels
        }
    } else {
        std::string primary;
        Collation::appendPrimaryKey(*text, primary);
        c = compareBytes(primary, m_primary);
    }
    // Equal first levels: the same text (most often, in a field of few different texts)
    // has the same key, and any other is told apart by its whole key.
    if (c == 0 && *text != *m_text)
        c = compareBytes(Collation::key(*text), whole());
    return c != 0 ? c : compareNumbers(store.no(a), m_no);
}

bool Probe::operator<(const Probe& other) const
{
    if (m_text.has_value() != other.m_text.has_value())
        return !m_text;
    if (m_text) {
        const int c = compareBytes(m_primary, other.m_primary);
        if (c != 0)
            return c < 0;
        if (*m_text != *other.m_text) {
            const int w = compareBytes(whole(), other.whole());
            if (w != 0)
                return w < 0;
        }
    }
    return m_no < other.m_no;
}

std::size_t placeOf(const std::vector<Slot>& order, const RecordStore& store, int position, Slot slot)
{
    const qint64 no = store.no(slot);
    if (position == Field::No)
        return static_cast<std::size_t>(std::lower_bound(order.begin(), order.end(), no,
                                                         [&](Slot a, qint64 wanted) { return store.no(a) < wanted; }) -
                                        order.begin());
    const Probe probe(store.text(slot, position), no);
    return static_cast<std::size_t>(
        std::lower_bound(order.begin(), order.end(), no,
                         [&](Slot a, qint64) { return probe.compareWith(store, position, a) < 0; }) -
        order.begin());
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

TextSort::TextSort(std::vector<Slot> sequence, const RecordStore& store, int position)
    : m_sequence(std::move(sequence))
    , m_store(store)
    , m_position(position)
{
    if (position != Field::No && !sortByRank(m_sequence, store, position))
        m_started = std::make_unique<PrimaryKeyStart>(m_sequence, store, position);
}

TextSort::~TextSort() = default;

std::optional<std::vector<Slot>> TextSort::first(std::size_t count, std::size_t candidateLimit) const
{
    if (!m_started) {
        count = std::min(count, m_sequence.size());
        return std::vector<Slot>(m_sequence.begin(), m_sequence.begin() + static_cast<std::ptrdiff_t>(count));
    }
    const PrimaryKeyStart& started = *m_started;
    const std::size_t n = started.size();
    count = std::min(count, n);
    if (count == 0)
        return std::vector<Slot>();
    // Where two records' leading bytes differ, they stand in that order: every record
    // whose leading bytes do not come after the count-th smallest may be among the first,
    // and no other can. The count-th smallest of each core's share is no smaller than
    // that, so the least of those is a bound as sound, found on every core.
    std::vector<std::uint64_t> bounds(Parallel::partsFor(n, ParallelBoundMinimum), ~std::uint64_t(0));
    Parallel::onCores(n, ParallelBoundMinimum, [&](unsigned part, std::size_t from, std::size_t to) {
        if (to - from < count)
            return; // too few to bound anything
        std::vector<std::uint64_t> leading(to - from);
        for (std::size_t i = from; i < to; ++i)
            leading[i - from] = started.leadingBytes(i);
        std::nth_element(leading.begin(), leading.begin() + static_cast<std::ptrdiff_t>(count - 1), leading.end());
        bounds[part] = leading[count - 1];
    });
    const std::uint64_t last = *std::min_element(bounds.begin(), bounds.end());
    std::vector<Slot> records;
    for (std::size_t i = 0; i < n; ++i) {
        if (started.leadingBytes(i) > last)
            continue;
        if (records.size() == candidateLimit)
            return std::nullopt;
        records.push_back(started.slot(i));
    }
    if (records.size() < count)
        return std::nullopt; // cannot be, by the bound's making
    std::vector<Probe> candidates;
    candidates.reserve(records.size());
    for (const Slot slot : records)
        candidates.emplace_back(m_store.text(slot, m_position), m_store.no(slot));
    std::vector<std::size_t> ranked(records.size());
    std::iota(ranked.begin(), ranked.end(), std::size_t(0));
    std::partial_sort(ranked.begin(), ranked.begin() + static_cast<std::ptrdiff_t>(count), ranked.end(),
                      [&](std::size_t a, std::size_t b) { return candidates[a] < candidates[b]; });
    std::vector<Slot> first(count);
    for (std::size_t i = 0; i < count; ++i)
        first[i] = records[ranked[i]];
    return first;
}

std::vector<Slot> TextSort::finish()
{
    if (m_started) {
        m_started->sort(m_sequence);
        m_started.reset();
    }
    return std::move(m_sequence);
}

void sortByText(std::vector<Slot>& sequence, const RecordStore& store, int position, Scratch scratch)
{
    if (!sortByRank(sequence, store, position))
        sortByPrimaryKeys(sequence, store, position, scratch);
}

} // namespace OrderSort
