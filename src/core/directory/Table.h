#pragma once

#include "directory/Record.h"
#include "directory/RecordFilter.h"
#include "directory/RecordStore.h"
#include "directory/Sqlite.h"
#include "directory/TableFile.h"

#include <QObject>
#include <QString>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

// The directory table as the program sees it: a cursor over the records of the file,
// in the order of the active index, through the record filter when it is switched on.
//
// The whole file is read into memory when it is opened (or mapped from the cache beside
// it, see TableCache), so searching and ordering a million records stays interactive;
// every change is written to the file at once. The rows the grid shows change only
// when the table re-reads itself: on open, on a filter or index switch, on refresh and
// on delete. A re-read after another program wrote reads only what that program changed.
//
// With background work on, the long parts (reading the file after another program
// wrote it, building an order the first time) run on a thread of their own: the call
// returns at once, busy() is true until the work is done, and the operation then
// completes as it would have; meanwhile the grid keeps showing the rows as they were.
// Any other call made while busy first waits for the work to end.
class Table : public QObject
{
    Q_OBJECT

public:
    using Slot = RecordStore::Slot;
    using FilterRule = std::function<std::shared_ptr<const RecordFilter>()>;

    explicit Table(QObject* parent = nullptr);
    ~Table() override;

    void setFileName(const QString& path); // only while closed
    const QString& fileName() const { return m_fileName; }

    // A failed open leaves the table closed but wanted open: the next operation that
    // needs it tries again instead of reporting a closed table.
    void open();
    void close();
    bool active() const { return m_active; }

    // Told when a call starts and stops waiting for another program's lock.
    void setBusyObserver(sqlite::Database::BusyObserver observer);

    void setBackgroundWork(bool on);
    bool busy() const { return m_job != nullptr; }
    // Waits for background work to end and completes it.
    void finishBackgroundWork();

    // "" is the primary order (by No); otherwise Name1, Country1, State1, City1, Category1, URL1.
    void setIndexName(const QString& name);
    const QString& indexName() const { return m_indexName; }

    void setOnFilterRecord(FilterRule rule) { m_rule = std::move(rule); }
    void setFiltered(bool on);
    bool filtered() const { return m_filtered; }

    void first();
    void last();
    void moveTo(int row);
    int recordCount() const { return static_cast<int>(m_view.size()); }
    int currentRow() const { return m_current; }
    bool hasCurrentRecord() const { return m_active && m_current >= 0; }

    // Fields of the current record; absent when it is blank or there is no current record.
    FieldValue fieldByName(const QString& name);
    FieldValue field(int position);

    // Makes current the first record, in the active order and within the filter, whose
    // field equals value exactly (letter case included). Returns whether one was found.
    bool locate(const QString& fieldName, const QByteArray& utf8Value);
    bool locate(const QString& fieldName, const QString& value) { return locate(fieldName, value.toUtf8()); }

    void edit();
    void setField(int position, const QString& text);
    bool isEditing() const { return m_editing; }
    // Saves a pending edit, then re-reads: picks up other programs' changes and
    // re-applies the filter, keeping the current record current.
    //
    // Saving an edit and deleting act on the record as it was read, or not at all: when
    // another program has changed or deleted it meanwhile, nothing is written, the table
    // re-reads the file and a StaleRecordError says so.
    void refresh();
    // Appends a record numbered RecordNumbers::next(lastNo, highest number in the file),
    // chosen inside the write transaction; lastNo becomes that number once chosen.
    void appendRecord(const RecordTexts& texts, qint32& lastNo);
    void deleteRecord();

    // Counted: while suspended the grid does not follow the table.
    void disableControls();
    void enableControls();
    bool controlsDisabled() const { return m_disabled > 0; }

    // For the grid: the text of a field of the record on a row, empty for a blank.
    QString displayText(int row, int position) const;

    // Writes the cache beside the table when what is held differs from it. saveCache
    // returns once written; the other writes on a thread of its own, and gives up as
    // soon as the records change.
    bool saveCache();
    void saveCacheInBackground();
    // Whether the cache file holds what is loaded.
    bool cacheIsCurrent() const { return m_cacheCurrent; }

signals:
    // The rows changed as a whole; the current row follows with currentRowChanged.
    void rowsReset();
    void currentRowChanged(int row);
    void busyChanged(bool busy);
    // Background work failed; its message is for the general error report.
    void backgroundFailed(const QString& message);
    // What is held no longer matches the cache file.
    void cacheOutOfDate();

private:
    struct Job;
    using Orders = std::array<std::optional<std::vector<Slot>>, Field::NamedCount>;

    void checkActive();
    bool changedByOthers();
    void loadNow();
    void catchUp(const std::function<void()>& then);
    void readAgain(const std::function<void()>& then);
    void readChanges(const std::function<void()>& then);
    void withOrder(int position, const std::function<void()>& then);
    static void placeInOrder(std::vector<Slot>& order, const std::vector<bool>& moved,
                             const std::vector<std::pair<std::size_t, Slot>>& placement);
    void runJob(std::function<void()> work, std::function<void()> done);
    void completeJob();
    void failed(const QString& message);
    void closeAfterFailure();
    const std::vector<Slot>& order(int position);
    void installOrder(int position, std::vector<Slot> order);
    std::shared_ptr<const RecordFilter> passRule() const;
    void rebuildView();
    void rebuildViewKeeping(std::optional<Slot> current, int oldRow);
    std::optional<Slot> currentSlot() const;
    void judgeAll();
    int rowOf(Slot slot) const;
    int rowAtOrAfter(Slot slot) const;
    int positionOfIndex() const;
    void commitEdit();
    // Runs sql, whose WHERE clause is seenClause(firstSeenParameter), in a write
    // transaction; refuses with refuseStale when it matched no record.
    void writeOverSeen(Slot slot, const QByteArray& sql, int firstSeenParameter, const QString& action,
                       const std::function<void(sqlite::Statement&)>& bindOwn);
    [[noreturn]] void refuseStale(Slot slot, const QString& action);
    void insertIntoOrders(Slot slot);
    void removeFromOrders(Slot slot);
    void judge(Slot slot);
    void setCurrent(int row);
    void notifyReset();
    // Before anything held changes: stops a cache write that reads it.
    void aboutToChange();
    void cancelCacheWrite();

    QString m_fileName;
    sqlite::Database m_db;
    qint64 m_dataVersion = 0;
    TableFile::Stamp m_stamp;
    RecordStore m_store;

    bool m_active = false;
    bool m_wantOpen = false;
    bool m_forceReload = false;
    sqlite::Database::BusyObserver m_busyObserver;
    QString m_indexName;
    bool m_filtered = false;
    FilterRule m_rule;

    // Orders built so far, by field position (0: by No). Kept up to date on every change.
    Orders m_orders;
    // The verdicts of m_judge for every slot, kept up to date on every change.
    std::shared_ptr<const RecordFilter> m_judge;
    std::vector<unsigned char> m_accepted;

    std::vector<Slot> m_view;
    int m_current = -1;

    bool m_editing = false;
    Slot m_editSlot = 0;
    std::array<std::optional<QByteArray>, Field::TextCount> m_pending;

    int m_disabled = 0;
    bool m_missedReset = false;

    bool m_background = false;
    std::unique_ptr<Job> m_job;

    bool m_cacheCurrent = false;
    std::thread m_cacheWriter;
    std::atomic<bool> m_cancelCacheWrite{false};
};
