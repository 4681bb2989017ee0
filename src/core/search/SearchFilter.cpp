#include "search/SearchFilter.h"

#include "directory/CaseFold.h"
#include "directory/Record.h"

#include <cstdint>
#include <cstring>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// Whether needle occurs in haystack, both already lower-cased.
bool containsFolded(const char* haystack, std::size_t size, const std::string& needle)
{
    const std::size_t m = needle.size();
    if (m > size)
        return false;
    const char first = needle[0];
    const char* end = haystack + (size - m) + 1;
    for (const char* p = haystack; (p = static_cast<const char*>(std::memchr(p, first, end - p))); ++p) {
        if (std::memcmp(p + 1, needle.data() + 1, m - 1) == 0)
            return true;
    }
    return false;
}

// Whether the lower-cased ASCII needle occurs in text, lowering the text's ASCII letters
// into out (which has 16 bytes to spare) as it goes; 16 bytes at a time where the
// processor allows, noting where the needle's first letter stands on the way. Sets
// suspect when the text holds a byte that may start one of the two capitals that lower
// to ASCII (see lowersToAscii), where the answer needs the long way.
bool foldAndFind(std::string_view text, const std::string& needle, char* out, bool& suspect)
{
    const std::size_t n = text.size();
#ifdef __SSE2__
    const __m128i beforeA = _mm_set1_epi8('A' - 1);
    const __m128i afterZ = _mm_set1_epi8('Z' + 1);
    const __m128i caseBit = _mm_set1_epi8(0x20);
    const __m128i leadC4 = _mm_set1_epi8(static_cast<char>(0xC4));
    const __m128i leadE2 = _mm_set1_epi8(static_cast<char>(0xE2));
    const __m128i first = _mm_set1_epi8(needle[0]);
    int leads = 0;
    // Where the first letter stands, for texts of up to 64 bytes (nearly all of them).
    std::uint64_t starts = 0;
    // Texts may be read past their end (RecordStore::ReadSlack): the last block loads
    // whole, and only its first bytes count.
    for (std::size_t i = 0; i < n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        const int valid = n - i >= 16 ? 0xffff : (1 << (n - i)) - 1;
        // Bytes from 0x80 up are negative as signed, so never taken for capitals.
        const __m128i capital = _mm_and_si128(_mm_cmpgt_epi8(v, beforeA), _mm_cmplt_epi8(v, afterZ));
        const __m128i lowered = _mm_or_si128(v, _mm_and_si128(capital, caseBit));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), lowered);
        leads |= _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, leadC4), _mm_cmpeq_epi8(v, leadE2))) & valid;
        if (i < 64)
            starts |= static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(lowered, first))) << i;
    }
    suspect = leads != 0;
    const std::size_t m = needle.size();
    if (m > n)
        return false;
    if (n > 64)
        return containsFolded(out, n, needle);
    // Only starts from which the needle fits.
    const std::size_t lastStart = n - m;
    if (lastStart < 63)
        starts &= (std::uint64_t(2) << lastStart) - 1;
    for (; starts; starts &= starts - 1) {
        const auto at = static_cast<std::size_t>(__builtin_ctzll(starts));
        if (std::memcmp(out + at + 1, needle.data() + 1, m - 1) == 0)
            return true;
    }
    return false;
#else
    suspect = false;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = text[i];
        suspect = suspect || c == '\xC4' || c == '\xE2';
        out[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
    }
    return containsFolded(out, n, needle);
#endif
}

} // namespace

SearchFilter::SearchFilter(const SearchCriteria& criteria)
{
    // The order the criteria are examined in: Name, Country, State, City, Category, Web.
    const std::pair<const QString*, Field::Position> tested[] = {
        {&criteria.name, Field::Name}, {&criteria.country, Field::Country},   {&criteria.state, Field::State},
        {&criteria.city, Field::City}, {&criteria.category, Field::Category}, {&criteria.web, Field::Url},
    };
    for (const auto& [text, field] : tested) {
        if (isActive(*text)) {
            std::string needle = CaseFold::fold(*text);
            const bool ascii = isAscii(needle);
            m_tests.push_back({field, std::move(needle), ascii});
        }
    }
}

bool SearchFilter::isActive(const QString& criterion)
{
    return !criterion.isEmpty() && criterion != QLatin1String("All");
}

bool SearchFilter::accept(const RecordStore& store, RecordStore::Slot slot) const
{
    thread_local Scratch scratch;
    return accept(store, slot, scratch);
}

void SearchFilter::judge(const RecordStore& store, RecordStore::Slot from, RecordStore::Slot to,
                         unsigned char* verdicts) const
{
    Scratch scratch;
    for (RecordStore::Slot s = from; s < to; ++s)
        verdicts[s] = store.isLive(s) && accept(store, s, scratch);
}

bool SearchFilter::accept(const RecordStore& store, RecordStore::Slot slot, Scratch& scratch) const
{
    for (const Test& test : m_tests) {
        const auto text = store.text(slot, test.position);
        if (!text)
            return false;
        if (test.asciiNeedle) {
            if (scratch.folded.size() < text->size() + 16)
                scratch.folded.resize(text->size() + 64);
            bool suspect = false;
            const bool found = foldAndFind(*text, test.needle, scratch.folded.data(), suspect);
            if (!suspect || !lowersToAscii(*text)) {
                if (!found)
                    return false;
                continue;
            }
        }
        scratch.lowered.clear();
        CaseFold::append(*text, scratch.lowered);
        if (!contains(scratch.lowered, test.needle))
            return false;
    }
    return true;
}

bool SearchFilter::sameAs(const RecordFilter& other) const
{
    const auto* search = dynamic_cast<const SearchFilter*>(&other);
    return search && search->m_tests == m_tests;
}
