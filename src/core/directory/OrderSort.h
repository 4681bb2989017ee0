#pragma once

#include "directory/RecordStore.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

// A record to be placed among many others by binary search (another program's added or
// changed record): its first collation level made once, so that a comparison reads only
// the other record's first level, a few bytes at a time, and whole keys only where the
// first levels are equal. Used by one thread at a time.
class Probe
{
public:
    // The text must outlive the probe.
    Probe(std::optional<std::string_view> text, qint64 no);
    qint64 no() const { return m_no; }
    // compare(store, position, a, key(b), b.no()), the same sign, sooner.
    int compareWith(const RecordStore& store, int position, Slot a) const;
    // Between two probes, as the order has them.
    bool operator<(const Probe& other) const;

private:
    const std::string& whole() const;

    std::optional<std::string_view> m_text; // absent: a blank; the caller keeps the text
    std::string m_primary;
    mutable std::optional<std::string> m_whole;
    qint64 m_no;
};

// Where the record in `slot` stands, or would stand, in `order`, an order of `position`:
// the index of the first record that does not come before it. The number decides alone
// in the number order and breaks ties in every other; the others' texts are read
// through a Probe, so most comparisons make no whole key.
std::size_t placeOf(const std::vector<Slot>& order, const RecordStore& store, int position, Slot slot);

// Every live slot, by No.
std::vector<Slot> byNumber(const RecordStore& store);

// Sorts sequence, given in No order, by the collation of `position`. Stable, so equal
// texts stay in No order. A field of few different texts is ranked and counted; any
// other is radix-sorted by the first level of the collation, read from the text a few
// bytes at a time, and by whole collation keys only where that level is equal.
//
// Fast takes an item for every record on every core whatever the size, for when memory is
// to spare (the first order a table builds); Lean takes that only past the size below.
enum class Scratch
{
    Lean,
    Fast
};
void sortByText(std::vector<Slot>& sequence, const RecordStore& store, int position, Scratch scratch = Scratch::Lean);

class PrimaryKeyStart;

// sortByText in two steps, for an order whose first page is wanted before the rest: begun
// on the calling thread (on every core), when the records that can come first are known,
// and finished on any one thread. Takes an item of 16 bytes for every record, as Fast does.
class TextSort
{
public:
    // sequence in No order; the store must outlive the sort and stay as it is meanwhile.
    TextSort(std::vector<Slot> sequence, const RecordStore& store, int position);
    ~TextSort();

    // The first `count` records of the order, found without ordering the others: only the
    // records whose leading bytes do not come after the count-th smallest are compared in
    // full. Nothing when more than `candidateLimit` records are that close to the front.
    std::optional<std::vector<Slot>> first(std::size_t count, std::size_t candidateLimit) const;
    // The whole order; once only.
    std::vector<Slot> finish();

private:
    std::vector<Slot> m_sequence;
    const RecordStore& m_store;
    int m_position;
    std::unique_ptr<PrimaryKeyStart> m_started; // none when m_sequence is in order already
};

// Fields of at least this many records are split into buckets by their keys' leading
// bytes and sorted on every core: up to 32 times as many with items for one bucket at a
// time (a few bytes a record), beyond that with an item for every record at once, which
// is faster but takes 32 bytes a record. The default suits large tables; tests lower it
// to sort small tables both ways.
void setBucketSortMinimum(std::size_t records);

} // namespace OrderSort
