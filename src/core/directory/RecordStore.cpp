#include "directory/RecordStore.h"

#include "directory/Sqlite.h"
#include "directory/TableSchema.h"

#include <algorithm>
#include <cstring>
#include <sqlite3.h>

namespace {
constexpr std::size_t ChunkSize = 4u << 20;
}

void RecordStore::clear()
{
    m_entries.clear();
    m_longLengths.clear();
    m_chunks.clear();
    m_borrowed.reset();
    m_chunkUsed = m_chunkSize = 0;
    m_live = 0;
}

RecordStore::RangeRead RecordStore::readRange(sqlite::Database& db, qint64 from, qint64 to)
{
    static constexpr char Sql[] = "SELECT No, Name, Url, Country, State, City, Category FROM newspapers "
                                  "WHERE No >= ?1 AND No < ?2 ORDER BY No";
    sqlite3_stmt* statement = nullptr;
    const int rc = sqlite3_prepare_v2(db.handle(), Sql, sizeof Sql - 1, &statement, nullptr);
    RangeRead read(statement, &sqlite3_finalize);
    if (rc != SQLITE_OK)
        db.fail(QStringLiteral("Cannot read"), rc);
    sqlite3_bind_int64(statement, 1, from);
    sqlite3_bind_int64(statement, 2, to);
    return read;
}

void RecordStore::load(sqlite::Database& db, qint64 from, qint64 to)
{
    clear();
    // Straight on SQLite, with two calls a field: reading a million records is mostly
    // SQLite's own work, and each call to it counts.
    const RangeRead read = readRange(db, from, to);
    sqlite3_stmt* const statement = read.get();
    int rc = SQLITE_OK;
    std::array<const char*, Field::TextCount> texts{};
    Lengths lengths{};
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        db.endWait();
        std::size_t total = 0;
        for (int i = 0; i < Field::TextCount; ++i) {
            // The connection is this thread's alone, so the column's value may be read directly.
            sqlite3_value* value = sqlite3_column_value(statement, i + 1);
            if (sqlite3_value_type(value) == SQLITE_NULL) {
                lengths[i] = Blank;
                continue;
            }
            texts[i] = reinterpret_cast<const char*>(sqlite3_value_text(value));
            if (!texts[i]) // no memory to convert the value to text
                db.fail(QStringLiteral("Cannot read"), SQLITE_NOMEM);
            lengths[i] = static_cast<std::uint32_t>(sqlite3_value_bytes(value));
            total += lengths[i];
        }
        Entry& entry = m_entries.emplace_back();
        entry.no = sqlite3_column_int64(statement, 0);
        char* to = nullptr;
        entry.start = reserve(total, &to);
        bool fits = true;
        for (int i = 0; i < Field::TextCount; ++i) {
            if (lengths[i] == Blank) {
                entry.length[i] = ShortBlank;
                continue;
            }
            std::memcpy(to, texts[i], lengths[i]);
            to += lengths[i];
            fits = fits && lengths[i] < ShortLimit;
            entry.length[i] = static_cast<std::uint16_t>(std::min<std::uint32_t>(lengths[i], ShortLimit));
        }
        if (!fits) {
            entry.longTexts = true;
            m_longLengths[static_cast<Slot>(m_entries.size() - 1)] = lengths;
        }
    }
    db.endWait();
    if (rc != SQLITE_DONE)
        db.fail(QStringLiteral("Cannot read"), rc);
    m_live = m_entries.size();
}

void RecordStore::append(RecordStore&& other)
{
    const auto chunkShift = static_cast<std::uint64_t>(m_chunks.size()) << 32;
    if (other.m_entries.size() >= m_entries.BlockSize) {
        // Many: their blocks move over whole, after this store's last block is filled up
        // with blank dead slots, which no order or view holds. No entry is copied.
        while (m_entries.size() % m_entries.BlockSize != 0) {
            Entry& gap = m_entries.emplace_back();
            gap.live = 0;
            gap.length.fill(ShortBlank);
        }
        const auto slotShift = static_cast<Slot>(m_entries.size());
        for (std::size_t i = 0; i < other.m_entries.size(); ++i)
            other.m_entries[i].start += chunkShift;
        m_entries.appendBlocks(std::move(other.m_entries));
        adopt(std::move(other), slotShift);
        return;
    }
    const auto slotShift = static_cast<Slot>(m_entries.size());
    for (std::size_t i = 0; i < other.m_entries.size(); ++i) {
        Entry& entry = m_entries.emplace_back();
        entry = other.m_entries[i];
        entry.start += chunkShift;
    }
    adopt(std::move(other), slotShift);
}

void RecordStore::adopt(RecordStore&& other, Slot slotShift)
{
    for (auto& [slot, lengths] : other.m_longLengths)
        m_longLengths.emplace(slot + slotShift, lengths);
    for (Chunk& chunk : other.m_chunks)
        m_chunks.push_back(std::move(chunk));
    // Further text goes into the other store's last chunk, where room is left.
    if (!other.m_chunks.empty()) {
        m_chunkUsed = other.m_chunkUsed;
        m_chunkSize = other.m_chunkSize;
    }
    m_live += other.m_live;
    other.clear();
}

void RecordStore::place(Slot slot, const std::array<std::string_view, Field::TextCount>& texts, const Lengths& lengths)
{
    std::size_t total = 0;
    for (int i = 0; i < Field::TextCount; ++i)
        total += lengths[i] == Blank ? 0 : lengths[i];
    char* dst = nullptr;
    m_entries[slot].start = reserve(total, &dst);
    for (int i = 0; i < Field::TextCount; ++i) {
        if (lengths[i] != Blank && lengths[i] > 0) {
            std::memcpy(dst, texts[i].data(), lengths[i]);
            dst += lengths[i];
        }
    }
    setLengths(slot, lengths);
}

RecordStore::Lengths RecordStore::lengths(Slot slot) const
{
    const Entry& entry = m_entries[slot];
    if (entry.longTexts)
        return m_longLengths.at(slot);
    Lengths result;
    for (int i = 0; i < Field::TextCount; ++i)
        result[i] = entry.length[i] == ShortBlank ? Blank : entry.length[i];
    return result;
}

void RecordStore::setLengths(Slot slot, const Lengths& lengths)
{
    Entry& entry = m_entries[slot];
    bool fits = true;
    for (int i = 0; i < Field::TextCount; ++i) {
        fits = fits && (lengths[i] == Blank || lengths[i] < ShortLimit);
        entry.length[i] = lengths[i] == Blank
                              ? ShortBlank
                              : static_cast<std::uint16_t>(std::min<std::uint32_t>(lengths[i], ShortLimit));
    }
    entry.longTexts = !fits;
    if (fits)
        m_longLengths.erase(slot);
    else
        m_longLengths[slot] = lengths;
}

std::uint64_t RecordStore::reserve(std::size_t size, char** where)
{
    if (m_chunks.empty() || !m_chunks.back().owned || m_chunkUsed + size > m_chunkSize) {
        const std::size_t chunk = size > ChunkSize ? size : ChunkSize;
        Chunk added;
        // The slack lets the search read a text 16 bytes at a time past its end. Only
        // the bytes after the last text are cleared (below): clearing the whole chunk
        // would write it twice.
        added.owned.reset(new char[chunk + ReadSlack]);
        added.data = added.owned.get();
        m_chunks.push_back(std::move(added));
        m_chunkSize = chunk;
        m_chunkUsed = 0;
    }
    const std::uint64_t start = (static_cast<std::uint64_t>(m_chunks.size() - 1) << 32) | m_chunkUsed;
    *where = m_chunks.back().owned.get() + m_chunkUsed;
    m_chunkUsed += size;
    std::memset(m_chunks.back().owned.get() + m_chunkUsed, 0, ReadSlack);
    return start;
}

std::optional<std::string_view> RecordStore::longText(Slot slot, int position) const
{
    const Lengths& all = m_longLengths.at(slot);
    const int field = position - 1;
    if (all[field] == Blank)
        return std::nullopt;
    std::size_t offset = 0;
    for (int i = 0; i < field; ++i)
        offset += all[i] == Blank ? 0 : all[i];
    return std::string_view(bytesAt(m_entries[slot].start) + offset, all[field]);
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
    std::array<std::string_view, Field::TextCount> views;
    Lengths lengths;
    for (int i = 0; i < Field::TextCount; ++i) {
        views[i] = std::string_view(texts[i].constData(), static_cast<std::size_t>(texts[i].size()));
        lengths[i] = texts[i].isEmpty() ? Blank : static_cast<std::uint32_t>(texts[i].size());
    }
    m_entries.emplace_back().no = no;
    const auto slot = static_cast<Slot>(m_entries.size() - 1);
    place(slot, views, lengths);
    ++m_live;
    return slot;
}

void RecordStore::replaceTexts(Slot slot, const std::array<std::optional<QByteArray>, Field::TextCount>& texts)
{
    // The old bytes stay behind in their chunk; they are reclaimed at the next load.
    std::array<std::string_view, Field::TextCount> views;
    Lengths lengths;
    for (int i = 0; i < Field::TextCount; ++i) {
        if (texts[i]) {
            views[i] = std::string_view(texts[i]->constData(), static_cast<std::size_t>(texts[i]->size()));
            lengths[i] = texts[i]->isEmpty() ? Blank : static_cast<std::uint32_t>(texts[i]->size());
        } else if (const auto old = text(slot, i + 1)) {
            views[i] = *old; // still valid: place() only appends
            lengths[i] = static_cast<std::uint32_t>(old->size());
        } else {
            lengths[i] = Blank;
        }
    }
    place(slot, views, lengths);
}

namespace {
std::array<std::string_view, Field::TextCount>
viewsOf(const RecordStore::ExactTexts& texts, std::array<std::uint32_t, Field::TextCount>& lengths, std::uint32_t blank)
{
    std::array<std::string_view, Field::TextCount> views;
    for (int i = 0; i < Field::TextCount; ++i) {
        views[i] = texts[i].value_or(std::string_view());
        lengths[i] = texts[i] ? static_cast<std::uint32_t>(texts[i]->size()) : blank;
    }
    return views;
}
} // namespace

RecordStore::Slot RecordStore::addExact(qint64 no, const ExactTexts& texts)
{
    Lengths lengths;
    const auto views = viewsOf(texts, lengths, Blank);
    m_entries.emplace_back().no = no;
    const auto slot = static_cast<Slot>(m_entries.size() - 1);
    place(slot, views, lengths);
    ++m_live;
    return slot;
}

void RecordStore::setExact(Slot slot, const ExactTexts& texts)
{
    Lengths lengths;
    place(slot, viewsOf(texts, lengths, Blank), lengths);
}

void RecordStore::remove(Slot slot)
{
    if (m_entries[slot].live) {
        m_entries[slot].live = false;
        --m_live;
    }
}

bool RecordStore::holds(Slot slot, const ExactTexts& texts) const
{
    const Entry& entry = m_entries[slot];
    if (entry.longTexts) {
        for (int i = 0; i < Field::TextCount; ++i) {
            if (longText(slot, i + 1) != texts[static_cast<std::size_t>(i)])
                return false;
        }
        return true;
    }
    // The texts lie one after another: walked once, not summed again for each field.
    const char* at = bytesAt(entry.start);
    for (std::size_t i = 0; i < Field::TextCount; ++i) {
        const std::uint16_t length = entry.length[i];
        if ((length == ShortBlank) != !texts[i].has_value())
            return false;
        if (length == ShortBlank)
            continue;
        if (texts[i]->size() != length || std::memcmp(at, texts[i]->data(), length) != 0)
            return false;
        at += length;
    }
    return true;
}
