#pragma once

#include "directory/OrderSort.h"

#include <vector>

namespace OrderSort {

// The sort of a field of many different texts (see sortByText): an LSD radix sort by the
// collation's first level, read from the records' UTF-8 eight bytes at a time, on every
// core for large fields, in buckets or with an item for every record (see Scratch).
void sortByPrimaryKeys(std::vector<Slot>& sequence, const RecordStore& store, int position, Scratch scratch);

} // namespace OrderSort
