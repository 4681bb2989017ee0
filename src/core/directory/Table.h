#pragma once

#include "directory/OrderSort.h"
#include "directory/Record.h"
#include "directory/RecordFilter.h"
#include "directory/TableOrders.h"
#include "directory/TableStorage.h"
#include "directory/TableView.h"
#include "work/BackgroundWork.h"

#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <future>
#include <memory>
#include <optional>

// The directory table as the program sees it: a cursor over the records of the file,
// in the order of one field, through the record filter when it is switched on.
//
// The whole file is read into memory when it is opened (or mapped from the cache beside
// it, see TableCache), so searching and ordering a million records stays interactive;
// every change is written to the file at once. The rows the grid shows change only
// when the table re-reads itself: on open, on a filter or order switch, on refresh and
// on delete. A re-read after another program wrote reads only what that program changed.
//
// Its parts: the records and their orders (TableData, shared as a snapshot with work
// beside the window's thread), the view and cursor (TableView), the stored table
// (TableStorage with the connection that writes), and the work beside the window's
// thread (BackgroundWork). Only the thread that owns the table changes any of them.
//
// With background work on, the long parts (reading the file after another program
// wrote it, building an order the first time) run beside the owning thread: the call
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

    // Only while closed. The cache goes beside the table unless setCacheFile says otherwise.
    void setFileName(const QString& path);
    const QString& fileName() const { return m_fileName; }
    void setCacheFile(const QString& path);

    // A failed open leaves the table closed but wanted open: the next operation that
    // needs it tries again instead of reporting a closed table.
    void open();
    // Starts reading the file beside the calling thread, for the next open to take as if
    // it had read the file itself, failures included: the window is built meanwhile.
    void readAhead();
    void close();
    bool active() const { return m_active; }
    // Closed by a failed open, and to be opened again by the next operation.
    bool wantsOpen() const { return !m_active && m_wantOpen; }

    // Told when a call starts and stops waiting for another program's lock.
    void setBusyObserver(TableConnection::BusyObserver observer);

    // The work beside the owning thread: what it does and how far it is.
    BackgroundWork& work() { return m_work; }
    void setBackgroundWork(bool on) { m_work.setBackground(on); }
    bool busy() const { return m_work.busy(); }
    // Waits for background work to end and completes it.
    void finishBackgroundWork() { m_work.finish(); }

    // The order the records are shown in: by No, or by one of the six text fields.
    void setOrder(Field::Position field);
    Field::Position order() const { return m_order; }
    // setOrder(field), then first(). While a large order is built beside, the grid shows
    // its first page at once; the other rows are blank until it is built.
    void setOrderAtFirst(Field::Position field);
    // From how many records setOrderAtFirst shows the first page early (tests lower it).
    static void setFirstPageMinimum(std::size_t records);

    void setOnFilterRecord(FilterRule rule) { m_rule = std::move(rule); }
    // Switching it on with a rule judges this pass by that rule instead of asking for one.
    void setFiltered(bool on, std::shared_ptr<const RecordFilter> rule = nullptr);
    bool filtered() const { return m_filtered; }

    void first();
    void last();
    void moveTo(int row);
    int recordCount() const { return m_view.rowCount(); }
    int currentRow() const { return m_view.current(); }
    bool hasCurrentRecord() const { return m_active && m_view.current() >= 0; }

    // A field of the current record; absent when it is blank or there is no current record.
    FieldValue field(Field::Position position);
    // The current record's fields 1..6 exactly as stored (absent: blank), or nothing
    // when there is no current record.
    std::optional<std::array<std::optional<QByteArray>, Field::TextCount>> storedTexts();

    // Makes current the first record, in the active order and within the filter, whose
    // field equals value exactly (letter case included). Returns whether one was found.
    bool locate(Field::Position position, const QByteArray& utf8Value);
    bool locate(Field::Position position, const QString& value) { return locate(position, value.toUtf8()); }
    // Makes current the record numbered `no` when the view shows it.
    bool locateNumber(qint64 no);
    // The number and name of the first record by No, among all held (whatever the view
    // shows), whose field passes `test`, called on every core at once; a blank field is
    // passed as nothing.
    struct Found
    {
        qint64 no = 0;
        std::optional<QByteArray> name;
    };
    std::optional<Found> firstWhere(Field::Position position,
                                    const std::function<bool(std::optional<std::string_view>)>& test);

    void edit();
    void setField(Field::Position position, const QString& text);
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
    // Returns the number.
    qint32 appendRecord(const RecordTexts& texts, qint32& lastNo);
    void deleteRecord();

    // Counted: while suspended the grid does not follow the table.
    void disableControls();
    void enableControls();
    bool controlsDisabled() const { return m_disabled > 0; }

    // For the grid: the text of a field of the record on a row, empty for a blank.
    QString displayText(int row, Field::Position position) const;

    // Writes the cache when what is held differs from it. saveCache returns once
    // written; the other writes beside the owning thread, and gives up as soon as the
    // records change.
    bool saveCache();
    void saveCacheInBackground();
    // Why the last saveCache wrote nothing.
    const QString& cacheProblem() const { return m_cacheProblem; }
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
    using Then = std::function<void()>;

    void checkActive();
    bool changedByOthers();
    void catchUp(const Then& then);
    void readAgain(const Then& then);
    void readChanges(const Then& then);
    // Builds the order when it is not held (from the sort already begun, if any), then goes on.
    void withOrder(int position, const Then& then, std::shared_ptr<OrderSort::TextSort> begun = nullptr);
    bool textOrderHeld() const;
    void closeAfterFailure();
    void showKeeping(std::optional<Slot> current, int oldRow);
    std::shared_ptr<const RecordFilter> passRule() const;
    void rebuildView();
    void commitEdit();
    [[noreturn]] void refuseStale(Slot slot, const QString& action);
    void setCurrent(int row);
    void notifyReset();
    // The records, for a change: stops the cache writer, the only work that may still read them.
    TableData& changeData();
    // The order by No, built first if need be.
    const std::vector<Slot>& byNumber();
    void cacheIsOld();

    QString m_fileName;
    QString m_cacheFile;
    std::shared_ptr<const TableStorage> m_storage; // immutable, shared with the work that reads
    // A read of m_storage begun by readAhead, for the next open to take.
    std::shared_ptr<std::future<TableStorage::Loaded>> m_readAhead;
    std::unique_ptr<TableConnection> m_connection;
    std::shared_ptr<TableData> m_data = std::make_shared<TableData>();
    TableView m_view;

    bool m_active = false;
    bool m_wantOpen = false;
    TableConnection::BusyObserver m_busyObserver;
    Field::Position m_order = Field::No;
    bool m_filtered = false;
    FilterRule m_rule;

    bool m_editing = false;
    Slot m_editSlot = 0;
    TableConnection::ChangedTexts m_pending;

    int m_disabled = 0;
    bool m_missedReset = false;

    BackgroundWork m_work;
    BackgroundWork m_cacheWork;
    bool m_cacheCurrent = false;
    QString m_cacheProblem;
};
