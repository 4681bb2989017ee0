#pragma once

#include <QString>

// Which characters a newspaper's texts may not hold. A line break would split a name
// into two lines of the favourites and history files, and other control characters
// are invisible in every list and box; so the record dialog turns them into blanks
// and the data tool refuses them.
namespace TextRules {

// CR, LF, vertical tab, form feed, next line, line and paragraph separators.
inline bool isLineBreak(char16_t c)
{
    return c == u'\r' || c == u'\n' || c == 0x0b || c == 0x0c || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// U+0000 to U+001F and U+007F.
inline bool isControl(char16_t c)
{
    return c < 0x20 || c == 0x7f;
}

inline bool isRefused(char16_t c)
{
    return isLineBreak(c) || isControl(c);
}

// Where the first refused character of text stands, or -1 when there is none.
inline qsizetype firstRefused(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isRefused(text[i].unicode()))
            return i;
    }
    return -1;
}

} // namespace TextRules
