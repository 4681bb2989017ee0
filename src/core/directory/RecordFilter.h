#pragma once

#include "directory/RecordStore.h"

// A per-record test the table applies while its filter is switched on. The table
// asks its owner for the rule once per pass over the records, so the rule can hold
// whatever it read (the search criteria) as it stood when the pass began.
class RecordFilter
{
public:
    virtual ~RecordFilter() = default;
    // Called for many records at once from several threads: it reads the record and
    // nothing else, and changes nothing.
    virtual bool accept(const RecordStore& store, RecordStore::Slot slot) const = 0;
    // The verdicts of the live slots from `from` up to `to` into verdicts[from..to), 0 for
    // a deleted record. A rule may judge a run of records faster than one by one.
    virtual void judge(const RecordStore& store, RecordStore::Slot from, RecordStore::Slot to,
                       unsigned char* verdicts) const
    {
        for (RecordStore::Slot s = from; s < to; ++s)
            verdicts[s] = store.isLive(s) && accept(store, s);
    }
    // True when `other` accepts exactly the same records; lets the table reuse the
    // verdicts of the last pass instead of asking about every record again.
    virtual bool sameAs(const RecordFilter& other) const = 0;
};
