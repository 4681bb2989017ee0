#pragma once

#include "directory/RecordFilter.h"
#include "directory/RecordStore.h"

#include <memory>
#include <optional>
#include <vector>

// What the grid shows: the records of one order that pass the filter, and the current
// one among them. The verdicts of the last filter rule are kept for every slot, so a
// rule that did not change is not asked about every record again.
class TableView
{
public:
    using Slot = RecordStore::Slot;

    // The rows from `order`, through `rule` when there is one.
    void rebuild(const RecordStore& store, const std::vector<Slot>& order,
                 const std::shared_ptr<const RecordFilter>& rule);
    // Rebuilds and keeps `current` current: where it no longer passes the filter, the
    // record after it; where it is gone, the row it stood on.
    void rebuildKeeping(const RecordStore& store, int position, const std::vector<Slot>& order,
                        const std::shared_ptr<const RecordFilter>& rule, std::optional<Slot> current, int oldRow);
    void clear();
    // The rows of an order still being built: its first rows as they will stand, and how
    // many rows there will be in all. The others are unknown until the next rebuild, and
    // so is the current record while it stands on one of them.
    void showFirst(std::vector<Slot> first, std::size_t total);
    bool known(int row) const { return row >= 0 && static_cast<std::size_t>(row) < m_rows.size(); }

    // The verdict of the rule last used for one record that changed.
    void rejudge(const RecordStore& store, Slot slot);
    // Verdicts are asked again at the next rebuild with a rule.
    void forgetVerdicts();

    int rowCount() const { return static_cast<int>(m_rows.size() + m_unknown); }
    bool empty() const { return rowCount() == 0; }
    Slot slotAt(int row) const { return m_rows[static_cast<std::size_t>(row)]; }
    int current() const { return m_current; }
    void setCurrent(int row) { m_current = row; }
    std::optional<Slot> currentSlot() const;

    // The row of a record in a view in the order of `position`, or -1.
    int rowOf(const RecordStore& store, int position, Slot slot) const;
    // The first row at or after where the record would stand; -1 in an empty view.
    int rowAtOrAfter(const RecordStore& store, int position, Slot slot) const;

    // Drops the current row (its record was deleted); the next row becomes current.
    void eraseCurrent();

    // From how many records judging and filtering use every core (tests lower them to
    // reach those paths on small tables).
    static void setParallelMinimums(std::size_t judging, std::size_t filtering);

private:
    void judgeAll(const RecordStore& store);

    std::shared_ptr<const RecordFilter> m_judge;
    std::vector<unsigned char> m_accepted;
    std::vector<Slot> m_rows;
    std::size_t m_unknown = 0; // rows after m_rows, see showFirst
    int m_current = -1;
};
