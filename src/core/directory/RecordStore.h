#pragma once

#include "directory/Record.h"

#include <QByteArray>
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3_stmt;

namespace sqlite {
class Database;
}

// A growing array kept in blocks of a fixed size: growing never moves what is there, so
// a million entries never need their space twice.
template <class T>
class BlockVector
{
public:
    static constexpr unsigned BlockBits = 16;
    static constexpr std::size_t BlockSize = std::size_t(1) << BlockBits;

    std::size_t size() const { return m_size; }
    T& operator[](std::size_t i) { return m_blocks[i >> BlockBits][i & (BlockSize - 1)]; }
    const T& operator[](std::size_t i) const { return m_blocks[i >> BlockBits][i & (BlockSize - 1)]; }
    T& emplace_back()
    {
        if (m_size == m_blocks.size() * BlockSize)
            m_blocks.push_back(std::make_unique<T[]>(BlockSize));
        T& added = (*this)[m_size++];
        added = T();
        return added;
    }
    void clear()
    {
        m_blocks.clear();
        m_blocks.shrink_to_fit();
        m_size = 0;
    }
    // Moves other's blocks after this one's, which must end on a whole block.
    void appendBlocks(BlockVector&& other)
    {
        for (auto& block : other.m_blocks)
            m_blocks.push_back(std::move(block));
        m_size += other.m_size;
        other.clear();
    }
    // For reading and writing whole blocks at once.
    std::size_t blockCount() const { return m_blocks.size(); }
    T* block(std::size_t b) { return m_blocks[b].get(); }
    const T* block(std::size_t b) const { return m_blocks[b].get(); }
    // Makes room for exactly `count` entries in whole blocks, holding default values.
    void resize(std::size_t count)
    {
        clear();
        while (m_blocks.size() * BlockSize < count)
            m_blocks.push_back(std::make_unique<T[]>(BlockSize));
        m_size = count;
    }

private:
    std::vector<std::unique_ptr<T[]>> m_blocks;
    std::size_t m_size = 0;
};

// The directory's records held in memory, so that searching and ordering a million
// of them never goes back to the file. Texts are kept as UTF-8 in large chunks;
// every record has a stable slot number for the whole time it is loaded.
class RecordStore
{
public:
    using Slot = std::uint32_t;
    // Every text may be read this many bytes past its end: they are there, if not its own.
    static constexpr std::size_t ReadSlack = 16;

    // Replaces the contents with the records of the file numbered from `from` up to but
    // not including `to`, in No order.
    void load(sqlite::Database& db, qint64 from, qint64 to);
    // The prepared statement both that and the change reader step straight on SQLite
    // (each call to it counts over a million records): No and the six texts of the
    // records numbered in [from, to), in No order.
    using RangeRead = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;
    static RangeRead readRange(sqlite::Database& db, qint64 from, qint64 to);
    // Appends the records of other, which all number higher than this store's, after them.
    void append(RecordStore&& other);
    void clear();

    Slot slotCount() const { return static_cast<Slot>(m_entries.size()); }
    std::size_t liveCount() const { return m_live; }
    bool isLive(Slot slot) const { return m_entries[slot].live != 0; }

    qint64 no(Slot slot) const { return m_entries[slot].no; }
    // The text of position 1..6, or nothing for a blank field. Inline: searching calls it
    // for every record.
    std::optional<std::string_view> text(Slot slot, int position) const
    {
        const Entry& entry = m_entries[slot];
        if (entry.longTexts)
            return longText(slot, position);
        const int field = position - 1;
        if (entry.length[field] == ShortBlank)
            return std::nullopt;
        std::size_t offset = 0;
        for (int i = 0; i < field; ++i)
            offset += entry.length[i] == ShortBlank ? 0 : entry.length[i];
        return std::string_view(bytesAt(entry.start) + offset, entry.length[field]);
    }
    FieldValue value(Slot slot, int position) const;
    // Asks the processor to fetch a record's bookkeeping ahead of reading its texts, for
    // work that visits many records out of order.
    void prefetch(Slot slot) const { __builtin_prefetch(&m_entries[slot]); }

    // Empty texts are stored as blanks.
    Slot add(qint64 no, const std::array<QByteArray, Field::TextCount>& texts);
    void replaceTexts(Slot slot, const std::array<std::optional<QByteArray>, Field::TextCount>& texts);
    void remove(Slot slot);

    // Texts exactly as the file holds them: absent is a blank, empty is an empty text.
    using ExactTexts = std::array<std::optional<std::string_view>, Field::TextCount>;
    // Whether the slot's record holds exactly these texts.
    bool holds(Slot slot, const ExactTexts& texts) const;
    Slot addExact(qint64 no, const ExactTexts& texts);
    void setExact(Slot slot, const ExactTexts& texts);

private:
    friend class TableCache;

    using Lengths = std::array<std::uint32_t, Field::TextCount>;
    static constexpr std::uint32_t Blank = 0xffffffffu;
    static constexpr std::uint16_t ShortBlank = 0xffffu;
    static constexpr std::uint16_t ShortLimit = 0xfffeu; // longer texts keep their lengths aside

    // 32 bytes a record: a million records take 32 MB besides their text.
    struct Entry
    {
        std::uint64_t start = 0; // chunk << 32 | offset
        qint64 no = 0;
        std::array<std::uint16_t, Field::TextCount> length{};
        // Bytes, not bools: the cache is read into entries, and a byte read from a file
        // may hold any value (see TableCache, which accepts only 0 and 1).
        std::uint8_t live = 1;
        std::uint8_t longTexts = 0; // 1: the lengths are in m_longLengths
    };

    const char* bytesAt(std::uint64_t start) const { return m_chunks[start >> 32].data + (start & 0xffffffffu); }
    std::optional<std::string_view> longText(Slot slot, int position) const;
    std::uint64_t reserve(std::size_t size, char** where);
    // The rest of append: other's long lengths, text and counts, its slots shifted.
    void adopt(RecordStore&& other, Slot slotShift);
    Lengths lengths(Slot slot) const;
    void setLengths(Slot slot, const Lengths& lengths);
    // Stores the texts (Blank lengths for blanks) as the slot's record.
    void place(Slot slot, const std::array<std::string_view, Field::TextCount>& texts, const Lengths& lengths);

    // Text is written into chunks of its own; the first may instead be borrowed from a
    // mapped cache file, which `m_borrowed` keeps alive.
    struct Chunk
    {
        std::unique_ptr<char[]> owned;
        const char* data = nullptr;
    };

    BlockVector<Entry> m_entries;
    std::unordered_map<Slot, Lengths> m_longLengths;
    std::vector<Chunk> m_chunks;
    std::shared_ptr<const void> m_borrowed;
    std::size_t m_chunkUsed = 0;
    std::size_t m_chunkSize = 0;
    std::size_t m_live = 0;
};
