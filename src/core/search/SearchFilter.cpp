#include "search/SearchFilter.h"

#include "directory/CaseFold.h"
#include "directory/Record.h"

#include <cstdint>
#include <cstring>

namespace {

bool contains(std::string_view haystack, const std::string& needle)
{
    if (needle.size() > haystack.size())
        return false;
    return ::memmem(haystack.data(), haystack.size(), needle.data(), needle.size()) != nullptr;
}

bool isAscii(std::string_view text)
{
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        if (word & 0x8080808080808080ull)
            return false;
    }
    for (; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return false;
    }
    return true;
}

char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// A text against a lower-cased ASCII criterion, lowering ASCII letters as it compares.
// Other characters lower to other characters that are not ASCII either, so they can
// never be part of a match, but for two: the Kelvin sign lowers to "k" and the dotted
// capital I to "i" with a combining dot; texts holding those take the long way.
bool lowersToAscii(std::string_view text)
{
    for (const char* p = text.data();
         (p = static_cast<const char*>(std::memchr(p, '\xC4', text.data() + text.size() - p))); ++p) {
        if (p + 1 < text.data() + text.size() && p[1] == '\xB0')
            return true;
    }
    for (const char* p = text.data();
         (p = static_cast<const char*>(std::memchr(p, '\xE2', text.data() + text.size() - p))); ++p) {
        if (p + 2 < text.data() + text.size() && p[1] == '\x84' && p[2] == '\xAA')
            return true;
    }
    return false;
}

bool containsIgnoringAsciiCase(std::string_view haystack, const std::string& needle)
{
    const std::size_t m = needle.size();
    if (m > haystack.size())
        return false;
    const char first = needle[0];
    const char firstUpper = first >= 'a' && first <= 'z' ? static_cast<char>(first - ('a' - 'A')) : first;
    const std::size_t last = haystack.size() - m;
    for (std::size_t i = 0; i <= last; ++i) {
        const char c = haystack[i];
        if (c != first && c != firstUpper)
            continue;
        std::size_t j = 1;
        while (j < m && lowerAscii(haystack[i + j]) == needle[j])
            ++j;
        if (j == m)
            return true;
    }
    return false;
}

} // namespace

SearchFilter::SearchFilter(const SearchCriteria& criteria)
{
    // The order the criteria are examined in: Name, Country, State, City, Category, Web.
    const std::pair<const QString*, const char*> tested[] = {
        {&criteria.name, "Name"}, {&criteria.country, "Country"},   {&criteria.state, "State"},
        {&criteria.city, "City"}, {&criteria.category, "Category"}, {&criteria.web, "URL"},
    };
    for (const auto& [text, field] : tested) {
        if (isActive(*text)) {
            std::string needle = CaseFold::fold(*text);
            const bool ascii = isAscii(needle);
            m_tests.push_back({Field::positionOf(QLatin1String(field)), std::move(needle), ascii});
        }
    }
}

bool SearchFilter::isActive(const QString& criterion)
{
    return !criterion.isEmpty() && criterion != QLatin1String("All");
}

bool SearchFilter::accept(const RecordStore& store, RecordStore::Slot slot) const
{
    thread_local std::string lowered;
    for (const Test& test : m_tests) {
        const auto text = store.text(slot, test.position);
        if (!text)
            return false;
        if (test.asciiNeedle && !lowersToAscii(*text)) {
            if (!containsIgnoringAsciiCase(*text, test.needle))
                return false;
            continue;
        }
        lowered.clear();
        CaseFold::append(*text, lowered);
        if (!contains(lowered, test.needle))
            return false;
    }
    return true;
}

bool SearchFilter::sameAs(const RecordFilter& other) const
{
    const auto* search = dynamic_cast<const SearchFilter*>(&other);
    return search && search->m_tests == m_tests;
}
