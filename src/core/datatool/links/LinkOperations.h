#pragma once

#include "datatool/links/LinkChecker.h"
#include "directory/Record.h"
#include "work/Progress.h"

#include <QByteArray>
#include <array>
#include <functional>
#include <optional>
#include <vector>

// Checking a table's web addresses, and acting on what the check found: the new
// addresses of moved records kept, broken records deleted. Used by check-links and by
// a window's "Check Web Addresses...".
namespace links {

// A record exactly as it was read: its number and its six texts (Name, Url, Country,
// State, City, Category) as stored, a blank as none. A change is made only while the
// record in the file is still exactly this, so another program's edit is never lost.
struct StoredRecord
{
    qint64 no = 0;
    std::array<std::optional<QByteArray>, Field::TextCount> texts;

    QString text(Field::Position field) const; // empty for a blank
};

struct RecordCheck
{
    StoredRecord record;
    std::optional<LinkResult> result; // none when the check was cancelled before it
};

// How a check ended: the records checked, of how many, and how many got each verdict.
struct CheckTally
{
    int done = 0;
    int total = 0;
    std::array<int, VerdictCount> counts{}; // by verdict, of those done
};

struct TableCheck
{
    std::vector<RecordCheck> records; // in No order
    CheckTally tally;
    bool cancelled = false;
};

// Reads the table (only reads it) and checks every record's address. Progress: the
// records as total, those checked as done, and a tally by verdict (Progress::tally with
// the Verdict as kind), each told as soon as a record is checked. A cancel stops the
// check within a twentieth of a second; the records checked by then keep their results
// and `cancelled` is set. Throws AppError for a table that cannot be read.
//
// The check runs a QEventLoop of its own, on the calling thread, which must not be a
// window's thread: run it on a worker (QtConcurrent::run, a QThread) while a
// QCoreApplication exists.
TableCheck checkTable(const QString& dbPath, const CheckOptions& options, Progress& progress);

enum class ChangeOutcome
{
    Done,
    ChangedElsewhere, // changed or deleted by another program since it was read: left alone
    NotAWebAddress,   // the new address is not one the address rule accepts: left alone
};

struct AddressChange
{
    StoredRecord record;
    QString newUrl;
};

// Each record's address is set to its new one, all in one write transaction, and only
// where the record is still as read. Returns the outcome of each, in the same order.
// Throws AppError when the table cannot be written; nothing has changed then.
std::vector<ChangeOutcome> applyNewAddresses(const QString& dbPath, const std::vector<AddressChange>& changes);

// Deletes the records, all in one write transaction, each only where it is still as read.
std::vector<ChangeOutcome> deleteRecords(const QString& dbPath, const std::vector<StoredRecord>& records);

} // namespace links
