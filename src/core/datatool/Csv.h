#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <stdexcept>

// Comma-separated values as RFC 4180 has them: fields in double quotes may hold
// commas, line breaks and doubled quotes; records end in CR LF or LF.
namespace Csv {

class Reader
{
public:
    explicit Reader(QByteArray text);

    // Reads the next record into fields; false at the end of the text. Throws
    // AppError "line N: reason" on malformed input or text that is not UTF-8.
    bool next(QStringList& fields);
    // The line on which the record last read starts, counting from 1.
    int line() const { return m_recordLine; }

private:
    [[noreturn]] void fail(int line, const QString& reason) const;

    QByteArray m_text;
    qsizetype m_pos = 0;
    int m_line = 1;
    int m_recordLine = 0;
};

// One record with its line end; fields are quoted only where they need it.
QByteArray formatRecord(const QStringList& fields);

} // namespace Csv
