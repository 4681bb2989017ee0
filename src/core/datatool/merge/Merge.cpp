#include "datatool/merge/Merge.h"

#include "datatool/CsvRecords.h"
#include "directory/Sqlite.h"
#include "directory/TableSchema.h"
#include "errors/AppError.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace merge {

namespace {

const QString NothingMerged = QStringLiteral("nothing was merged");

struct Rec
{
    qint64 no = 0; // a table's No, a CSV's No (0 when it has none)
    int line = 0;  // a CSV's line; 0 for a table's record
    RecordTexts text;
    std::string url; // identity keys; empty when the field cannot identify
    std::string name;
};

// Where a record stands in its source, for the report: "line 4 of NEWER", "No 9 of BASE".
QString where(const Rec& rec, const char* source)
{
    return rec.line > 0 ? QStringLiteral("line %1 of %2").arg(rec.line).arg(QLatin1String(source))
                        : QStringLiteral("No %1 of %2").arg(rec.no).arg(QLatin1String(source));
}

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
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()))
                             .normalized(QString::NormalizationForm_C)
                             .toCaseFolded();
    out += text.toUtf8().toStdString();
}

// The web address as identity sees it: "HTTPS://WWW.Example.com/News/" and
// "http://example.com/News" are one key, "example.com/news" another.
void addressKey(std::string_view url, std::string& key)
{
    key.clear();
    url = trimmed(url);
    std::string_view rest = url;
    if (const size_t colon = url.find("://"); colon != std::string_view::npos) {
        std::string scheme;
        appendFolded(url.substr(0, colon), scheme);
        if (scheme != "http" && scheme != "https")
            key = scheme + "://";
        rest = url.substr(colon + 3);
    }
    const size_t hostEnd = std::min(rest.find_first_of("/?#"), rest.size());
    std::string host;
    appendFolded(rest.substr(0, hostEnd), host);
    key += std::string_view(host).substr(host.compare(0, 4, "www.") == 0 ? 4 : 0);
    key += rest.substr(hostEnd);
    if (!key.empty() && key.back() == '/')
        key.pop_back();
}

void nameKey(std::string_view name, std::string_view country, std::string& key)
{
    key.clear();
    name = trimmed(name);
    if (name.empty())
        return;
    appendFolded(name, key);
    key += '\x1f';
    appendFolded(trimmed(country), key);
}

void setKeys(Rec& rec)
{
    const QByteArray url = rec.text[Field::Url - 1].toUtf8();
    const QByteArray name = rec.text[Field::Name - 1].toUtf8();
    const QByteArray country = rec.text[Field::Country - 1].toUtf8();
    addressKey(std::string_view(url.constData(), static_cast<size_t>(url.size())), rec.url);
    nameKey(std::string_view(name.constData(), static_cast<size_t>(name.size())),
            std::string_view(country.constData(), static_cast<size_t>(country.size())), rec.name);
}

bool isSqliteFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(16) == QByteArray("SQLite format 3\0", 16);
}

// Every record of a directory table or a CSV file, refusing texts the table may not hold.
std::vector<Rec> readSource(const QString& path)
{
    if (!QFileInfo(path).isFile()) {
        throw AppError(QFileInfo::exists(path) ? QStringLiteral("Cannot read %1: it is not a file").arg(path)
                                               : QStringLiteral("Cannot read %1: the file does not exist").arg(path));
    }
    std::vector<Rec> records;
    if (isSqliteFile(path)) {
        sqlite::Database db(path, sqlite::Database::Mode::ReadOnly);
        TableSchema::verify(db);
        sqlite::Statement st(db, "SELECT No, Name, Url, Country, State, City, Category FROM newspapers ORDER BY No");
        while (st.step()) {
            Rec rec;
            rec.no = st.int64(0);
            for (int i = 0; i < Field::TextCount; ++i)
                rec.text[static_cast<size_t>(i)] = st.string(i + 1);
            if (const QString reason = CsvRecords::refusal(rec.text); !reason.isEmpty())
                throw AppError(QStringLiteral("%1, No %2: %3; %4").arg(path).arg(rec.no).arg(reason, NothingMerged));
            setKeys(rec);
            records.push_back(std::move(rec));
        }
        return records;
    }
    CsvRecords::File csv = CsvRecords::read(path, NothingMerged);
    records.reserve(csv.rows.size());
    for (CsvRecords::Row& row : csv.rows) {
        Rec rec;
        rec.no = row.no;
        rec.line = row.line;
        rec.text = std::move(row.text);
        setKeys(rec);
        records.push_back(std::move(rec));
    }
    return records;
}

// The records sharing each key, in their source's order, with a cursor that moves past
// those already taken, so repeated keys cost no more than a walk along them once.
class Chains
{
public:
    Chains(const std::vector<Rec>& records, std::string Rec::*key)
        : m_next(records.size(), -1)
    {
        for (int i = static_cast<int>(records.size()) - 1; i >= 0; --i) {
            const std::string& k = records[static_cast<size_t>(i)].*key;
            if (k.empty())
                continue;
            auto [slot, inserted] = m_slots.try_emplace(k, Slot{i, i});
            if (!inserted) {
                m_next[static_cast<size_t>(i)] = slot->second.first;
                slot->second = Slot{i, i};
            }
        }
    }

    bool contains(const std::string& key) const { return m_slots.count(key) != 0; }

    // The first record with the key that is not taken yet (-1 when none) and, when all
    // are, the first of them (-1 when no record has the key).
    template <class Taken>
    std::pair<int, int> find(const std::string& key, const Taken& taken)
    {
        const auto slot = m_slots.find(key);
        if (slot == m_slots.end())
            return {-1, -1};
        int& cursor = slot->second.cursor;
        while (cursor >= 0 && taken(cursor))
            cursor = m_next[static_cast<size_t>(cursor)];
        return {cursor, cursor >= 0 ? -1 : slot->second.first};
    }

private:
    struct Slot
    {
        int first;
        int cursor;
    };
    std::unordered_map<std::string, Slot> m_slots;
    std::vector<int> m_next;
};

// Pairs each record of `from` that `use` accepts with a record of the other side: by
// address first, for every record, then by name and country for those still unpaired.
// A record whose only matches are already taken is blocked by the first of them.
template <class Use, class Taken, class Take>
void pairUp(const std::vector<Rec>& from, Chains& urls, Chains& names, const Use& use, const Taken& taken,
            const Take& take, std::vector<int>& partner, std::vector<int>& blocked)
{
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < from.size(); ++i) {
            if (!use(i) || partner[i] >= 0)
                continue;
            const std::string& key = pass == 0 ? from[i].url : from[i].name;
            if (key.empty())
                continue;
            const auto [free, first] = (pass == 0 ? urls : names).find(key, taken);
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

// The table's records that share a key with NEWER or BASE, read in one pass; the rest
// can neither match nor change. Also the highest number in use.
std::vector<Rec> readRelevant(sqlite::Database& db, const std::vector<const Chains*>& keys, qint64& highest)
{
    std::vector<Rec> relevant;
    highest = 0;
    std::string url;
    std::string name;
    sqlite::Statement st(db, "SELECT No, Name, Url, Country, State, City, Category FROM newspapers ORDER BY No");
    while (st.step()) {
        highest = std::max(highest, st.int64(0));
        addressKey(st.text(2), url);
        nameKey(st.text(1), st.text(3), name);
        bool wanted = false;
        for (size_t i = 0; i < keys.size() && !wanted; i += 2)
            wanted = (!url.empty() && keys[i]->contains(url)) || (!name.empty() && keys[i + 1]->contains(name));
        if (!wanted)
            continue;
        Rec rec;
        rec.no = st.int64(0);
        for (int i = 0; i < Field::TextCount; ++i)
            rec.text[static_cast<size_t>(i)] = st.string(i + 1);
        rec.url = url;
        rec.name = name;
        relevant.push_back(std::move(rec));
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
    const std::vector<Rec> newer = readSource(newerPath);
    const std::vector<Rec> base = result.threeWay ? readSource(options.basePath) : std::vector<Rec>();

    // NEWER's own repeats: the first record of a newspaper stands for it.
    const size_t nn = newer.size();
    std::vector<int> repeatOf(nn, -1);
    {
        std::unordered_map<std::string_view, int> seenUrl;
        std::unordered_map<std::string_view, int> seenName;
        for (size_t i = 0; i < nn; ++i) {
            const Rec& n = newer[i];
            const auto url = n.url.empty() ? seenUrl.end() : seenUrl.find(n.url);
            const auto name = n.name.empty() ? seenName.end() : seenName.find(n.name);
            if (url != seenUrl.end())
                repeatOf[i] = url->second;
            else if (name != seenName.end())
                repeatOf[i] = name->second;
            if (repeatOf[i] >= 0)
                continue;
            if (!n.url.empty())
                seenUrl.emplace(n.url, static_cast<int>(i));
            if (!n.name.empty())
                seenName.emplace(n.name, static_cast<int>(i));
        }
    }

    Chains newerUrls(newer, &Rec::url);
    Chains newerNames(newer, &Rec::name);
    Chains baseUrls(base, &Rec::url);
    Chains baseNames(base, &Rec::name);

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
    const std::vector<Rec> table = readRelevant(db, {&newerUrls, &newerNames, &baseUrls, &baseNames}, highest);
    Chains tableUrls(table, &Rec::url);
    Chains tableNames(table, &Rec::name);

    // Who stands for whom: BASE's records in the table, NEWER's in BASE, and NEWER's
    // other records in the table's records that no BASE record has.
    const size_t nb = base.size();
    const size_t nt = table.size();
    std::vector<int> baseInTable(nb, -1), baseBlocked(nb, -1), tableOfBase(nt, -1), tableOfNewer(nt, -1);
    std::vector<int> newerInBase(nn, -1), newerBlockedInBase(nn, -1), baseOfNewer(nb, -1);
    std::vector<int> newerInTable(nn, -1), newerBlockedInTable(nn, -1);
    const auto tableTaken = [&](int t) { return tableOfBase[t] >= 0 || tableOfNewer[t] >= 0; };
    pairUp(
        base, tableUrls, tableNames, [](size_t) { return true; }, tableTaken, [&](int t, int b) { tableOfBase[t] = b; },
        baseInTable, baseBlocked);
    const auto baseTaken = [&](int b) { return baseOfNewer[b] >= 0; };
    const auto takeBase = [&](int b, int n) { baseOfNewer[b] = n; };
    // Repeats come second, so a BASE record only a repeat lists is never taken as removed.
    pairUp(
        newer, baseUrls, baseNames, [&](size_t i) { return repeatOf[i] < 0; }, baseTaken, takeBase, newerInBase,
        newerBlockedInBase);
    std::vector<int> unusedBlocked(nn, -1);
    pairUp(
        newer, baseUrls, baseNames, [&](size_t i) { return repeatOf[i] >= 0; }, baseTaken, takeBase, newerInBase,
        unusedBlocked);
    pairUp(
        newer, tableUrls, tableNames,
        [&](size_t i) { return repeatOf[i] < 0 && newerInBase[i] < 0 && newerBlockedInBase[i] < 0; }, tableTaken,
        [&](int t, int n) { tableOfNewer[t] = n; }, newerInTable, newerBlockedInTable);

    std::vector<qint64> removals;
    std::vector<std::pair<qint64, const RecordTexts*>> updates;
    std::vector<const RecordTexts*> additions;
    auto note = [&](Action action, qint64 no, const RecordTexts& fields, QString diff, QString reason) {
        result.changes.push_back({action, no, fields, std::move(diff), std::move(reason)});
    };
    const QString tableKept = QStringLiteral("kept as DB has it");
    for (size_t i = 0; i < nn; ++i) {
        const Rec& n = newer[i];
        if (repeatOf[i] >= 0) {
            note(Action::Kept, 0, n.text, QString(),
                 QStringLiteral("the same newspaper as %1, which is used instead")
                     .arg(where(newer[repeatOf[i]], "NEWER")));
        } else if (n.url.empty() && n.name.empty()) {
            note(Action::Kept, 0, n.text, QString(),
                 QStringLiteral("it has neither a web address nor a name to be matched by"));
        } else if (newerInBase[i] >= 0) {
            const Rec& b = base[static_cast<size_t>(newerInBase[i])];
            const int t = baseInTable[static_cast<size_t>(newerInBase[i])];
            if (n.text == b.text)
                continue; // NEWER left it alone: whatever the table did stays
            if (t < 0) {
                note(Action::Kept, 0, n.text, differences(b.text, n.text),
                     QStringLiteral("deleted in DB since BASE; NEWER changed it"));
                continue;
            }
            const Rec& d = table[static_cast<size_t>(t)];
            if (d.text == n.text)
                continue; // both made the same change
            if (d.text == b.text) {
                note(Action::Updated, d.no, n.text, differences(d.text, n.text), QString());
                updates.emplace_back(d.no, &n.text);
            } else {
                note(Action::Conflict, d.no, d.text, differences(d.text, n.text),
                     QStringLiteral("changed in both DB and NEWER since BASE; ") + tableKept);
            }
        } else if (newerBlockedInBase[i] >= 0) {
            const int b = newerBlockedInBase[i];
            note(Action::Kept, 0, n.text, QString(),
                 QStringLiteral("it matches %1, which %2 stands for")
                     .arg(where(base[static_cast<size_t>(b)], "BASE"),
                          where(newer[static_cast<size_t>(baseOfNewer[static_cast<size_t>(b)])], "NEWER")));
        } else if (newerInTable[i] >= 0) {
            const Rec& d = table[static_cast<size_t>(newerInTable[i])];
            if (d.text == n.text)
                continue;
            note(Action::Conflict, d.no, d.text, differences(d.text, n.text),
                 result.threeWay ? QStringLiteral("added in both DB and NEWER since BASE, differently; ") + tableKept
                                 : QStringLiteral("it differs from NEWER; without a base, ") + tableKept);
        } else if (newerBlockedInTable[i] >= 0) {
            const size_t t = static_cast<size_t>(newerBlockedInTable[i]);
            const QString owner = tableOfNewer[t] >= 0 ? where(newer[static_cast<size_t>(tableOfNewer[t])], "NEWER")
                                                       : where(base[static_cast<size_t>(tableOfBase[t])], "BASE");
            note(Action::Kept, table[t].no, n.text, QString(),
                 QStringLiteral("it matches No %1 of DB, which %2 stands for").arg(table[t].no).arg(owner));
        } else {
            note(Action::Added, 0, n.text, QString(), QString());
            additions.push_back(&n.text);
        }
    }
    for (size_t i = 0; i < nb; ++i) {
        if (baseOfNewer[i] >= 0 || baseInTable[i] < 0)
            continue; // still in NEWER, or deleted on both sides
        const Rec& b = base[i];
        const Rec& d = table[static_cast<size_t>(baseInTable[i])];
        if (d.text == b.text) {
            note(Action::Removed, d.no, d.text, QString(), QString());
            removals.push_back(d.no);
        } else {
            note(Action::Conflict, d.no, d.text, differences(b.text, d.text),
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
        for (const auto& [no, texts] : updates) {
            update.reset();
            update.bind(1, no);
            for (int i = 0; i < Field::TextCount; ++i)
                update.bindTextOrNull(i + 2, (*texts)[static_cast<size_t>(i)]);
            update.run();
        }
        TableSchema::RecordInserter insert(db);
        next = highest;
        for (const RecordTexts* texts : additions)
            insert.insert(++next, *texts);
    }
    if (options.beforeCommit)
        options.beforeCommit(result);
    if (transaction)
        transaction->commit();
    return result;
}

} // namespace merge
