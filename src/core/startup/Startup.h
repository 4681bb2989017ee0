#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class Table;

// Start-up with its one recovery: when the first attempt fails, a few stale engine
// library files are removed from the data folder and the program tries once more. That
// is the program folder unless the program is installed; an install's program folder
// belongs to the system, while the data folder holds the table that failed to open.
namespace Startup {

// The files the recovery removes, in the order it removes them.
const QStringList& engineFiles();

// Removes them from the folder (ending in a separator); a missing or protected file is passed over.
void removeEngineFiles(const QString& folder);

// One attempt initialises the framework, builds the main window and runs the event loop.
// On the first attempt it lets an AppError escape; on the last one it reports the
// error itself and returns a non-zero status.
using Attempt = std::function<int(bool lastAttempt)>;
int run(const Attempt& attempt, const QString& dataPath);

// Large blocks (a million-record order, a sort's scratch space) go back to the system
// as soon as they are freed, rather than staying in the C library's pools: called first
// thing by each program.
void returnMemoryPromptly();
// Gives the memory freed so far back to the system: called once a command or a piece of
// work has ended, so the next one starts from what the program really holds.
void returnFreedMemory();

// The table's part of the main window's creation: reopens the table from the data
// folder (dataPath ends in a separator), switches the filter off, reads the highest
// record number from the last record in number order (0 when that read fails), then
// selects the Name order and its first record. Returns that number.
qint32 openDirectory(Table& table, const QString& dataPath);

} // namespace Startup
