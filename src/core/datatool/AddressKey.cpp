#include "datatool/AddressKey.h"

#include <QByteArray>
#include <algorithm>

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

bool sameAddress(std::string_view stored, const std::string& wanted)
{
    if (wanted.empty())
        return false;
    const std::string_view host = hostOf(wanted);
    const bool ascii = std::all_of(host.begin(), host.end(), [](char c) { return (c & 0x80) == 0; });
    if (ascii && !host.empty()) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; };
        const auto at = std::search(stored.begin(), stored.end(), host.begin(), host.end(),
                                    [&](char a, char b) { return lower(a) == b; });
        if (at == stored.end())
            return false;
    }
    thread_local std::string key;
    thread_local std::string scratch;
    make(stored, key, scratch);
    return key == wanted;
}

} // namespace AddressKey
