#pragma once

#include <QStringList>

// The data tool's check-links command: reads the table, checks every address, prints a
// summary, writes the report and, when asked, keeps the new addresses of moved records.
namespace links {

constexpr int ExitAllGood = 0;       // every address ok, moved or redirected
constexpr int ExitSomeFailed = 1;    // some broken, unreachable or refused
constexpr int ExitWrongUse = 2;      // bad arguments, an unreadable table, a report or change not written
constexpr int ExitInterrupted = 130; // Ctrl+C, as a shell reports a command SIGINT ended

constexpr int DefaultJobs = 16;
constexpr int MaxJobs = 256;
constexpr int DefaultTimeoutSeconds = 10;
constexpr int MaxTimeoutSeconds = 3600;

// The arguments after "check-links"; returns the exit status.
int checkLinksCommand(const QStringList& arguments);

} // namespace links
