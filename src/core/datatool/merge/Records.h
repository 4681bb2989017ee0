#pragma once

// The merge's records and the indexes it finds them by: what mergeInto reads from
// NEWER, BASE and the table, kept compact enough for a million records.

#include "directory/Record.h"
#include "work/Progress.h"

#include <QString>
#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sqlite {
class Database;
}

namespace merge {

extern const QString NothingMerged;

enum Kind
{
    ByUrl = 0,
    ByName = 1,
};

// A record's identity keys, made in buffers reused from one record to the next. A key
// is empty when its field cannot identify.
struct Keys
{
    std::string url;
    std::string name;
    std::string scratch;

    void make(std::string_view address, std::string_view paperName, std::string_view country);
};

// Never 0, which stands for no key.
inline quint64 hashOf(std::string_view key)
{
    if (key.empty())
        return 0;
    const quint64 hash = std::hash<std::string_view>{}(key);
    return hash != 0 ? hash : 1;
}

// The records of one source. Each record's six texts (UTF-8) and its two keys lie side
// by side in large blocks: a million records cost little more than their text.
class RecordSet
{
public:
    struct Rec
    {
        qint64 no = 0; // a table's No, a CSV's No (0 when it has none)
        int line = 0;  // a CSV's line; 0 for a table's record
        const char* at = nullptr;
        std::array<quint32, Field::TextCount + 2> size{}; // the texts', then the keys'
        std::array<quint64, 2> hash{};                    // of the keys, by Kind
    };

    void add(qint64 no, int line, const std::array<std::string_view, Field::TextCount>& texts, const Keys& keys)
    {
        Rec rec;
        rec.no = no;
        rec.line = line;
        size_t total = keys.url.size() + keys.name.size();
        for (size_t i = 0; i < texts.size(); ++i) {
            rec.size[i] = static_cast<quint32>(texts[i].size());
            total += texts[i].size();
        }
        rec.size[Field::TextCount + ByUrl] = static_cast<quint32>(keys.url.size());
        rec.size[Field::TextCount + ByName] = static_cast<quint32>(keys.name.size());
        char* out = allocate(total);
        rec.at = out;
        for (const std::string_view text : texts)
            out = std::copy(text.begin(), text.end(), out);
        out = std::copy(keys.url.begin(), keys.url.end(), out);
        std::copy(keys.name.begin(), keys.name.end(), out);
        rec.hash[ByUrl] = hashOf(keys.url);
        rec.hash[ByName] = hashOf(keys.name);
        m_recs.push_back(rec);
    }

    size_t size() const { return m_recs.size(); }
    const Rec& operator[](size_t i) const { return m_recs[i]; }

    // Field f of record i: 0 to 5 the texts, 6 and 7 the keys by address and by name.
    std::string_view part(size_t i, size_t f) const
    {
        const Rec& rec = m_recs[i];
        const char* at = rec.at;
        for (size_t k = 0; k < f; ++k)
            at += rec.size[k];
        return std::string_view(at, rec.size[f]);
    }
    std::string_view key(size_t i, Kind kind) const { return part(i, Field::TextCount + kind); }
    bool keyless(size_t i) const { return m_recs[i].hash[ByUrl] == 0 && m_recs[i].hash[ByName] == 0; }

    bool sameTexts(size_t i, const RecordSet& other, size_t j) const
    {
        const Rec& a = m_recs[i];
        const Rec& b = other.m_recs[j];
        size_t total = 0;
        for (int f = 0; f < Field::TextCount; ++f) {
            if (a.size[f] != b.size[f])
                return false;
            total += a.size[f];
        }
        return std::equal(a.at, a.at + total, b.at);
    }

    RecordTexts texts(size_t i) const
    {
        RecordTexts texts;
        for (int f = 0; f < Field::TextCount; ++f) {
            const std::string_view text = part(i, static_cast<size_t>(f));
            texts[static_cast<size_t>(f)] = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        }
        return texts;
    }

    std::array<QByteArray, Field::TextCount> utf8(size_t i) const
    {
        std::array<QByteArray, Field::TextCount> texts;
        for (int f = 0; f < Field::TextCount; ++f) {
            const std::string_view text = part(i, static_cast<size_t>(f));
            texts[static_cast<size_t>(f)] = QByteArray(text.data(), static_cast<qsizetype>(text.size()));
        }
        return texts;
    }

private:
    char* allocate(size_t bytes)
    {
        constexpr size_t BlockSize = 1 << 20;
        if (bytes > m_left) {
            const size_t size = std::max(bytes, BlockSize);
            m_blocks.push_back(std::make_unique<char[]>(size));
            m_free = m_blocks.back().get();
            m_left = size;
        }
        char* at = m_free;
        m_free += bytes;
        m_left -= bytes;
        return at;
    }

    std::vector<Rec> m_recs;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char* m_free = nullptr;
    size_t m_left = 0;
};

inline size_t tableSize(size_t count)
{
    size_t size = 16;
    while (size < count * 2)
        size *= 2;
    return size;
}

// The records of a set sharing each key, in the set's order, with a cursor that moves
// past those already taken, so repeated keys cost no more than one walk along them.
// Open addressing on the keys' hashes; keys are compared whenever hashes are equal.
class KeyIndex
{
public:
    KeyIndex(const RecordSet& set, Kind kind)
        : m_set(set)
        , m_kind(kind)
        , m_slots(tableSize(set.size()))
        , m_next(set.size(), -1)
    {
        for (int i = static_cast<int>(set.size()) - 1; i >= 0; --i) {
            const quint64 hash = set[static_cast<size_t>(i)].hash[kind];
            if (hash == 0)
                continue;
            Slot* slot = slotFor(set.key(static_cast<size_t>(i), kind), hash, true);
            m_next[static_cast<size_t>(i)] = slot->first;
            slot->first = slot->cursor = i;
        }
    }

    // The first record with the key that is not taken yet (-1 when none) and, when all
    // are, the first of them (-1 when no record has the key).
    template <class Taken>
    std::pair<int, int> find(std::string_view key, quint64 hash, const Taken& taken)
    {
        Slot* slot = hash == 0 ? nullptr : slotFor(key, hash, false);
        if (!slot)
            return {-1, -1};
        while (slot->cursor >= 0 && taken(slot->cursor))
            slot->cursor = m_next[static_cast<size_t>(slot->cursor)];
        return {slot->cursor, slot->cursor >= 0 ? -1 : slot->first};
    }

private:
    struct Slot
    {
        quint64 hash = 0;
        int first = -1;
        int cursor = -1;
    };

    Slot* slotFor(std::string_view key, quint64 hash, bool insert)
    {
        const size_t mask = m_slots.size() - 1;
        for (size_t at = hash & mask;; at = (at + 1) & mask) {
            Slot& slot = m_slots[at];
            if (slot.first < 0) {
                if (!insert)
                    return nullptr;
                slot.hash = hash;
                return &slot;
            }
            if (slot.hash == hash && m_set.key(static_cast<size_t>(slot.first), m_kind) == key)
                return &slot;
        }
    }

    const RecordSet& m_set;
    Kind m_kind;
    std::vector<Slot> m_slots;
    std::vector<int> m_next;
};

// The hashes of every key of NEWER and BASE: a table record with none of them can
// neither match nor change, and is not kept. A shared hash only keeps one for nothing.
class HashFilter
{
public:
    explicit HashFilter(const std::vector<const RecordSet*>& sets)
    {
        size_t count = 0;
        for (const RecordSet* set : sets)
            count += set->size() * 2;
        m_slots.assign(tableSize(count), 0);
        for (const RecordSet* set : sets) {
            for (size_t i = 0; i < set->size(); ++i) {
                for (const quint64 hash : (*set)[i].hash) {
                    if (hash != 0)
                        m_slots[place(hash)] = hash;
                }
            }
        }
    }
    bool contains(quint64 hash) const { return hash != 0 && m_slots[place(hash)] == hash; }

private:
    // Where the hash is, or the empty slot where it would go.
    size_t place(quint64 hash) const
    {
        const size_t mask = m_slots.size() - 1;
        size_t at = hash & mask;
        while (m_slots[at] != 0 && m_slots[at] != hash)
            at = (at + 1) & mask;
        return at;
    }
    std::vector<quint64> m_slots;
};

// Where a record stands in its source, for the report: "line 4 of NEWER", "No 9 of BASE".
QString where(const RecordSet& set, int i, const char* source);

// "Field: a -> b; ..." for the fields that differ.
QString differences(const RecordTexts& from, const RecordTexts& to);

// Every record of a directory table or a CSV file, refusing texts the table may not
// hold. Throws AppError naming the file and the reason, and WorkCancelled once
// `progress` is cancelled.
RecordSet readSource(const QString& path, const Progress& progress);

// The table's records that may share a key with NEWER or BASE, read in one pass; the
// rest can neither match nor change. Also the highest number in use.
RecordSet readRelevant(sqlite::Database& db, const HashFilter& wanted, qint64& highest, const Progress& progress);

} // namespace merge
