#pragma once

#include "work/Progress.h"

#include <QString>
#include <QStringList>

class QIODevice;

// The directory table's data tool: the only code that creates a table file or fills
// one in bulk. The program itself never creates or restructures the table.
//
// The operations below are what the command line runs, and what a window runs beside
// its thread (see DataOperations.h): each tells its Progress how far it has come, stops
// with WorkCancelled once the Progress is cancelled, and throws AppError with the
// message the tool prints. Without a Progress they simply run to the end.
namespace DbTool {

// Creates a new, empty table with its indexes (and the folder it goes in). Refuses
// to overwrite an existing file.
void create(const QString& dbPath);

struct ImportSummary
{
    qint64 added = 0;
    qint64 firstNo = 0; // the lowest and the highest number added; 0 when none was
    qint64 lastNo = 0;
};

// Appends the CSV's records, all or none. The header names the columns
// No,Name,Url,Country,State,City,Category; without No the records are numbered after
// the table's highest number. Throws AppError with the line number and reason,
// WorkCancelled when cancelled, and OutputIsInput when the CSV is the table itself;
// the table is then left as it was, byte for byte. Progress: step 0 while the file is
// read (no total), step 1 while the records are written (their count the total).
ImportSummary importCsv(const QString& dbPath, const QString& csvPath, Progress& progress);
ImportSummary importCsv(const QString& dbPath, const QString& csvPath);

// Writes the header and every record in No order to csvPath, which takes its new
// content only once all of it is written (a device or a pipe is written as a stream).
// Returns the number of records. Throws AppError, WorkCancelled (no file is left, an
// old one stays as it was) and OutputIsInput when csvPath is the table itself.
// Progress counts the records written, the table's records the total.
qint64 exportCsv(const QString& dbPath, const QString& csvPath, Progress& progress);
qint64 exportCsv(const QString& dbPath, const QString& csvPath);
// The same to a device already open, such as the standard output.
qint64 exportCsv(const QString& dbPath, QIODevice& out, Progress& progress);
qint64 exportCsv(const QString& dbPath, QIODevice& out);

// Problems with the file: not a directory table, missing columns or indexes, a failed
// integrity check. Empty when all is well.
QStringList check(const QString& dbPath);

// A new table of `count` synthetic records, the same for the same seed. Progress counts
// the records written.
void generate(const QString& dbPath, qint64 count, quint64 seed, Progress& progress);
void generate(const QString& dbPath, qint64 count, quint64 seed);

// The command line: returns the exit status. standardOutputClosed: the process was
// started with its standard output closed (the entry point holds it on /dev/null).
int run(const QStringList& arguments, bool standardOutputClosed = false);

} // namespace DbTool
