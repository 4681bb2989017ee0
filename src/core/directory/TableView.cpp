#include "directory/TableView.h"

#include "directory/OrderSort.h"
#include "work/Parallel.h"

#include <algorithm>
#include <atomic>

namespace {

// Below this many records, judging on one core is quicker than starting threads.
std::atomic<std::size_t> g_parallelJudgeMinimum{50000};
// Filtering an order through the verdicts is a read at random per record: worth a
// second core only from this many on.
std::atomic<std::size_t> g_parallelFilterMinimum{400000};
// Room left for verdicts of added records.
constexpr std::size_t RoomForAdditions = 4096;

} // namespace

void TableView::rebuild(const RecordStore& store, const std::vector<Slot>& order,
                        const std::shared_ptr<const RecordFilter>& rule)
{
    m_unknown = 0;
    if (!rule) {
        // Into the rows' own room where it suffices, so the rows are not held twice.
        if (m_rows.capacity() < order.size())
            m_rows = std::vector<Slot>();
        m_rows.reserve(order.capacity());
        m_rows.assign(order.begin(), order.end());
        return;
    }
    if (!m_judge || !rule->sameAs(*m_judge)) {
        m_judge = rule;
        judgeAll(store);
    }
    const std::size_t n = order.size();
    const std::size_t minimum = g_parallelFilterMinimum;
    const unsigned parts = Parallel::partsFor(n, minimum);
    std::vector<std::vector<Slot>> passed(parts);
    Parallel::onCores(n, minimum, [&](unsigned part, std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            if (m_accepted[order[i]])
                passed[part].push_back(order[i]);
        }
    });
    m_rows = std::move(passed[0]);
    for (unsigned part = 1; part < parts; ++part)
        m_rows.insert(m_rows.end(), passed[part].begin(), passed[part].end());
    m_rows.shrink_to_fit();
}

void TableView::rebuildKeeping(const RecordStore& store, int position, const std::vector<Slot>& order,
                               const std::shared_ptr<const RecordFilter>& rule, std::optional<Slot> current, int oldRow)
{
    rebuild(store, order, rule);
    m_current = -1;
    if (current && *current < store.slotCount() && store.isLive(*current)) {
        m_current = rowOf(store, position, *current);
        if (m_current < 0)
            m_current = rowAtOrAfter(store, position, *current);
    }
    if (m_current < 0 && !m_rows.empty())
        m_current = std::clamp(oldRow, 0, static_cast<int>(m_rows.size()) - 1);
}

void TableView::clear()
{
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_unknown = 0;
    m_current = -1;
}

void TableView::showFirst(std::vector<Slot> first, std::size_t total)
{
    m_rows = std::move(first);
    m_unknown = total - std::min(total, m_rows.size());
}

void TableView::forgetVerdicts()
{
    m_judge.reset();
    m_accepted.clear();
}

void TableView::judgeAll(const RecordStore& store)
{
    // In storage order, so the records are read front to back.
    const Slot count = store.slotCount();
    m_accepted.assign(count, 0);
    try {
        Parallel::onCores(count, g_parallelJudgeMinimum, [&](unsigned, std::size_t from, std::size_t to) {
            m_judge->judge(store, static_cast<Slot>(from), static_cast<Slot>(to), m_accepted.data());
        });
    } catch (...) {
        forgetVerdicts();
        throw;
    }
}

void TableView::rejudge(const RecordStore& store, Slot slot)
{
    if (!m_judge)
        return;
    if (m_accepted.size() < store.slotCount()) {
        m_accepted.reserve(store.slotCount() + RoomForAdditions);
        m_accepted.resize(store.slotCount(), 0);
    }
    m_accepted[slot] = store.isLive(slot) && m_judge->accept(store, slot);
}

std::optional<TableView::Slot> TableView::currentSlot() const
{
    return known(m_current) ? std::optional<Slot>(m_rows[static_cast<std::size_t>(m_current)]) : std::nullopt;
}

int TableView::rowOf(const RecordStore& store, int position, Slot slot) const
{
    const std::size_t at = OrderSort::placeOf(m_rows, store, position, slot);
    if (at < m_rows.size() && m_rows[at] == slot)
        return static_cast<int>(at);
    // A record edited since the last rebuild may sit out of order.
    const auto found = std::find(m_rows.begin(), m_rows.end(), slot);
    return found == m_rows.end() ? -1 : static_cast<int>(found - m_rows.begin());
}

int TableView::rowAtOrAfter(const RecordStore& store, int position, Slot slot) const
{
    if (m_rows.empty())
        return -1;
    return std::min(static_cast<int>(OrderSort::placeOf(m_rows, store, position, slot)),
                    static_cast<int>(m_rows.size()) - 1);
}

void TableView::eraseCurrent()
{
    if (!known(m_current))
        return;
    m_rows.erase(m_rows.begin() + m_current);
    if (m_current >= rowCount())
        m_current = rowCount() - 1;
}

void TableView::setParallelMinimums(std::size_t judging, std::size_t filtering)
{
    g_parallelJudgeMinimum = judging;
    g_parallelFilterMinimum = filtering;
}
