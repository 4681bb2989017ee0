#pragma once

#include "directory/Record.h"

#include <QString>
#include <functional>

// Directory records in the CSV format the data tool reads: a header naming the columns
// No,Name,Url,Country,State,City,Category (No may be left out), then one record a row.
// Shared by import and merge, so both refuse the same files for the same reasons.
namespace CsvRecords {

struct Row
{
    qint64 no = 0; // 0 when the file has no No column
    int line = 0;  // where the record starts, counting from 1
    RecordTexts text;
};

// Reads and checks every record, handing each to `each` in file order, and returns
// whether the file has the No column. Throws AppError "<path>, line N: <reason>;
// <outcome>" (outcome such as "nothing was imported") for unreadable or malformed text,
// a wrong header, a bad or repeated No, and a field holding a control character or a
// line break; the records before it have been handed over by then. Anything else
// `each` throws (WorkCancelled) passes through as it is.
bool read(const QString& path, const QString& outcome, const std::function<void(Row&)>& each);

// Why a record's texts cannot be stored ("the name contains a line break"); empty when
// they can.
QString refusal(const RecordTexts& text);

} // namespace CsvRecords
