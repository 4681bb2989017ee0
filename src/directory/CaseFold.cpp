#include "directory/CaseFold.h"

#include <array>

namespace CaseFold {

namespace {
constexpr std::array<char, 128> makeAsciiLower()
{
    std::array<char, 128> table{};
    for (int c = 0; c < 128; ++c)
        table[c] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    return table;
}
constexpr std::array<char, 128> AsciiLower = makeAsciiLower();
} // namespace

void append(std::string_view utf8, std::string& out)
{
    const size_t start = out.size();
    out.resize(start + utf8.size());
    char* dst = out.data() + start;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x80) {
            // Anything beyond ASCII goes through Qt's Unicode tables, as the search text does.
            out.resize(start);
            const QByteArray lowered =
                QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).toLower().toUtf8();
            out.append(lowered.constData(), static_cast<size_t>(lowered.size()));
            return;
        }
        dst[i] = AsciiLower[c];
    }
}

} // namespace CaseFold
