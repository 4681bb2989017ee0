#pragma once

#include "desktop/Platform.h"
#include "startup/StarterUpdate.h"

#include <functional>

class AppError;

// The program from its entry point: the command line is read first; then the data
// folder is made ready (an installed program's first start copies the starter
// directory, and a start after an upgrade merges the newer one in); then each attempt
// initialises the framework, builds the main window and runs the event loop; a failed
// first attempt makes one retry after the recovery (see Startup), which works on the
// data folder.
namespace ProgramStart {

// A start that failed for good: written to stderr and shown in the error box. Returns
// the exit status, 1.
int report(const Platform& platform, const AppError& error);

// Runs one attempt's window. On the first attempt an AppError escapes to the recovery;
// on the last one it is written to stderr and shown in the error box, and the status
// is 1.
int attempt(const Platform& platform, bool lastAttempt, const std::function<int()>& buildAndRun);

// Tells the user what merging the newer starter directory did: one plain box with the
// counts, an error box when it failed; nothing when there was nothing to merge.
void announce(const Platform& platform, const StarterUpdate::Outcome& update);

// The whole run, from the entry point's arguments; returns the exit status.
int run(int& argc, char** argv, const Platform& platform);

} // namespace ProgramStart
