#pragma once

#include "desktop/Platform.h"

#include <functional>

// The program from its entry point: each attempt initialises the framework, builds the
// main window and runs the event loop; a failed first attempt makes one retry after the
// recovery (see Startup).
namespace ProgramStart {

// Runs one attempt's window. On the first attempt an AppError escapes to the recovery;
// on the last one it is written to stderr and shown in the error box, and the status
// is 1.
int attempt(const Platform& platform, bool lastAttempt, const std::function<int()>& buildAndRun);

// The whole run, from the entry point's arguments; returns the exit status.
int run(int& argc, char** argv, const Platform& platform);

} // namespace ProgramStart
