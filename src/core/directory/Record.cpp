#include "directory/Record.h"

#include "errors/AppError.h"

#include <algorithm>
#include <limits>

namespace Field {
const std::array<const char*, Count>& columnNames()
{
    static const std::array<const char*, Count> names = {"No",   "Name",     "Url",       "Country",   "State",
                                                         "City", "Category", "Reserved1", "Reserved2", "Reserved3"};
    return names;
}
} // namespace Field

namespace RecordNumbers {
qint32 next(qint32 lastNo, qint64 highestInFile)
{
    const qint64 highest = std::max<qint64>(lastNo, highestInFile);
    if (highest > Highest) {
        throw AppError(QStringLiteral("Cannot add the record: the directory holds the record number %1, which is past "
                                      "the highest record number, %2")
                           .arg(highest)
                           .arg(Highest));
    }
    if (highest == Highest)
        throw AppError(QStringLiteral("Cannot add the record: the highest record number, %1, is in use").arg(Highest));
    return static_cast<qint32>(highest + 1);
}
} // namespace RecordNumbers

QString FieldValue::asString() const
{
    if (const auto* text = std::get_if<QString>(&m_value))
        return *text;
    if (const auto* number = std::get_if<qint64>(&m_value))
        return QString::number(*number);
    throw ConversionError();
}

qint32 FieldValue::asInteger() const
{
    qint64 value = 0;
    if (const auto* number = std::get_if<qint64>(&m_value)) {
        value = *number;
    } else if (const auto* text = std::get_if<QString>(&m_value)) {
        bool ok = false;
        value = text->toLongLong(&ok);
        if (!ok)
            throw ConversionError(QStringLiteral("'%1' is not a valid integer value").arg(*text));
    } else {
        throw ConversionError();
    }
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        throw ConversionError(QStringLiteral("%1 is not within the range of a 32-bit integer").arg(value));
    return static_cast<qint32>(value);
}
