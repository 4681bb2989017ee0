#include "directory/RecordStore.h"

#include "directory/Sqlite.h"
#include "directory/TableSchema.h"

#include <cstring>

namespace {
constexpr std::size_t ChunkSize = 4u << 20;
}

void RecordStore::clear()
{
    m_entries.clear();
    m_entries.shrink_to_fit();
    m_chunks.clear();
    m_chunkUsed = m_chunkSize = 0;
    m_live = m_textBytes = 0;
}

void RecordStore::load(sqlite::Database& db)
{
    clear();
    {
        // Sizing the entry table up front avoids a doubling copy of a million entries.
        sqlite::Statement count(db, "SELECT count(*) FROM newspapers");
        if (count.step())
            m_entries.reserve(static_cast<std::size_t>(count.int64(0)));
    }
    sqlite::Statement st(db, "SELECT No, Name, Url, Country, State, City, Category FROM newspapers ORDER BY No");
    while (st.step()) {
        Entry entry;
        entry.no = st.int64(0);
        std::size_t total = 0;
        std::array<std::string_view, Field::TextCount> texts;
        for (int i = 0; i < Field::TextCount; ++i) {
            if (st.isNull(i + 1)) {
                entry.length[i] = Blank;
            } else {
                texts[i] = st.text(i + 1);
                entry.length[i] = static_cast<std::uint32_t>(texts[i].size());
                total += texts[i].size();
            }
        }
        char* dst = nullptr;
        entry.start = reserve(total, &dst);
        for (int i = 0; i < Field::TextCount; ++i) {
            if (entry.length[i] != Blank && !texts[i].empty()) {
                std::memcpy(dst, texts[i].data(), texts[i].size());
                dst += texts[i].size();
            }
        }
        m_entries.push_back(entry);
    }
    m_live = m_entries.size();
}

const char* RecordStore::bytesAt(std::uint64_t start) const
{
    return m_chunks[start >> 32].get() + (start & 0xffffffffu);
}

std::uint64_t RecordStore::reserve(std::size_t size, char** where)
{
    if (m_chunks.empty() || m_chunkUsed + size > m_chunkSize) {
        const std::size_t chunk = size > ChunkSize ? size : ChunkSize;
        m_chunks.push_back(std::unique_ptr<char[]>(new char[chunk]));
        m_chunkSize = chunk;
        m_chunkUsed = 0;
    }
    const std::uint64_t start = (static_cast<std::uint64_t>(m_chunks.size() - 1) << 32) | m_chunkUsed;
    *where = m_chunks.back().get() + m_chunkUsed;
    m_chunkUsed += size;
    m_textBytes += size;
    return start;
}

std::optional<std::string_view> RecordStore::text(Slot slot, int position) const
{
    const Entry& entry = m_entries[slot];
    const int field = position - 1;
    if (entry.length[field] == Blank)
        return std::nullopt;
    std::size_t offset = 0;
    for (int i = 0; i < field; ++i) {
        if (entry.length[i] != Blank)
            offset += entry.length[i];
    }
    return std::string_view(bytesAt(entry.start) + offset, entry.length[field]);
}

FieldValue RecordStore::value(Slot slot, int position) const
{
    if (position == Field::No)
        return FieldValue(no(slot));
    const auto t = text(slot, position);
    if (!t)
        return FieldValue();
    return FieldValue(QString::fromUtf8(t->data(), static_cast<qsizetype>(t->size())));
}

RecordStore::Slot RecordStore::add(qint64 no, const std::array<QByteArray, Field::TextCount>& texts)
{
    Entry entry;
    entry.no = no;
    std::size_t total = 0;
    for (int i = 0; i < Field::TextCount; ++i) {
        entry.length[i] = texts[i].isEmpty() ? Blank : static_cast<std::uint32_t>(texts[i].size());
        total += static_cast<std::size_t>(texts[i].size());
    }
    char* dst = nullptr;
    entry.start = reserve(total, &dst);
    for (const QByteArray& t : texts) {
        std::memcpy(dst, t.constData(), static_cast<std::size_t>(t.size()));
        dst += t.size();
    }
    m_entries.push_back(entry);
    ++m_live;
    return static_cast<Slot>(m_entries.size() - 1);
}

void RecordStore::replaceTexts(Slot slot, const std::array<std::optional<QByteArray>, Field::TextCount>& texts)
{
    std::array<QByteArray, Field::TextCount> merged;
    std::array<bool, Field::TextCount> blank{};
    for (int i = 0; i < Field::TextCount; ++i) {
        if (texts[i]) {
            merged[i] = *texts[i];
            blank[i] = texts[i]->isEmpty();
        } else if (const auto old = text(slot, i + 1)) {
            merged[i] = QByteArray(old->data(), static_cast<qsizetype>(old->size()));
        } else {
            blank[i] = true;
        }
    }
    Entry& entry = m_entries[slot];
    std::size_t total = 0;
    for (int i = 0; i < Field::TextCount; ++i) {
        entry.length[i] = blank[i] ? Blank : static_cast<std::uint32_t>(merged[i].size());
        total += blank[i] ? 0 : static_cast<std::size_t>(merged[i].size());
    }
    // The old bytes stay behind in their chunk; they are reclaimed at the next load.
    char* dst = nullptr;
    const std::uint64_t start = reserve(total, &dst);
    m_entries[slot].start = start;
    for (int i = 0; i < Field::TextCount; ++i) {
        if (!blank[i]) {
            std::memcpy(dst, merged[i].constData(), static_cast<std::size_t>(merged[i].size()));
            dst += merged[i].size();
        }
    }
}

void RecordStore::remove(Slot slot)
{
    if (m_entries[slot].live) {
        m_entries[slot].live = false;
        --m_live;
    }
}
