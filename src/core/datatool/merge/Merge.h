#pragma once

#include "directory/Record.h"
#include "work/Progress.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

// Brings a directory table up to date with a newer directory (a release's starter
// directory, a colleague's CSV) without duplicating what it already has.
//
// Identity: two records are the same newspaper when their web addresses are equal once
// normalised (scheme and host in any letter case, http and https alike, a leading
// "www." and a trailing "/" ignored), or failing that when their names and countries
// are equal ignoring letter case (Unicode case folding). A blank address never
// identifies by address, nor a blank name by name; numbers never identify.
//
// With a base (the directory the table started from) the merge is three-way: what the
// newer directory changed since the base is applied where the table kept the base's
// version, and the table's own changes always win. Without one it only adds.
namespace merge {

enum class Action
{
    Added,
    Updated,
    Removed,
    Conflict, // left as the table has it: both sides differ
    Kept,     // a record of NEWER not used (a repeat, or one the table deleted)
};
constexpr int ActionCount = 5;
QString actionName(Action action);

struct Change
{
    Action action = Action::Added;
    qint64 no = 0;       // the table's record (the number given, for an added one); 0 when none
    RecordTexts fields;  // the record as the table has it after the merge; NEWER's for kept ones
    QString differences; // "Field: a -> b; ..." (the table's or BASE's value, then the other)
    QString reason;
};

struct Result
{
    bool threeWay = false;
    std::vector<Change> changes; // grouped by action, in the order of Action
    qint64 count(Action action) const;
};

struct Options
{
    QString basePath; // empty: no base, a two-way merge
    bool dryRun = false;
    // Called with the whole result before it is committed (in a dry run, before
    // returning); an exception it throws leaves the table as it was.
    std::function<void(const Result&)> beforeCommit;
};

// Merges NEWER (a directory table or a CSV file in the import format) into the table
// at dbPath, all in one write transaction that first reads the table; a dry run opens
// it read-only. Throws AppError naming the file and the reason for an input that
// cannot be read or holds a text the table may not hold (control characters, line
// breaks), and for a write that fails; the table is then as it was. Throws
// DbTool::OutputIsInput when the table is NEWER or BASE itself (unless a dry run).
Result mergeInto(const QString& dbPath, const QString& newerPath, const Options& options = {});

// A merge in two steps, for a window that shows what a merge would do before doing it:
// plan() works it out with the table only read; apply() writes exactly that, all or
// none, provided no other program (nor the window itself) has written to the table
// since. The plan keeps its own connection to the table until it is dropped; it may be
// made on one thread and applied on another, one at a time.
class Plan
{
public:
    Plan(Plan&& other) noexcept;
    Plan& operator=(Plan&& other) noexcept;
    ~Plan();

    // What apply() would do: added, updated, removed, conflicts and kept, with the
    // records concerned.
    const Result& result() const;

private:
    struct State;
    explicit Plan(std::unique_ptr<State> state);
    friend Plan plan(const QString&, const QString&, const QString&, Progress&);
    friend void apply(Plan&, Progress&);
    std::unique_ptr<State> m_state;
};

// basePath empty: a two-way merge. Progress counts four steps: NEWER, BASE and the table
// read, then the records matched. Throws as mergeInto does, and WorkCancelled once the
// progress is cancelled.
Plan plan(const QString& dbPath, const QString& newerPath, const QString& basePath, Progress& progress);
Plan plan(const QString& dbPath, const QString& newerPath, const QString& basePath = QString());

// Writes the plan; progress counts the records written. Throws AppError "Cannot merge
// into DB: it was changed after the merge was planned; nothing was merged" when the
// table is no longer the one planned on, WorkCancelled, and AppError for a failed
// write; the table is then as it was. A plan is applied once at most.
void apply(Plan& plan, Progress& progress);
void apply(Plan& plan);

} // namespace merge
