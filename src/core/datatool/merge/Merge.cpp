#include "datatool/merge/Merge.h"

#include "datatool/CsvRecords.h"
#include "directory/Sqlite.h"
#include "directory/TableSchema.h"
#include "errors/AppError.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace merge {

namespace {

const QString NothingMerged = QStringLiteral("nothing was merged");

enum Kind
{
    ByUrl = 0,
    ByName = 1,
};

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Appends text with letter case folded: ASCII directly, anything else through Unicode's
// case folding after composing accents, so "É" typed either way folds alike.
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

// A record's identity keys, made in buffers reused from one record to the next. A key
// is empty when its field cannot identify.
struct Keys
{
    std::string url;
    std::string name;
    std::string scratch;

    void make(std::string_view address, std::string_view paperName, std::string_view country)
    {
        // The address: "HTTPS://WWW.Example.com/News/" and "http://example.com/News" are
        // one key, "example.com/news" another.
        url.clear();
        address = trimmed(address);
        std::string_view rest = address;
        if (const size_t colon = address.find("://"); colon != std::string_view::npos) {
            scratch.clear();
            appendFolded(address.substr(0, colon), scratch);
            if (scratch != "http" && scratch != "https")
                url = scratch + "://";
            rest = address.substr(colon + 3);
        }
        const size_t hostEnd = std::min(rest.find_first_of("/?#"), rest.size());
        scratch.clear();
        appendFolded(rest.substr(0, hostEnd), scratch);
        url += std::string_view(scratch).substr(scratch.compare(0, 4, "www.") == 0 ? 4 : 0);
        url += rest.substr(hostEnd);
        if (!url.empty() && url.back() == '/')
            url.pop_back();

        name.clear();
        paperName = trimmed(paperName);
        if (!paperName.empty()) {
            appendFolded(paperName, name);
            name += '\x1f';
            appendFolded(trimmed(country), name);
        }
    }
};

// Never 0, which stands for no key.
quint64 hashOf(std::string_view key)
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

size_t tableSize(size_t count)
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
QString where(const RecordSet& set, int i, const char* source)
{
    const RecordSet::Rec& rec = set[static_cast<size_t>(i)];
    return rec.line > 0 ? QStringLiteral("line %1 of %2").arg(rec.line).arg(QLatin1String(source))
                        : QStringLiteral("No %1 of %2").arg(rec.no).arg(QLatin1String(source));
}

bool isSqliteFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(16) == QByteArray("SQLite format 3\0", 16);
}

// Whether UTF-8 text may hold a character the table refuses: a control character, or
// one of the line breaks U+0085, U+2028 and U+2029.
bool mayBeRefused(std::string_view text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f || c == 0xc2 || c == 0xe2)
            return true;
    }
    return false;
}

// Every record of a directory table or a CSV file, refusing texts the table may not hold.
RecordSet readSource(const QString& path)
{
    if (!QFileInfo(path).isFile()) {
        throw AppError(QFileInfo::exists(path) ? QStringLiteral("Cannot read %1: it is not a file").arg(path)
                                               : QStringLiteral("Cannot read %1: the file does not exist").arg(path));
    }
    RecordSet set;
    Keys keys;
    std::array<std::string_view, Field::TextCount> texts;
    if (isSqliteFile(path)) {
        sqlite::Database db(path, sqlite::Database::Mode::ReadOnly);
        TableSchema::verify(db);
        sqlite::Statement st(db, "SELECT No, Name, Url, Country, State, City, Category FROM newspapers ORDER BY No");
        while (st.step()) {
            for (int i = 0; i < Field::TextCount; ++i)
                texts[static_cast<size_t>(i)] = st.text(i + 1);
            if (std::any_of(texts.begin(), texts.end(), mayBeRefused)) {
                RecordTexts check;
                for (int i = 0; i < Field::TextCount; ++i)
                    check[static_cast<size_t>(i)] = st.string(i + 1);
                if (const QString reason = CsvRecords::refusal(check); !reason.isEmpty()) {
                    throw AppError(
                        QStringLiteral("%1, No %2: %3; %4").arg(path).arg(st.int64(0)).arg(reason, NothingMerged));
                }
            }
            keys.make(texts[Field::Url - 1], texts[Field::Name - 1], texts[Field::Country - 1]);
            set.add(st.int64(0), 0, texts, keys);
        }
        return set;
    }
    CsvRecords::read(path, NothingMerged, [&](CsvRecords::Row& row) {
        std::array<QByteArray, Field::TextCount> utf8;
        for (size_t i = 0; i < utf8.size(); ++i) {
            utf8[i] = row.text[i].toUtf8();
            texts[i] = std::string_view(utf8[i].constData(), static_cast<size_t>(utf8[i].size()));
        }
        keys.make(texts[Field::Url - 1], texts[Field::Name - 1], texts[Field::Country - 1]);
        set.add(row.no, row.line, texts, keys);
    });
    return set;
}

// Pairs each record of `from` that `use` accepts with a record of the other side: by
// address first, for every record, then by name and country for those still unpaired.
// A record whose only matches are already taken is blocked by the first of them.
template <class Use, class Taken, class Take>
void pairUp(const RecordSet& from, std::array<KeyIndex, 2>& to, const Use& use, const Taken& taken, const Take& take,
            std::vector<int>& partner, std::vector<int>& blocked)
{
    for (const Kind kind : {ByUrl, ByName}) {
        for (size_t i = 0; i < from.size(); ++i) {
            if (!use(i) || partner[i] >= 0)
                continue;
            const auto [free, first] = to[kind].find(from.key(i, kind), from[i].hash[kind], taken);
            if (free >= 0) {
                partner[i] = free;
                blocked[i] = -1;
                take(free, static_cast<int>(i));
            } else if (first >= 0 && blocked[i] < 0) {
                blocked[i] = first;
            }
        }
    }
}

QString differences(const RecordTexts& from, const RecordTexts& to)
{
    QStringList parts;
    for (int i = 0; i < Field::TextCount; ++i) {
        const QString& a = from[static_cast<size_t>(i)];
        const QString& b = to[static_cast<size_t>(i)];
        if (a != b) {
            parts << QStringLiteral("%1: %2 -> %3")
                         .arg(QLatin1String(Field::columnNames()[i + 1]), a.isEmpty() ? QStringLiteral("(blank)") : a,
                              b.isEmpty() ? QStringLiteral("(blank)") : b);
        }
    }
    return parts.join(QStringLiteral("; "));
}

// The table's records that may share a key with NEWER or BASE, read in one pass; the
// rest can neither match nor change. Also the highest number in use.
RecordSet readRelevant(sqlite::Database& db, const HashFilter& wanted, qint64& highest)
{
    RecordSet relevant;
    highest = 0;
    Keys keys;
    std::array<std::string_view, Field::TextCount> texts;
    sqlite::Statement st(db, "SELECT No, Name, Url, Country, State, City, Category FROM newspapers ORDER BY No");
    while (st.step()) {
        const qint64 no = st.int64(0);
        highest = std::max(highest, no);
        for (int i = 0; i < Field::TextCount; ++i)
            texts[static_cast<size_t>(i)] = st.text(i + 1);
        keys.make(texts[Field::Url - 1], texts[Field::Name - 1], texts[Field::Country - 1]);
        if (wanted.contains(hashOf(keys.url)) || wanted.contains(hashOf(keys.name)))
            relevant.add(no, 0, texts, keys);
    }
    return relevant;
}

} // namespace

QString actionName(Action action)
{
    static const char* const names[ActionCount] = {"added", "updated", "removed", "conflict", "kept"};
    return QLatin1String(names[static_cast<int>(action)]);
}

qint64 Result::count(Action action) const
{
    return std::count_if(changes.begin(), changes.end(), [&](const Change& c) { return c.action == action; });
}

Result mergeInto(const QString& dbPath, const QString& newerPath, const Options& options)
{
    Result result;
    result.threeWay = !options.basePath.isEmpty();
    const RecordSet newer = readSource(newerPath);
    const RecordSet base = result.threeWay ? readSource(options.basePath) : RecordSet();
    const size_t nn = newer.size();
    const size_t nb = base.size();

    // NEWER's own repeats: the first record of a newspaper stands for it.
    std::vector<int> repeatOf(nn, -1);
    {
        std::array<KeyIndex, 2> index{KeyIndex(newer, ByUrl), KeyIndex(newer, ByName)};
        const auto repeated = [&](int j) { return repeatOf[static_cast<size_t>(j)] >= 0; };
        for (size_t i = 0; i < nn; ++i) {
            for (const Kind kind : {ByUrl, ByName}) {
                // The first record with the key that is no repeat; a later one is still undecided.
                const int j = index[kind].find(newer.key(i, kind), newer[i].hash[kind], repeated).first;
                if (j >= 0 && j < static_cast<int>(i)) {
                    repeatOf[i] = j;
                    break;
                }
            }
        }
    }

    // The table is read inside the write transaction, so nobody writes between the read
    // and the merge's own writes.
    sqlite::Database db(dbPath, options.dryRun ? sqlite::Database::Mode::ReadOnly : sqlite::Database::Mode::ReadWrite);
    TableSchema::verify(db);
    if (!options.dryRun && db.isReadOnly())
        throw AppError(QStringLiteral("Cannot merge into %1: the file or its folder is read-only").arg(dbPath));
    std::optional<sqlite::Transaction> transaction;
    if (!options.dryRun)
        transaction.emplace(db, true);
    qint64 highest = 0;
    const RecordSet table = readRelevant(db, HashFilter({&newer, &base}), highest);
    const size_t nt = table.size();

    // Who stands for whom: BASE's records in the table, NEWER's in BASE, and NEWER's
    // other records in the table's records that no BASE record has.
    std::array<KeyIndex, 2> tableIndex{KeyIndex(table, ByUrl), KeyIndex(table, ByName)};
    std::array<KeyIndex, 2> baseIndex{KeyIndex(base, ByUrl), KeyIndex(base, ByName)};
    std::vector<int> baseInTable(nb, -1), baseBlocked(nb, -1), tableOfBase(nt, -1), tableOfNewer(nt, -1);
    std::vector<int> newerInBase(nn, -1), newerBlockedInBase(nn, -1), baseOfNewer(nb, -1);
    std::vector<int> newerInTable(nn, -1), newerBlockedInTable(nn, -1);
    const auto tableTaken = [&](int t) { return tableOfBase[t] >= 0 || tableOfNewer[t] >= 0; };
    pairUp(
        base, tableIndex, [](size_t) { return true; }, tableTaken, [&](int t, int b) { tableOfBase[t] = b; },
        baseInTable, baseBlocked);
    const auto baseTaken = [&](int b) { return baseOfNewer[b] >= 0; };
    const auto takeBase = [&](int b, int n) { baseOfNewer[b] = n; };
    pairUp(
        newer, baseIndex, [&](size_t i) { return repeatOf[i] < 0; }, baseTaken, takeBase, newerInBase,
        newerBlockedInBase);
    // Repeats come second, so a BASE record only a repeat lists is never taken as removed.
    std::vector<int> unusedBlocked(nn, -1);
    pairUp(
        newer, baseIndex, [&](size_t i) { return repeatOf[i] >= 0; }, baseTaken, takeBase, newerInBase, unusedBlocked);
    pairUp(
        newer, tableIndex, [&](size_t i) { return repeatOf[i] < 0 && newerInBase[i] < 0 && newerBlockedInBase[i] < 0; },
        tableTaken, [&](int t, int n) { tableOfNewer[t] = n; }, newerInTable, newerBlockedInTable);

    std::vector<qint64> removals;
    std::vector<std::pair<qint64, size_t>> updates; // the table's No, NEWER's record
    std::vector<size_t> additions;                  // NEWER's records
    auto note = [&](Action action, qint64 no, RecordTexts fields, QString diff, QString reason) {
        result.changes.push_back({action, no, std::move(fields), std::move(diff), std::move(reason)});
    };
    const QString tableKept = QStringLiteral("kept as DB has it");
    for (size_t i = 0; i < nn; ++i) {
        if (repeatOf[i] >= 0) {
            note(Action::Kept, 0, newer.texts(i), QString(),
                 QStringLiteral("the same newspaper as %1, which is used instead")
                     .arg(where(newer, repeatOf[i], "NEWER")));
        } else if (newer.keyless(i)) {
            note(Action::Kept, 0, newer.texts(i), QString(),
                 QStringLiteral("it has neither a web address nor a name to be matched by"));
        } else if (const int b = newerInBase[i]; b >= 0) {
            const int t = baseInTable[static_cast<size_t>(b)];
            if (newer.sameTexts(i, base, static_cast<size_t>(b)))
                continue; // NEWER left it alone: whatever the table did stays
            if (t < 0) {
                note(Action::Kept, 0, newer.texts(i), differences(base.texts(static_cast<size_t>(b)), newer.texts(i)),
                     QStringLiteral("deleted in DB since BASE; NEWER changed it"));
                continue;
            }
            const auto d = static_cast<size_t>(t);
            if (table.sameTexts(d, newer, i))
                continue; // both made the same change
            if (table.sameTexts(d, base, static_cast<size_t>(b))) {
                note(Action::Updated, table[d].no, newer.texts(i), differences(table.texts(d), newer.texts(i)),
                     QString());
                updates.emplace_back(table[d].no, i);
            } else {
                note(Action::Conflict, table[d].no, table.texts(d), differences(table.texts(d), newer.texts(i)),
                     QStringLiteral("changed in both DB and NEWER since BASE; ") + tableKept);
            }
        } else if (const int blockedBy = newerBlockedInBase[i]; blockedBy >= 0) {
            note(Action::Kept, 0, newer.texts(i), QString(),
                 QStringLiteral("it matches %1, which %2 stands for")
                     .arg(where(base, blockedBy, "BASE"),
                          where(newer, baseOfNewer[static_cast<size_t>(blockedBy)], "NEWER")));
        } else if (const int t = newerInTable[i]; t >= 0) {
            const auto d = static_cast<size_t>(t);
            if (table.sameTexts(d, newer, i))
                continue;
            note(Action::Conflict, table[d].no, table.texts(d), differences(table.texts(d), newer.texts(i)),
                 result.threeWay ? QStringLiteral("added in both DB and NEWER since BASE, differently; ") + tableKept
                                 : QStringLiteral("it differs from NEWER; without a base, ") + tableKept);
        } else if (const int taken = newerBlockedInTable[i]; taken >= 0) {
            const auto d = static_cast<size_t>(taken);
            const QString owner =
                tableOfNewer[d] >= 0 ? where(newer, tableOfNewer[d], "NEWER") : where(base, tableOfBase[d], "BASE");
            note(Action::Kept, table[d].no, newer.texts(i), QString(),
                 QStringLiteral("it matches No %1 of DB, which %2 stands for").arg(table[d].no).arg(owner));
        } else {
            note(Action::Added, 0, newer.texts(i), QString(), QString());
            additions.push_back(i);
        }
    }
    for (size_t b = 0; b < nb; ++b) {
        if (baseOfNewer[b] >= 0 || baseInTable[b] < 0)
            continue; // still in NEWER, or deleted on both sides
        const auto d = static_cast<size_t>(baseInTable[b]);
        if (table.sameTexts(d, base, b)) {
            note(Action::Removed, table[d].no, table.texts(d), QString(), QString());
            removals.push_back(table[d].no);
        } else {
            note(Action::Conflict, table[d].no, table.texts(d), differences(base.texts(b), table.texts(d)),
                 QStringLiteral("removed in NEWER but changed in DB since BASE; ") + tableKept);
        }
    }

    // New records are numbered after the highest number the table holds now.
    if (highest + static_cast<qint64>(additions.size()) > RecordNumbers::Highest) {
        throw AppError(QStringLiteral("Cannot merge into %1: the added records would be numbered beyond %2; %3")
                           .arg(dbPath)
                           .arg(RecordNumbers::Highest)
                           .arg(NothingMerged));
    }
    qint64 next = highest;
    for (Change& change : result.changes) {
        if (change.action == Action::Added)
            change.no = ++next;
    }
    std::stable_sort(result.changes.begin(), result.changes.end(),
                     [](const Change& a, const Change& b) { return a.action < b.action; });

    if (!options.dryRun) {
        sqlite::Statement remove(db, "DELETE FROM newspapers WHERE No = ?1");
        for (const qint64 no : removals) {
            remove.reset();
            remove.bind(1, no);
            remove.run();
        }
        sqlite::Statement update(db, "UPDATE newspapers SET Name = ?2, Url = ?3, Country = ?4, State = ?5, City = ?6, "
                                     "Category = ?7 WHERE No = ?1");
        for (const auto& [no, i] : updates) {
            const std::array<QByteArray, Field::TextCount> texts = newer.utf8(i);
            update.reset();
            update.bind(1, no);
            for (size_t f = 0; f < texts.size(); ++f) {
                if (texts[f].isEmpty())
                    update.bindNull(static_cast<int>(f) + 2);
                else
                    update.bind(static_cast<int>(f) + 2, texts[f]);
            }
            update.run();
        }
        TableSchema::RecordInserter insert(db);
        next = highest;
        for (const size_t i : additions)
            insert.insert(++next, newer.utf8(i));
    }
    if (options.beforeCommit)
        options.beforeCommit(result);
    if (transaction)
        transaction->commit();
    return result;
}

} // namespace merge
