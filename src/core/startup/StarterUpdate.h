#pragma once

#include <QString>

class DataLocation;

// An installed program's start after an upgrade: when the installed starter directory
// carries another version stamp than the base the user's table came from, it is merged
// into the user's table three-way (see merge::mergeInto) and then kept as the new base.
// A table made before bases were kept has none: the merge is then two-way, which only
// adds the newspapers the table lacks, and the starter becomes its base from then on.
// A base that is there but cannot be read (or a stamp without its base) is no such
// table: nothing is merged, since an add-only merge would bring back what the user
// deleted. The base is made again when the installed starter is the release it came
// from; otherwise the outcome tells the user how to merge and refresh it by hand.
namespace StarterUpdate {

struct Outcome
{
    bool merged = false; // a merge was committed (its counts may all be zero)
    qint64 added = 0;
    qint64 updated = 0;
    qint64 removed = 0;
    qint64 conflicts = 0; // records left as the user has them
    // Why the merge failed (the table is then as it was), why the new base could not be
    // kept after it, or that the base could not be read and what became of it (then
    // nothing was merged); empty when all went well. For the window to show.
    QString error;

    bool changedAnything() const { return added + updated + removed + conflicts > 0; }
};

// Never throws: a portable folder, an install without a stamp, an unchanged stamp and a
// user's table that is not a directory table (the start reports that) give an empty outcome.
Outcome run(const DataLocation& location);

} // namespace StarterUpdate
