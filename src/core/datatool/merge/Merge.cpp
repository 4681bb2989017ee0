#include "datatool/merge/Merge.h"

#include "datatool/OutputFile.h"
#include "datatool/merge/Records.h"
#include "directory/Sqlite.h"
#include "directory/TableFile.h"
#include "directory/TableSchema.h"
#include "errors/AppError.h"

#include <QFile>
#include <algorithm>
#include <optional>
#include <sys/stat.h>

// A merge runs in these steps, each below under its own name:
//   readSources    NEWER and BASE, every record with its identity keys;
//   findRepeats    NEWER's records that list a newspaper NEWER listed before;
//   readRelevant   the table's records that share a key with NEWER or BASE;
//   matchUp        who stands for whom: BASE in the table, NEWER in BASE and the table;
//   decide         what becomes of each record, for the report and for the writes;
//   numberAdded    the added records' numbers, after the table's highest;
//   writeChanges   the removals, updates and additions, in one transaction.
namespace merge {

namespace {

struct Sources
{
    RecordSet newer;
    RecordSet base;
};

// Partners by position in the other side's RecordSet; -1 for none. "Blocked": every
// record the key matched was taken already; the first of them is kept, for the report.
struct NewerLinks
{
    int repeatOf = -1; // an earlier record of NEWER for the same newspaper
    int inBase = -1;
    int blockedInBase = -1;
    int inTable = -1; // only for records BASE has no partner for
    int blockedInTable = -1;
};

struct BaseLinks
{
    int inTable = -1;
    int blockedInTable = -1;
    int newer = -1; // the NEWER record that stands for it
};

struct TableLinks
{
    int base = -1;
    int newer = -1;
    bool taken() const { return base >= 0 || newer >= 0; }
};

struct Links
{
    std::vector<NewerLinks> newer;
    std::vector<BaseLinks> base;
    std::vector<TableLinks> table;
};

// What the merge writes, in this order. Additions are numbered firstAddedNo onwards.
struct Writes
{
    std::vector<qint64> removals;
    std::vector<std::pair<qint64, size_t>> updates; // the table's No, NEWER's record
    std::vector<size_t> additions;                  // NEWER's records
    qint64 firstAddedNo = 0;

    qint64 count() const { return static_cast<qint64>(removals.size() + updates.size() + additions.size()); }
};

struct Decisions
{
    Result result;
    Writes writes;
};

// Progress counts four steps of a plan: NEWER read, BASE read, the table read, the
// records matched.
constexpr qint64 PlanSteps = 4;

Sources readSources(const QString& newerPath, const QString& basePath, Progress& progress)
{
    Sources sources;
    sources.newer = readSource(newerPath, progress);
    progress.setDone(1);
    if (!basePath.isEmpty())
        sources.base = readSource(basePath, progress);
    progress.setDone(2);
    return sources;
}

// The first record of a newspaper stands for it; later ones are repeats.
std::vector<NewerLinks> findRepeats(const RecordSet& newer)
{
    std::vector<NewerLinks> links(newer.size());
    std::array<KeyIndex, 2> index{KeyIndex(newer, ByUrl), KeyIndex(newer, ByName)};
    const auto repeated = [&](int j) { return links[static_cast<size_t>(j)].repeatOf >= 0; };
    for (size_t i = 0; i < newer.size(); ++i) {
        for (const Kind kind : {ByUrl, ByName}) {
            // The first record with the key that is no repeat; a later one is still undecided.
            const int j = index[kind].find(newer.key(i, kind), newer[i].hash[kind], repeated).first;
            if (j >= 0 && j < static_cast<int>(i)) {
                links[i].repeatOf = j;
                break;
            }
        }
    }
    return links;
}

// Pairs each record of `from` that `use` accepts with a record of the other side: by
// address first, for every record, then by name and country for those still unpaired.
// A record whose only matches are already taken is blocked by the first of them
// (`blocked` may be null where that is of no interest).
template <class Link, class Use, class Taken, class Take>
void pairUp(const RecordSet& from, std::array<KeyIndex, 2>& to, std::vector<Link>& links, int Link::*partner,
            int Link::*blocked, const Use& use, const Taken& taken, const Take& take)
{
    for (const Kind kind : {ByUrl, ByName}) {
        for (size_t i = 0; i < from.size(); ++i) {
            Link& link = links[i];
            if (!use(i) || link.*partner >= 0)
                continue;
            const auto [free, first] = to[kind].find(from.key(i, kind), from[i].hash[kind], taken);
            if (free >= 0) {
                link.*partner = free;
                if (blocked)
                    link.*blocked = -1;
                take(free, static_cast<int>(i));
            } else if (first >= 0 && blocked && link.*blocked < 0) {
                link.*blocked = first;
            }
        }
    }
}

// BASE's records in the table, NEWER's in BASE, and NEWER's other records in the
// table's records that no BASE record has.
void matchUp(const Sources& sources, const RecordSet& table, Links& links)
{
    const RecordSet& newer = sources.newer;
    const RecordSet& base = sources.base;
    links.base.assign(base.size(), BaseLinks());
    links.table.assign(table.size(), TableLinks());
    std::array<KeyIndex, 2> tableIndex{KeyIndex(table, ByUrl), KeyIndex(table, ByName)};
    std::array<KeyIndex, 2> baseIndex{KeyIndex(base, ByUrl), KeyIndex(base, ByName)};
    const auto tableTaken = [&](int t) { return links.table[static_cast<size_t>(t)].taken(); };
    const auto baseTaken = [&](int b) { return links.base[static_cast<size_t>(b)].newer >= 0; };
    const auto takeBase = [&](int b, int n) { links.base[static_cast<size_t>(b)].newer = n; };
    const auto repeat = [&](size_t i) { return links.newer[i].repeatOf >= 0; };

    pairUp(
        base, tableIndex, links.base, &BaseLinks::inTable, &BaseLinks::blockedInTable, [](size_t) { return true; },
        tableTaken, [&](int t, int b) { links.table[static_cast<size_t>(t)].base = b; });
    pairUp(
        newer, baseIndex, links.newer, &NewerLinks::inBase, &NewerLinks::blockedInBase,
        [&](size_t i) { return !repeat(i); }, baseTaken, takeBase);
    // Repeats come second, so a BASE record only a repeat lists is never taken as removed.
    pairUp(newer, baseIndex, links.newer, &NewerLinks::inBase, static_cast<int NewerLinks::*>(nullptr), repeat,
           baseTaken, takeBase);
    pairUp(
        newer, tableIndex, links.newer, &NewerLinks::inTable, &NewerLinks::blockedInTable,
        [&](size_t i) {
            const NewerLinks& link = links.newer[i];
            return !repeat(i) && link.inBase < 0 && link.blockedInBase < 0;
        },
        tableTaken, [&](int t, int n) { links.table[static_cast<size_t>(t)].newer = n; });
}

// What becomes of every record of NEWER, then of BASE's records NEWER no longer has.
Decisions decide(const Sources& sources, const RecordSet& table, const Links& links, bool threeWay)
{
    const RecordSet& newer = sources.newer;
    const RecordSet& base = sources.base;
    Decisions decisions;
    decisions.result.threeWay = threeWay;
    Writes& writes = decisions.writes;
    auto note = [&](Action action, qint64 no, RecordTexts fields, QString diff, QString reason) {
        decisions.result.changes.push_back({action, no, std::move(fields), std::move(diff), std::move(reason)});
    };
    const QString tableKept = QStringLiteral("kept as DB has it");
    for (size_t i = 0; i < newer.size(); ++i) {
        const NewerLinks& link = links.newer[i];
        if (link.repeatOf >= 0) {
            note(Action::Kept, 0, newer.texts(i), QString(),
                 QStringLiteral("the same newspaper as %1, which is used instead")
                     .arg(where(newer, link.repeatOf, "NEWER")));
        } else if (newer.keyless(i)) {
            note(Action::Kept, 0, newer.texts(i), QString(),
                 QStringLiteral("it has neither a web address nor a name to be matched by"));
        } else if (const int b = link.inBase; b >= 0) {
            const int t = links.base[static_cast<size_t>(b)].inTable;
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
                writes.updates.emplace_back(table[d].no, i);
            } else {
                note(Action::Conflict, table[d].no, table.texts(d), differences(table.texts(d), newer.texts(i)),
                     QStringLiteral("changed in both DB and NEWER since BASE; ") + tableKept);
            }
        } else if (const int blockedBy = link.blockedInBase; blockedBy >= 0) {
            note(Action::Kept, 0, newer.texts(i), QString(),
                 QStringLiteral("it matches %1, which %2 stands for")
                     .arg(where(base, blockedBy, "BASE"),
                          where(newer, links.base[static_cast<size_t>(blockedBy)].newer, "NEWER")));
        } else if (const int t = link.inTable; t >= 0) {
            const auto d = static_cast<size_t>(t);
            if (table.sameTexts(d, newer, i))
                continue;
            note(Action::Conflict, table[d].no, table.texts(d), differences(table.texts(d), newer.texts(i)),
                 threeWay ? QStringLiteral("added in both DB and NEWER since BASE, differently; ") + tableKept
                          : QStringLiteral("it differs from NEWER; without a base, ") + tableKept);
        } else if (const int taken = link.blockedInTable; taken >= 0) {
            const auto d = static_cast<size_t>(taken);
            const TableLinks& owner = links.table[d];
            const QString ownerName =
                owner.newer >= 0 ? where(newer, owner.newer, "NEWER") : where(base, owner.base, "BASE");
            note(Action::Kept, table[d].no, newer.texts(i), QString(),
                 QStringLiteral("it matches No %1 of DB, which %2 stands for").arg(table[d].no).arg(ownerName));
        } else {
            note(Action::Added, 0, newer.texts(i), QString(), QString());
            writes.additions.push_back(i);
        }
    }
    for (size_t b = 0; b < base.size(); ++b) {
        const BaseLinks& link = links.base[b];
        if (link.newer >= 0 || link.inTable < 0)
            continue; // still in NEWER, or deleted on both sides
        const auto d = static_cast<size_t>(link.inTable);
        if (table.sameTexts(d, base, b)) {
            note(Action::Removed, table[d].no, table.texts(d), QString(), QString());
            writes.removals.push_back(table[d].no);
        } else {
            note(Action::Conflict, table[d].no, table.texts(d), differences(base.texts(b), table.texts(d)),
                 QStringLiteral("removed in NEWER but changed in DB since BASE; ") + tableKept);
        }
    }
    return decisions;
}

// New records are numbered after the highest number the table holds now; the report
// lists them grouped by action.
void numberAdded(Decisions& decisions, qint64 highest, const QString& dbPath)
{
    if (highest + static_cast<qint64>(decisions.writes.additions.size()) > RecordNumbers::Highest) {
        throw AppError(QStringLiteral("Cannot merge into %1: the added records would be numbered beyond %2; %3")
                           .arg(dbPath)
                           .arg(RecordNumbers::Highest)
                           .arg(NothingMerged));
    }
    decisions.writes.firstAddedNo = highest + 1;
    qint64 next = highest;
    std::vector<Change>& changes = decisions.result.changes;
    for (Change& change : changes) {
        if (change.action == Action::Added)
            change.no = ++next;
    }
    std::stable_sort(changes.begin(), changes.end(),
                     [](const Change& a, const Change& b) { return a.action < b.action; });
}

// Reads the table (inside the caller's transaction) and works the merge out.
Decisions workOut(sqlite::Database& db, const QString& dbPath, const Sources& sources, Links& links, bool threeWay,
                  Progress& progress)
{
    qint64 highest = 0;
    const RecordSet table = readRelevant(db, HashFilter({&sources.newer, &sources.base}), highest, progress);
    progress.setDone(3);
    progress.checkCancelled();
    matchUp(sources, table, links);
    Decisions decisions = decide(sources, table, links, threeWay);
    numberAdded(decisions, highest, dbPath);
    progress.setDone(PlanSteps);
    return decisions;
}

void writeChanges(sqlite::Database& db, const RecordSet& newer, const Writes& writes, Progress& progress)
{
    progress.beginStep(0, writes.count());
    qint64 written = 0;
    const auto wrote = [&] {
        progress.setDone(++written);
        if (written % 256 == 0)
            progress.checkCancelled();
    };
    sqlite::Statement remove(db, "DELETE FROM newspapers WHERE No = ?1");
    for (const qint64 no : writes.removals) {
        remove.reset();
        remove.bind(1, no);
        remove.run();
        wrote();
    }
    sqlite::Statement update(db, "UPDATE newspapers SET Name = ?2, Url = ?3, Country = ?4, State = ?5, City = ?6, "
                                 "Category = ?7 WHERE No = ?1");
    for (const auto& [no, i] : writes.updates) {
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
        wrote();
    }
    TableSchema::RecordInserter insert(db);
    qint64 next = writes.firstAddedNo;
    for (const size_t i : writes.additions) {
        insert.insert(next++, newer.utf8(i));
        wrote();
    }
    // The last look: a cancel that came at any time before the commit leaves the table as it was.
    progress.checkCancelled();
}

sqlite::Database openTable(const QString& dbPath, sqlite::Database::Mode mode)
{
    sqlite::Database db(dbPath, mode);
    TableSchema::verify(db);
    if (mode != sqlite::Database::Mode::ReadOnly && db.isReadOnly())
        throw AppError(QStringLiteral("Cannot merge into %1: the file or its folder is read-only").arg(dbPath));
    return db;
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
    if (!options.dryRun)
        DbTool::refuseOutputOnInput(dbPath, {newerPath, options.basePath});
    Progress progress;
    const Sources sources = readSources(newerPath, options.basePath, progress);
    Links links;
    links.newer = findRepeats(sources.newer);

    // The table is read inside the write transaction, so nobody writes between the read
    // and the merge's own writes.
    sqlite::Database db =
        openTable(dbPath, options.dryRun ? sqlite::Database::Mode::ReadOnly : sqlite::Database::Mode::ReadWrite);
    std::optional<sqlite::Transaction> transaction;
    if (!options.dryRun)
        transaction.emplace(db, true);
    Decisions decisions = workOut(db, dbPath, sources, links, !options.basePath.isEmpty(), progress);
    if (!options.dryRun)
        writeChanges(db, sources.newer, decisions.writes, progress);
    if (options.beforeCommit)
        options.beforeCommit(decisions.result);
    if (transaction)
        transaction->commit();
    return std::move(decisions.result);
}

// The plan's own connection, and how to tell the table is still the one it read.
struct Plan::State
{
    QString dbPath;
    RecordSet newer; // the texts the updates and additions write
    Decisions decisions;
    sqlite::Database db;
    qint64 dataVersion = 0;
    TableFile::Stamp stamp;
    bool applied = false;
};

Plan::Plan(std::unique_ptr<State> state)
    : m_state(std::move(state))
{
}
Plan::Plan(Plan&& other) noexcept = default;
Plan& Plan::operator=(Plan&& other) noexcept = default;
Plan::~Plan() = default;

const Result& Plan::result() const
{
    return m_state->decisions.result;
}

Plan plan(const QString& dbPath, const QString& newerPath, const QString& basePath, Progress& progress)
{
    DbTool::refuseOutputOnInput(dbPath, {newerPath, basePath});
    progress.beginStep(0, PlanSteps);
    Sources sources = readSources(newerPath, basePath, progress);
    Links links;
    links.newer = findRepeats(sources.newer);

    auto state = std::make_unique<Plan::State>();
    state->dbPath = dbPath;
    state->db = openTable(dbPath, sqlite::Database::Mode::ReadWrite);
    {
        // The stamp and the version are of the very state the records are read in.
        const TableFile::ReadLock lock(state->db);
        state->stamp = TableFile::readStamp(state->db, dbPath);
        state->dataVersion = state->db.dataVersion();
        state->decisions = workOut(state->db, dbPath, sources, links, !basePath.isEmpty(), progress);
    }
    state->newer = std::move(sources.newer);
    return Plan(std::move(state));
}

Plan plan(const QString& dbPath, const QString& newerPath, const QString& basePath)
{
    Progress progress;
    return plan(dbPath, newerPath, basePath, progress);
}

void apply(Plan& plan)
{
    Progress progress;
    apply(plan, progress);
}

void apply(Plan& plan, Progress& progress)
{
    Plan::State& state = *plan.m_state;
    if (state.applied)
        throw AppError(QStringLiteral("Cannot merge into %1: this merge was applied already").arg(state.dbPath));
    sqlite::Transaction transaction(state.db, true);
    // Another program's commit shows in the version; a file put in the table's place,
    // which the plan's connection would not even see, in the device and inode.
    struct stat info;
    const bool sameFile = ::stat(QFile::encodeName(state.dbPath).constData(), &info) == 0 &&
                          static_cast<quint64>(info.st_dev) == state.stamp.device &&
                          static_cast<quint64>(info.st_ino) == state.stamp.inode;
    if (!sameFile || state.db.dataVersion() != state.dataVersion) {
        throw AppError(
            QStringLiteral("Cannot merge into %1: it was changed after the merge was planned; %2; plan it again")
                .arg(state.dbPath, NothingMerged));
    }
    writeChanges(state.db, state.newer, state.decisions.writes, progress);
    transaction.commit();
    state.applied = true;
}

} // namespace merge
