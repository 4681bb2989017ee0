#include "directory/Collation.h"

#include "errors/AppError.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <unicode/ucol.h>
#include <unicode/ucoleitr.h>
#include <unicode/uset.h>
#include <unicode/ustring.h>
#include <utility>
#include <vector>

namespace Collation {

namespace {

[[noreturn]] void fail(UErrorCode status)
{
    throw AppError(QStringLiteral("Cannot load the collation: %1").arg(QLatin1String(u_errorName(status))));
}

struct CloseCollator
{
    void operator()(UCollator* collator) const { ucol_close(collator); }
};
using CollatorPtr = std::unique_ptr<UCollator, CloseCollator>;

struct CloseElements
{
    void operator()(UCollationElements* elements) const { ucol_closeElements(elements); }
};
using ElementsPtr = std::unique_ptr<UCollationElements, CloseElements>;

const UCollator* root()
{
    static const CollatorPtr collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        CollatorPtr opened(ucol_open("", &status));
        if (U_FAILURE(status))
            fail(status);
        return opened;
    }();
    return collator.get();
}

// A collator is not to be used by two threads at once: each thread keys with its own
// copy, and keeps its conversion buffers.
struct ThreadState
{
    CollatorPtr collator;
    ElementsPtr elements; // opened when first needed
    std::vector<UChar> text;
    std::vector<uint8_t> key;

    ThreadState()
    {
        UErrorCode status = U_ZERO_ERROR;
        collator.reset(ucol_clone(root(), &status));
        if (U_FAILURE(status))
            fail(status);
        text.resize(256);
        key.resize(512);
    }

    // utf8 as UTF-16 in `text`, U+FFFD in place of bad bytes; returns its length.
    int32_t convert(std::string_view utf8)
    {
        // UTF-8 never takes fewer bytes than UTF-16 code units, so this always fits.
        if (text.size() < utf8.size() + 1)
            text.resize(utf8.size() + 1);
        int32_t length = 0;
        UErrorCode status = U_ZERO_ERROR;
        u_strFromUTF8WithSub(text.data(), static_cast<int32_t>(text.size()), &length, utf8.data(),
                             static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
        return U_FAILURE(status) ? 0 : length;
    }
};

ThreadState& state()
{
    thread_local ThreadState local;
    return local;
}

// Appends the primary weights of the text to out, each as its bytes up to its last
// non-zero one: the first level of the sort key, without ICU's compression of lead bytes.
// ICU's weights are made so that none is the start of another, so these bytes compare as
// the weights do.
void appendPrimaries(UCollationElements* elements, const UChar* units, int32_t length, std::string& out)
{
    UErrorCode status = U_ZERO_ERROR;
    ucol_setText(elements, units, length, &status);
    if (U_FAILURE(status))
        fail(status);
    // Each collation element comes as one or two 32-bit halves; a second half (a
    // "continuation", marked 0xC0 in its low byte) holds the low 16 bits of the weight.
    constexpr uint32_t Continuation = 0xC0;
    uint32_t primary = 0;
    auto flush = [&] {
        for (int shift = 24; shift >= 0 && ((primary >> shift) & 0xffu) != 0; shift -= 8)
            out.push_back(static_cast<char>((primary >> shift) & 0xffu));
    };
    for (;;) {
        const int32_t element = ucol_next(elements, &status);
        if (U_FAILURE(status))
            fail(status);
        if (element == UCOL_NULLORDER)
            break;
        const auto half = static_cast<uint32_t>(element);
        if ((half & Continuation) == Continuation) {
            primary |= half >> 16;
            continue;
        }
        flush();
        primary = half & 0xffff0000u;
    }
    flush();
}

// The primary key read straight from UTF-8. A text whose characters each map to
// collation elements on their own, whatever stands around them, has the primary weights
// of its characters one after the other; such a text is "readable". A character is not
// when it has marks of its own that normalization would reorder (a leading combining
// class), is listed alone among the mappings, lies past the BMP or weighs more than 7
// bytes; and two characters are not where a contraction or a mapping that looks at the
// preceding character joins them.
//
// Each BMP character has an entry: its primary bytes, right-aligned, and their count.
constexpr uint64_t LengthShift = 56;
constexpr uint64_t Joins = uint64_t(1) << 62; // may be joined with the next character
constexpr uint64_t Unreadable = uint64_t(1) << 63;
constexpr unsigned MaxCharBytes = 7;
constexpr std::size_t MaxReadableText = std::size_t(1) << 24; // cursors keep 24 bits of offset

class PrimaryTable
{
public:
    PrimaryTable()
    {
        // Both take milliseconds the first time: the collator's list of contractions,
        // and the element iterator's first opening.
        std::vector<UChar32> mappings;
        std::exception_ptr failure;
        std::thread listing([&] {
            try {
                mappings = contextualMappings();
            } catch (...) {
                failure = std::current_exception();
            }
        });
        UErrorCode status = U_ZERO_ERROR;
        m_elements.reset(ucol_openElements(root(), nullptr, 0, &status));
        listing.join();
        if (failure)
            std::rethrow_exception(failure);
        if (U_FAILURE(status))
            fail(status);
        // Each mapping of several characters: no character of it is read alone where
        // the next one follows it. A single character listed is never read alone.
        for (std::size_t at = 0; at < mappings.size();) {
            const auto length = static_cast<std::size_t>(mappings[at++]);
            if (length == 1)
                m_alone.push_back(static_cast<char32_t>(mappings[at]));
            for (std::size_t k = 1; k < length; ++k)
                m_pairs.emplace_back(static_cast<char32_t>(mappings[at + k - 1]),
                                     static_cast<char32_t>(mappings[at + k]));
            at += length;
        }
        std::sort(m_pairs.begin(), m_pairs.end());
        std::sort(m_alone.begin(), m_alone.end());
        for (auto& page : m_pages)
            page.store(nullptr, std::memory_order_relaxed);
        const uint64_t* ascii = page(0);
        std::copy(ascii, ascii + 128, m_ascii.begin());
        for (unsigned c = 0; c < 128; ++c) {
            if (((m_ascii[c] >> LengthShift) & 0x7u) == 1)
                m_oneByte[c] = static_cast<uint8_t>(m_ascii[c]);
        }
        // Pure ASCII text is readable when each of its characters is and no mapping joins
        // two ASCII characters.
        m_asciiReadable = std::none_of(m_ascii.begin(), m_ascii.end(), [](uint64_t e) { return e & Unreadable; }) &&
                          std::none_of(m_pairs.begin(), m_pairs.end(),
                                       [](const auto& pair) { return pair.first < 0x80 && pair.second < 0x80; });
    }

    uint64_t ascii(unsigned c) const { return m_ascii[c]; }
    // The weight of a character of one byte that weighs one byte; 0 for any other byte.
    const uint8_t* oneByteWeights() const { return m_oneByte.data(); }
    bool asciiReadable() const { return m_asciiReadable; }

    uint64_t entry(char32_t c) { return c < 0x80 ? m_ascii[c] : page(c >> 8)[c & 0xffu]; }

    bool joined(char32_t c, char32_t next) const
    {
        return std::binary_search(m_pairs.begin(), m_pairs.end(), std::make_pair(c, next));
    }

private:
    using Page = std::array<uint64_t, 256>;

    const uint64_t* page(char32_t index)
    {
        const Page* built = m_pages[index].load(std::memory_order_acquire);
        if (built)
            return built->data();
        const std::lock_guard<std::mutex> lock(m_building);
        built = m_pages[index].load(std::memory_order_relaxed);
        if (!built) {
            m_owned.push_back(build(index));
            built = m_owned.back().get();
            m_pages[index].store(built, std::memory_order_release);
        }
        return built->data();
    }

    std::unique_ptr<Page> build(char32_t index)
    {
        auto page = std::make_unique<Page>();
        std::string primaries;
        for (char32_t low = 0; low < 256; ++low) {
            const char32_t c = (index << 8) | low;
            uint64_t& e = (*page)[low];
            const bool special = (c >= 0xD800 && c < 0xE000) || (c >= 0xFDD0 && c < 0xFDF0) || c >= 0xFFFE;
            if (special || u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_LEAD_CANONICAL_COMBINING_CLASS) != 0 ||
                std::binary_search(m_alone.begin(), m_alone.end(), c)) {
                e = Unreadable;
                continue;
            }
            const UChar unit = static_cast<UChar>(c);
            primaries.clear();
            appendPrimaries(m_elements.get(), &unit, 1, primaries);
            if (primaries.size() > MaxCharBytes) {
                e = Unreadable;
                continue;
            }
            uint64_t weight = 0;
            for (const char byte : primaries)
                weight = (weight << 8) | static_cast<unsigned char>(byte);
            e = (uint64_t(primaries.size()) << LengthShift) | weight;
            const auto joins = std::lower_bound(m_pairs.begin(), m_pairs.end(), std::make_pair(c, char32_t(0)));
            if (joins != m_pairs.end() && joins->first == c)
                e |= Joins;
        }
        return page;
    }

    // Every contraction and every mapping that depends on the preceding characters, as
    // the characters of its text, each text preceded by its length.
    static std::vector<UChar32> contextualMappings()
    {
        UErrorCode status = U_ZERO_ERROR;
        const std::unique_ptr<USet, decltype(&uset_close)> set(uset_openEmpty(), &uset_close);
        ucol_getContractionsAndExpansions(root(), set.get(), nullptr, true, &status);
        if (U_FAILURE(status))
            fail(status);
        std::vector<UChar32> mappings;
        std::vector<UChar> units(64);
        const int32_t items = uset_getItemCount(set.get());
        for (int32_t i = 0; i < items; ++i) {
            UChar32 first = 0;
            UChar32 last = 0;
            int32_t length =
                uset_getItem(set.get(), i, &first, &last, units.data(), static_cast<int32_t>(units.size()), &status);
            if (status == U_BUFFER_OVERFLOW_ERROR) {
                status = U_ZERO_ERROR;
                units.resize(static_cast<std::size_t>(length));
                length = uset_getItem(set.get(), i, &first, &last, units.data(), length, &status);
            }
            if (U_FAILURE(status))
                fail(status);
            if (length == 0) {
                for (UChar32 c = first; c <= last; ++c)
                    mappings.insert(mappings.end(), {1, c});
                continue;
            }
            const std::size_t lengthAt = mappings.size();
            mappings.push_back(0);
            for (int32_t at = 0; at < length;) {
                UChar32 c = 0;
                U16_NEXT(units.data(), at, length, c);
                mappings.push_back(c);
            }
            mappings[lengthAt] = static_cast<UChar32>(mappings.size() - lengthAt - 1);
        }
        return mappings;
    }

    std::vector<std::pair<char32_t, char32_t>> m_pairs; // (c, next): c followed by next may map otherwise
    std::vector<char32_t> m_alone;
    ElementsPtr m_elements; // used while building a page
    std::array<std::atomic<const Page*>, 256> m_pages;
    std::vector<std::unique_ptr<Page>> m_owned;
    std::mutex m_building;
    std::array<uint64_t, 128> m_ascii{};
    std::array<uint8_t, 256> m_oneByte{};
    bool m_asciiReadable = false;
};

PrimaryTable& table()
{
    static PrimaryTable instance;
    return instance;
}

} // namespace

void prepare()
{
    root();
    table();
}

namespace {

// The BMP character at p and its length in bytes; 0 for anything else (a character past
// the BMP, or bytes that are not UTF-8).
inline unsigned decode(const unsigned char* p, const unsigned char* end, char32_t& c)
{
    const unsigned lead = p[0];
    if (lead < 0x80) {
        c = lead;
        return 1;
    }
    if (lead < 0xC2)
        return 0;
    if (lead < 0xE0) {
        if (end - p < 2 || (p[1] & 0xC0) != 0x80)
            return 0;
        c = ((lead & 0x1Fu) << 6) | (p[1] & 0x3Fu);
        return 2;
    }
    if (lead < 0xF0) {
        if (end - p < 3 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80)
            return 0;
        c = ((lead & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
        return c >= 0x800 && (c < 0xD800 || c >= 0xE000) ? 3 : 0;
    }
    return 0;
}

inline uint64_t lowBytes(uint64_t value, unsigned count)
{
    return value & ((uint64_t(1) << (8 * count)) - 1); // count is at most 7
}

} // namespace

void appendKey(std::string_view utf8, std::string& out)
{
    ThreadState& s = state();
    const int32_t length = s.convert(utf8);
    int32_t size =
        ucol_getSortKey(s.collator.get(), s.text.data(), length, s.key.data(), static_cast<int32_t>(s.key.size()));
    if (size > static_cast<int32_t>(s.key.size())) {
        s.key.resize(static_cast<size_t>(size));
        size =
            ucol_getSortKey(s.collator.get(), s.text.data(), length, s.key.data(), static_cast<int32_t>(s.key.size()));
    }
    // The key ends in a zero byte, which is left out.
    if (size > 1)
        out.append(reinterpret_cast<const char*>(s.key.data()), static_cast<size_t>(size - 1));
}

bool primaryKeyReadable(std::string_view utf8)
{
    if (utf8.size() >= MaxReadableText)
        return false;
    PrimaryTable& t = table();
    const auto* const begin = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* p = begin;
    const auto* const end = p + utf8.size();
    if (t.asciiReadable()) {
        while (end - p >= 8) {
            uint64_t word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ull)
                break;
            p += 8;
        }
        if (p != begin)
            --p; // the last ASCII character may be joined with what follows
    }
    while (p < end) {
        char32_t c = *p;
        unsigned length = 1;
        uint64_t e;
        if (c < 0x80) {
            e = t.ascii(c);
            // No mapping joins two ASCII characters when pure ASCII is readable.
            if (t.asciiReadable() && (!(e & Joins) || p + 1 == end || p[1] < 0x80)) {
                ++p;
                continue;
            }
        } else {
            length = decode(p, end, c);
            if (length == 0)
                return false;
            e = t.entry(c);
        }
        if (e & Unreadable)
            return false;
        char32_t next = 0;
        if ((e & Joins) && p + length < end && decode(p + length, end, next) != 0 && t.joined(c, next))
            return false;
        p += length;
    }
    return true;
}

uint64_t nextPrimaryBytes(std::string_view utf8, uint32_t& cursor)
{
    constexpr uint64_t WeightMask = (uint64_t(1) << LengthShift) - 1;
    PrimaryTable& t = table();
    const auto* const begin = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* const end = begin + utf8.size();
    const auto* p = begin + (cursor & 0xffffffu);
    unsigned skip = cursor >> 24; // bytes of the character at p read before
    const uint8_t* const oneByte = t.oneByteWeights();
    uint64_t bytes = 0;
    unsigned have = 0;
    while (p < end) {
        if (skip == 0) { // most characters: one byte that weighs one byte
            for (uint8_t weight; have < 8 && p < end && (weight = oneByte[*p]) != 0; ++p, ++have)
                bytes = (bytes << 8) | weight;
            if (have == 8 || p == end)
                break;
        }
        char32_t c = *p;
        unsigned length = 1;
        uint64_t e;
        if (c < 0x80) {
            e = t.ascii(c);
        } else {
            length = decode(p, end, c);
            if (length == 0) // bytes that are not UTF-8, never in a readable text: stepped over
                length = 1;
            e = t.entry(c);
        }
        const auto count = static_cast<unsigned>((e >> LengthShift) & 0x7u);
        if (have + count - skip > 8) { // this character's bytes go on in the next 8
            const unsigned taken = 8 - have;
            bytes = (bytes << (8 * taken)) | ((e & WeightMask) >> (8 * (count - skip - taken)));
            skip += taken;
            have = 8;
            break;
        }
        // A weight holds no bytes above its count, and the bytes already read are taken off.
        bytes = (bytes << (8 * (count - skip))) | ((e & WeightMask) & ((uint64_t(1) << (8 * (count - skip))) - 1));
        have += count - skip;
        skip = 0;
        p += length;
        if (have == 8)
            break;
    }
    cursor = static_cast<uint32_t>(p - begin) | (skip << 24);
    return have == 0 ? 0 : have == 8 ? bytes : bytes << (8 * (8 - have));
}

void appendPrimaryKey(std::string_view utf8, std::string& out)
{
    if (primaryKeyReadable(utf8)) {
        uint32_t cursor = 0;
        for (;;) {
            const uint64_t bytes = nextPrimaryBytes(utf8, cursor);
            for (int shift = 56; shift >= 0 && ((bytes >> shift) & 0xffu) != 0; shift -= 8)
                out.push_back(static_cast<char>((bytes >> shift) & 0xffu));
            if ((bytes & 0xffu) == 0)
                return;
        }
    }
    ThreadState& s = state();
    const int32_t length = s.convert(utf8);
    if (!s.elements) {
        UErrorCode status = U_ZERO_ERROR;
        s.elements.reset(ucol_openElements(s.collator.get(), nullptr, 0, &status));
        if (U_FAILURE(status))
            fail(status);
    }
    appendPrimaries(s.elements.get(), s.text.data(), length, out);
}

QByteArray version()
{
    UVersionInfo info;
    ucol_getVersion(root(), info);
    char text[U_MAX_VERSION_STRING_LENGTH];
    u_versionToString(info, text);
    return QByteArray("icu-root-") + text;
}

} // namespace Collation
