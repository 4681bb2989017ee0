#pragma once

#include <QByteArray>
#include <string>
#include <string_view>

// The order people expect in a multilingual list: the root collation of ICU, the
// Unicode collation algorithm with its common tailoring. Letters with accents sort
// with their base letter (Á with A, Ö with O, ß with ss), then by their marks, then by
// letter case, in every script.
namespace Collation {

// Appends the sort key of utf8 to out: byte strings that compare as the texts do.
// A key holds no zero byte, so a key that is a prefix of another sorts first. Text
// that is not valid UTF-8 is keyed with U+FFFD in place of the bad bytes.
void appendKey(std::string_view utf8, std::string& out);

inline std::string key(std::string_view utf8)
{
    std::string out;
    appendKey(utf8, out);
    return out;
}

// The collation's version: orders built with another version are built again.
QByteArray version();

} // namespace Collation
