#pragma once

#include <QStringList>

// The data tool's merge command: kestrove-db merge DB NEWER [--base BASE] [--dry-run]
// [--report FILE.csv].
namespace merge {

constexpr int ExitMerged = 0;    // merged (or, in a dry run, would merge) with no conflict
constexpr int ExitConflicts = 1; // merged, and some records were left as the table has them
constexpr int ExitWrongUse = 2;  // bad arguments, an unreadable input, a merge or report not written

// The arguments after "merge"; returns the exit status.
int mergeCommand(const QStringList& arguments);

} // namespace merge
