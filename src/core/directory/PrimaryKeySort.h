#pragma once

#include "directory/OrderSort.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace OrderSort {

// The sort of a field of many different texts (see sortByText): an LSD radix sort by the
// collation's first level, read from the records' UTF-8 eight bytes at a time, on every
// core for large fields, in buckets or with an item for every record (see Scratch).
void sortByPrimaryKeys(std::vector<Slot>& sequence, const RecordStore& store, int position, Scratch scratch);

// The same with an item for every record, in two steps: the first 8 bytes of every
// record's key read on every core, and then the sort, which may run on another thread.
// Between them the leading bytes tell which records can come first (see TextSort).
class PrimaryKeyStart
{
public:
    PrimaryKeyStart(const std::vector<Slot>& sequence, const RecordStore& store, int position);
    ~PrimaryKeyStart();

    std::size_t size() const;
    // The first 8 bytes of the key of the i-th record given, and its slot.
    std::uint64_t leadingBytes(std::size_t i) const;
    Slot slot(std::size_t i) const;
    // Puts the records in order into `into`; once only.
    void sort(std::vector<Slot>& into);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace OrderSort
