#include "directory/CaseFold.h"

#include <QChar>
#include <array>
#include <cstdint>
#include <cstring>

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

bool continuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Lower case of every code point written with two UTF-8 bytes (Latin, Greek,
// Cyrillic, Hebrew, Arabic ...), looked up instead of asked of Qt each time.
const std::array<char16_t, 0x800>& twoByteLower()
{
    static const std::array<char16_t, 0x800> table = [] {
        std::array<char16_t, 0x800> t{};
        for (char32_t cp = 0; cp < 0x800; ++cp)
            t[cp] = static_cast<char16_t>(QChar::toLower(cp));
        return t;
    }();
    return table;
}

int encode(char32_t cp, char* out)
{
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

// Decodes one well-formed UTF-8 sequence at s[i]; 0 when the bytes are not one.
int decode(std::string_view s, std::size_t i, char32_t& cp)
{
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t left = s.size() - i;
    if ((c & 0xE0) == 0xC0 && left >= 2 && continuation(s[i + 1])) {
        cp = ((c & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu);
        return cp >= 0x80 ? 2 : 0;
    }
    if ((c & 0xF0) == 0xE0 && left >= 3 && continuation(s[i + 1]) && continuation(s[i + 2])) {
        cp = ((c & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
        return cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF) ? 3 : 0;
    }
    if ((c & 0xF8) == 0xF0 && left >= 4 && continuation(s[i + 1]) && continuation(s[i + 2]) && continuation(s[i + 3])) {
        cp = ((c & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) | (s[i + 3] & 0x3Fu);
        return cp >= 0x10000 && cp <= 0x10FFFF ? 4 : 0;
    }
    return 0;
}

// Lowers eight ASCII bytes at once: the high bit of each byte marks A to Z, and
// moving it to bit 5 adds 32 to exactly those.
std::uint64_t lowerAscii8(std::uint64_t word)
{
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    const std::uint64_t atLeastA = word + ones * (0x80 - 'A');
    const std::uint64_t aboveZ = word + ones * (0x7F - 'Z');
    const std::uint64_t upper = atLeastA & ~aboveZ & (ones * 0x80);
    return word | (upper >> 2);
}

} // namespace

void append(std::string_view utf8, std::string& out)
{
    // Lowering rarely lengthens a text; the buffer grows when it does.
    static const std::array<char16_t, 0x800>& lower2 = twoByteLower();
    const std::size_t start = out.size();
    out.resize(start + utf8.size());
    std::size_t w = start;
    const std::size_t n = utf8.size();
    const char* s = utf8.data();
    std::size_t i = 0;
    while (i < n) {
        if (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                word = lowerAscii8(word);
                std::memcpy(&out[w], &word, 8);
                i += 8;
                w += 8;
                continue;
            }
        }
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out[w++] = AsciiLower[c];
            ++i;
            continue;
        }
        char32_t cp = 0;
        const int length = decode(utf8, i, cp);
        if (length == 0) {
            out[w++] = static_cast<char>(c); // not UTF-8: the byte stands for itself
            ++i;
            continue;
        }
        i += static_cast<std::size_t>(length);
        char bytes[4];
        int size = 0;
        if (cp == 0x130) { // İ lowers to i with a combining dot above, as QString::toLower has it
            if (out.size() < w + 3 + (n - i))
                out.resize(w + 3 + (n - i));
            std::memcpy(&out[w], "i\xCC\x87", 3);
            w += 3;
            continue;
        }
        size = encode(cp < 0x800 ? char32_t(lower2[cp]) : QChar::toLower(cp), bytes);
        if (out.size() < w + static_cast<std::size_t>(size) + (n - i))
            out.resize(w + static_cast<std::size_t>(size) + (n - i));
        std::memcpy(&out[w], bytes, static_cast<std::size_t>(size));
        w += static_cast<std::size_t>(size);
    }
    out.resize(w);
}

} // namespace CaseFold
