#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>
#include <variant>

// A directory record: ten fields addressed by position; the first seven also by name.
namespace Field {
enum Position : int
{
    No = 0,
    Name = 1,
    Url = 2,
    Country = 3,
    State = 4,
    City = 5,
    Category = 6
};
constexpr int NamedCount = 7; // positions 0..6 have names
constexpr int TextCount = 6;  // positions 1..6 are text
constexpr int Count = 10;     // positions 7..9 are never read by the program

// The column names in the table file, by position.
const std::array<const char*, Count>& columnNames();

} // namespace Field

// One field value as the engine hands it out: absent (a blank field, or no current
// record), a text or a whole number. Converting an absent value fails the way the
// rest of the program expects: with "Invalid variant type conversion".
class FieldValue
{
public:
    FieldValue() = default;
    explicit FieldValue(QString text)
        : m_value(std::move(text))
    {
    }
    explicit FieldValue(qint64 number)
        : m_value(number)
    {
    }

    bool isNull() const { return std::holds_alternative<std::monostate>(m_value); }
    QString asString() const;
    // A 32-bit whole number; text is parsed. Throws ConversionError on absent or
    // non-numeric values and on numbers outside the 32-bit range.
    qint32 asInteger() const;

private:
    std::variant<std::monostate, QString, qint64> m_value;
};

// Record numbers: a new record gets one more than both the highest number handed out in
// this run and the highest number in the file, so another copy's records are never hit.
namespace RecordNumbers {
constexpr qint64 Highest = 2147483647; // the number is a signed 32-bit whole number
// Throws AppError when the next number would pass Highest.
qint32 next(qint32 lastNo, qint64 highestInFile);
} // namespace RecordNumbers

// The six texts of a record, positions 1..6 (Name, Url, Country, State, City, Category).
using RecordTexts = std::array<QString, Field::TextCount>;
