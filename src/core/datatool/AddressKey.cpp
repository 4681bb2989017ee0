#include "datatool/AddressKey.h"

#include <QByteArray>
#include <algorithm>
#include <cstring>

namespace AddressKey {

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

void appendFolded(std::string_view utf8, std::string& out)
{
    const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return (c & 0x80) == 0; });
    if (ascii) {
        for (const char c : utf8)
            out += c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
        return;
    }
    const QByteArray folded = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()))
                                  .normalized(QString::NormalizationForm_C)
                                  .toCaseFolded()
                                  .toUtf8();
    out.append(folded.constData(), static_cast<size_t>(folded.size()));
}

void make(std::string_view address, std::string& key, std::string& scratch)
{
    key.clear();
    address = trimmed(address);
    std::string_view rest = address;
    if (const size_t colon = address.find("://"); colon != std::string_view::npos) {
        scratch.clear();
        appendFolded(address.substr(0, colon), scratch);
        if (scratch != "http" && scratch != "https")
            key = scratch + "://";
        rest = address.substr(colon + 3);
    }
    const size_t hostEnd = std::min(rest.find_first_of("/?#"), rest.size());
    scratch.clear();
    appendFolded(rest.substr(0, hostEnd), scratch);
    key += std::string_view(scratch).substr(scratch.compare(0, 4, "www.") == 0 ? 4 : 0);
    key += rest.substr(hostEnd);
    if (!key.empty() && key.back() == '/')
        key.pop_back();
}

std::string of(const QString& address)
{
    const QByteArray utf8 = address.toUtf8();
    std::string key;
    std::string scratch;
    make(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())), key, scratch);
    return key;
}

namespace {

// The host as the key has it (folded, without "www."), or empty when the key has none.
std::string_view hostOf(std::string_view key)
{
    if (const size_t scheme = key.find("://"); scheme != std::string_view::npos)
        key.remove_prefix(scheme + 3);
    return key.substr(0, std::min(key.find_first_of("/?#"), key.size()));
}

} // namespace

} // namespace AddressKey

namespace AddressKey {

namespace {

// Whether text holds `lower` (ASCII, lower case, not empty) in any letter case. Its
// first letter is found in either case by the library's fast search, and only there is
// the rest compared.
bool containsFolded(std::string_view text, std::string_view lower)
{
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; };
    const char* const end = text.data() + text.size();
    const auto holdsAt = [&](const char* at) {
        if (static_cast<std::size_t>(end - at) < lower.size())
            return false;
        for (std::size_t i = 1; i < lower.size(); ++i) {
            if (fold(at[i]) != lower[i])
                return false;
        }
        return true;
    };
    const char first = lower.front();
    const char upper = first >= 'a' && first <= 'z' ? static_cast<char>(first - ('a' - 'A')) : first;
    for (const char wanted : {first, upper}) {
        for (const char* at = text.data(); at < end; ++at) {
            at = static_cast<const char*>(std::memchr(at, wanted, static_cast<std::size_t>(end - at)));
            if (!at)
                break;
            if (holdsAt(at))
                return true;
        }
        if (upper == first)
            break;
    }
    return false;
}

} // namespace

Wanted wanted(const QString& address)
{
    Wanted result;
    result.key = of(address);
    const std::string_view host = hostOf(result.key);
    if (std::all_of(host.begin(), host.end(), [](char c) { return (c & 0x80) == 0; }))
        result.host = std::string(host);
    return result;
}

bool sameAddress(std::string_view stored, const Wanted& wanted)
{
    if (wanted.key.empty() || (!wanted.host.empty() && !containsFolded(stored, wanted.host)))
        return false;
    thread_local std::string key;
    thread_local std::string scratch;
    make(stored, key, scratch);
    return key == wanted.key;
}

} // namespace AddressKey
