#pragma once

#include <QString>
#include <string>
#include <string_view>

// When two web addresses name the same newspaper: equal once normalised, the scheme and
// the host in any letter case, http and https alike, a leading "www." and a trailing "/"
// ignored, the rest of the address as it is. The merge finds its newspapers by this rule,
// and the record dialog warns of an address the directory has already.
namespace AddressKey {

// Text without the blanks and tabs around it.
std::string_view trimmed(std::string_view text);
// Appends UTF-8 text with its letter case folded: ASCII directly, anything else through
// Unicode's case folding after composing accents, so "É" typed either way folds alike.
void appendFolded(std::string_view utf8, std::string& out);

// Makes the key of an address in `key`, with `scratch` as a buffer, both reused from one
// call to the next; "HTTPS://WWW.Example.com/News/" and "http://example.com/News" give
// one key, "example.com/news" another. A blank address gives an empty key, which never
// identifies.
void make(std::string_view address, std::string& key, std::string& scratch);
std::string of(const QString& address);

// An address to look for among many: its key, and its host where that is ASCII.
struct Wanted
{
    std::string key;  // empty: a blank address, which never identifies
    std::string host; // folded; empty when not ASCII or absent
};
Wanted wanted(const QString& address);

// Whether a stored address names the same newspaper as `wanted`. Quick for the many that
// do not: one that does not even hold the ASCII host, in any letter case, is not looked
// at further. Safe to call from several threads.
bool sameAddress(std::string_view stored, const Wanted& wanted);

} // namespace AddressKey
