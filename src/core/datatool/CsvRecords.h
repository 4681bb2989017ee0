#pragma once

#include "directory/Record.h"

#include <QHash>
#include <QString>
#include <vector>

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

struct File
{
    bool withNo = false;
    std::vector<Row> rows;
    QHash<qint64, int> lineOfNo;
};

// Reads and checks every record. Throws AppError "<path>, line N: <reason>; <outcome>"
// (outcome such as "nothing was imported") for unreadable or malformed text, a wrong
// header, a bad or repeated No, and a field holding a control character or line break.
File read(const QString& path, const QString& outcome);

// Why a record's texts cannot be stored ("the name contains a line break"); empty when
// they can.
QString refusal(const RecordTexts& text);

} // namespace CsvRecords
