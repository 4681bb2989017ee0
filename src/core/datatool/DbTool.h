#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QIODevice;

// The directory table's data tool: the only code that creates a table file or fills
// one in bulk. The program itself never creates or restructures the table.
namespace DbTool {

// Creates a new, empty table with its indexes (and the folder it goes in). Refuses
// to overwrite an existing file.
void create(const QString& dbPath);

// Progress of a long import: records done and in all.
using Progress = std::function<void(qint64 done, qint64 total)>;

// Appends the CSV's records, all or none. The header names the columns
// No,Name,Url,Country,State,City,Category; without No the records are numbered after
// the table's highest number. Returns the number of records added. Throws AppError
// with the line number and reason; the table is then left as it was.
qint64 importCsv(const QString& dbPath, const QString& csvPath, const Progress& progress = {});

// Writes the header and every record in No order.
void exportCsv(const QString& dbPath, QIODevice& out);

// Problems with the file: not a directory table, missing columns or indexes, a failed
// integrity check. Empty when all is well.
QStringList check(const QString& dbPath);

// A new table of `count` synthetic records, the same for the same seed.
void generate(const QString& dbPath, qint64 count, quint64 seed, const Progress& progress = {});

// The command line: returns the exit status. standardOutputClosed: the process was
// started with its standard output closed (the entry point holds it on /dev/null).
int run(const QStringList& arguments, bool standardOutputClosed = false);

} // namespace DbTool
