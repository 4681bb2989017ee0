#pragma once

#include <QString>
#include <string>
#include <string_view>

// Lower-casing for the search and the sort orders: Unicode-aware (É, Ö, Ñ, Ł, Cyrillic,
// Greek ...), applied the same way to both sides of a comparison. Works on UTF-8.
namespace CaseFold {

// Appends the lower-cased form of utf8 to out, code point by code point, as
// QString::toLower would lower it. Bytes that are not UTF-8 are copied unchanged.
void append(std::string_view utf8, std::string& out);

inline std::string fold(std::string_view utf8)
{
    std::string out;
    append(utf8, out);
    return out;
}

inline std::string fold(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    return fold(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

} // namespace CaseFold
