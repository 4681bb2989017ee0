#include "datatool/links/LinkOperations.h"

#include "directory/Sqlite.h"
#include "directory/TableSchema.h"
#include "errors/AppError.h"
#include "lists/WebAddress.h"

#include <QEventLoop>
#include <QTimer>

namespace links {

namespace {

// How often the check looks at the cancel flag.
constexpr int CancelPollMs = 50;

static_assert(VerdictCount <= Progress::TallyKinds, "every verdict has a tally of its own");

std::vector<StoredRecord> readRecords(const QString& dbPath)
{
    // Opened so that nothing can be written to it.
    sqlite::Database db(dbPath, sqlite::Database::Mode::ReadOnly);
    TableSchema::verify(db);
    std::vector<StoredRecord> records;
    sqlite::Statement st(db, "SELECT No, Name, Url, Country, State, City, Category FROM newspapers ORDER BY No");
    while (st.step()) {
        StoredRecord record;
        record.no = st.int64(0);
        for (int i = 0; i < Field::TextCount; ++i) {
            if (!st.isNull(i + 1)) {
                const std::string_view text = st.text(i + 1);
                record.texts[static_cast<size_t>(i)] = QByteArray(text.data(), static_cast<qsizetype>(text.size()));
            }
        }
        records.push_back(std::move(record));
    }
    return records;
}

// Binds the record as read after the statement's first `first - 1` parameters: No, then
// the six texts, each compared with IS so a blank matches only a blank.
void bindAsRead(sqlite::Statement& st, int first, const StoredRecord& record)
{
    st.bind(first, record.no);
    for (int i = 0; i < Field::TextCount; ++i) {
        const std::optional<QByteArray>& text = record.texts[static_cast<size_t>(i)];
        if (text)
            st.bind(first + 1 + i, *text);
        else
            st.bindNull(first + 1 + i);
    }
}

sqlite::Database openForChanges(const QString& dbPath)
{
    sqlite::Database db(dbPath, sqlite::Database::Mode::ReadWrite);
    TableSchema::verify(db);
    if (db.isReadOnly())
        throw AppError(QStringLiteral("Cannot change %1: the file or its folder is read-only").arg(dbPath));
    return db;
}

} // namespace

QString StoredRecord::text(Field::Position field) const
{
    const std::optional<QByteArray>& stored = texts[static_cast<size_t>(field) - 1];
    return stored ? QString::fromUtf8(*stored) : QString();
}

TableCheck checkTable(const QString& dbPath, const CheckOptions& options, Progress& progress)
{
    TableCheck check;
    std::vector<LinkTarget> targets;
    for (StoredRecord& record : readRecords(dbPath)) {
        targets.push_back({record.no, record.text(Field::Name), record.text(Field::Url)});
        check.records.push_back({std::move(record), std::nullopt});
    }

    LinkChecker checker(std::move(targets), options);
    check.tally.total = static_cast<int>(check.records.size());
    progress.beginStep(0, check.tally.total);
    QObject::connect(&checker, &LinkChecker::checked, &checker, [&](int index) {
        const std::optional<LinkResult>& result = checker.result(static_cast<size_t>(index));
        const auto verdict = static_cast<size_t>(result->verdict);
        ++check.tally.done;
        ++check.tally.counts[verdict];
        // The verdict first, so a reader that sees the count done sees every verdict counted.
        progress.addTally(static_cast<int>(verdict));
        progress.setDone(check.tally.done);
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &checker, [&] {
        if (progress.cancelled())
            checker.stop();
    });
    poll.start(CancelPollMs);
    checker.run();
    poll.stop();
    check.cancelled = checker.wasStopped();
    for (size_t i = 0; i < check.records.size(); ++i)
        check.records[i].result = checker.result(i);
    return check;
}

std::vector<ChangeOutcome> applyNewAddresses(const QString& dbPath, const std::vector<AddressChange>& changes)
{
    std::vector<ChangeOutcome> outcomes;
    outcomes.reserve(changes.size());
    sqlite::Database db = openForChanges(dbPath);
    // Taken before anything is compared, so nobody writes between the comparison and the change.
    sqlite::Transaction transaction(db, true);
    sqlite::Statement update(db, "UPDATE newspapers SET Url = ?1 WHERE No = ?2 AND Name IS ?3 AND Url IS ?4 AND "
                                 "Country IS ?5 AND State IS ?6 AND City IS ?7 AND Category IS ?8");
    for (const AddressChange& change : changes) {
        if (!WebAddress::forBrowser(change.newUrl)) {
            outcomes.push_back(ChangeOutcome::NotAWebAddress);
            continue;
        }
        update.reset();
        update.bind(1, change.newUrl.toUtf8());
        bindAsRead(update, 2, change.record);
        update.run();
        outcomes.push_back(db.changes() == 1 ? ChangeOutcome::Done : ChangeOutcome::ChangedElsewhere);
    }
    transaction.commit();
    return outcomes;
}

std::vector<ChangeOutcome> deleteRecords(const QString& dbPath, const std::vector<StoredRecord>& records)
{
    std::vector<ChangeOutcome> outcomes;
    outcomes.reserve(records.size());
    sqlite::Database db = openForChanges(dbPath);
    sqlite::Transaction transaction(db, true);
    sqlite::Statement remove(db, "DELETE FROM newspapers WHERE No = ?1 AND Name IS ?2 AND Url IS ?3 AND "
                                 "Country IS ?4 AND State IS ?5 AND City IS ?6 AND Category IS ?7");
    for (const StoredRecord& record : records) {
        remove.reset();
        bindAsRead(remove, 1, record);
        remove.run();
        outcomes.push_back(db.changes() == 1 ? ChangeOutcome::Done : ChangeOutcome::ChangedElsewhere);
    }
    transaction.commit();
    return outcomes;
}

} // namespace links
