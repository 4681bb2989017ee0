#pragma once

#include <QString>
#include <string>
#include <string_view>

// Lower-casing for the search and the sort orders: Unicode-aware (É, Ö, Ñ, Ł, Cyrillic,
// Greek ...), applied the same way to both sides of a comparison. Works on UTF-8.
namespace CaseFold {

// Appends the lower-cased form of utf8 to out. Pure ASCII takes a fast path.
void append(std::string_view utf8, std::string& out);

inline std::string fold(std::string_view utf8)
{
    std::string out;
    append(utf8, out);
    return out;
}

inline std::string fold(const QString& text)
{
    const QByteArray lowered = text.toLower().toUtf8();
    return std::string(lowered.constData(), static_cast<size_t>(lowered.size()));
}

} // namespace CaseFold
