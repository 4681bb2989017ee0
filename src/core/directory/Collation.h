#pragma once

#include <QByteArray>
#include <cstdint>
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

// The first level of the collation alone (base letters, without marks or case), for
// sorting many texts: where the primary keys of two texts differ, their keys differ the
// same way; texts with equal primary keys are told apart by their keys. A primary key
// holds no zero byte, and most texts' keys are made straight from the UTF-8 with a
// table, without the collator, at about a byte a letter.
void appendPrimaryKey(std::string_view utf8, std::string& out);

// Most texts can also be read 8 bytes of primary key at a time without keeping the key:
// true for those.
bool primaryKeyReadable(std::string_view utf8);
// The next 8 bytes of a readable text's primary key from cursor (0 at the start), as a
// big-endian number with zero bytes past the key's end; advances cursor, which stays
// below 2^27.
std::uint64_t nextPrimaryBytes(std::string_view utf8, std::uint32_t& cursor);

// Makes ready what every thread shares (the collator and the first level's table), which
// takes a few milliseconds the first time: start-up does it beside its other work.
void prepare();

// The collation's version: orders built with another version are built again.
QByteArray version();

} // namespace Collation
