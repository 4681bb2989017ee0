#pragma once

#include "directory/RecordStore.h"

#include <string>
#include <vector>

// The orders the grid shows: by the collation of one field's text (see Collation;
// blanks first), ties broken by No, so every order is total and repeatable.
namespace OrderSort {

using Slot = RecordStore::Slot;

// The sort key of a slot's field: its collation key, empty for a blank.
std::string key(const RecordStore& store, Slot slot, int position);

// Three-way comparison of two records in the order of `position` (0 orders by No).
int compare(const RecordStore& store, int position, Slot a, Slot b);
// The same against a record given by its precomputed key and number.
int compare(const RecordStore& store, int position, Slot a, const std::string& key, qint64 no);

// Every live slot, by No.
std::vector<Slot> byNumber(const RecordStore& store);

// Sorts sequence, given in No order, by the collation of `position`. Stable, so equal
// texts stay in No order. A field of few different texts is ranked and counted; any
// other is radix-sorted by the first level of the collation, read from the text a few
// bytes at a time, and by whole collation keys only where that level is equal.
void sortByText(std::vector<Slot>& sequence, const RecordStore& store, int position);

// Fields of at least this many records are split into buckets by their keys' leading
// bytes and sorted on every core: up to 32 times as many with items for one bucket at a
// time (a few bytes a record), beyond that with an item for every record at once, which
// is faster but takes 32 bytes a record. The default suits large tables; tests lower it
// to sort small tables both ways.
void setBucketSortMinimum(std::size_t records);

} // namespace OrderSort
