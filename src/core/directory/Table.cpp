#include "directory/Table.h"

#include "directory/Collation.h"
#include "directory/OrderSort.h"
#include "directory/TableCache.h"
#include "directory/TableSchema.h"
#include "errors/AppError.h"

#include <QFile>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <algorithm>
#include <limits>
#include <sys/stat.h>
#include <tuple>

namespace {

// A run of records whose collation keys equal the one sought is checked record by
// record; past this many (a name shared by very many records) a scan of the view in
// order finds the first one sooner than placing each candidate in the view.
constexpr std::ptrdiff_t LocateRunLimit = 64;

// Below this many records, judging on one core is quicker than starting threads.
constexpr RecordStore::Slot ParallelJudgeMinimum = 50000;

// Room left in the record table and the orders after they are built, so the first
// additions do not move a million entries.
constexpr std::size_t RoomForAdditions = 4096;

// Up to this many records changed by another program are placed into the orders one
// by one; more, and the orders are built again.
constexpr std::size_t MergeMaximum = 1000;

// Past this many changed records, reading the whole file again takes less memory than
// holding the changes.
std::size_t changeLimit(std::size_t records)
{
    return std::max<std::size_t>(100000, records / 4);
}

// Hands the sort's scratch memory back to the system at once; the C library would
// otherwise keep tens of megabytes for later.
void releaseFreeMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

// Whether the path still names the file that was read (it may have been replaced by
// a copy or a restore since).
bool sameFile(const QString& path, const TableFile::Stamp& stamp)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 &&
           static_cast<quint64>(info.st_dev) == stamp.device && static_cast<quint64>(info.st_ino) == stamp.inode;
}

QString messageOf(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const AppError& error) {
        return error.message();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& error) {
        return QString::fromLocal8Bit(error.what());
    }
}

} // namespace

struct Table::Job
{
    std::thread thread;
    std::function<void()> done;
    std::exception_ptr failure;
};

Table::Table(QObject* parent)
    : QObject(parent)
{
}

Table::~Table()
{
    cancelCacheWrite();
    if (m_job && m_job->thread.joinable())
        m_job->thread.join();
}

void Table::setFileName(const QString& path)
{
    finishBackgroundWork();
    if (m_active)
        throw EngineError(QStringLiteral("Cannot change the file of an open table"));
    if (path == m_fileName)
        return;
    aboutToChange();
    m_fileName = path;
    m_db = sqlite::Database();
    m_store.clear();
    m_orders = {};
    m_judge.reset();
    m_accepted.clear();
}

void Table::checkActive()
{
    finishBackgroundWork();
    if (!m_active && m_wantOpen) {
        open();
        finishBackgroundWork();
    }
    if (!m_active)
        throw EngineError(QStringLiteral("Cannot perform this operation on a closed table"));
}

void Table::setBusyObserver(sqlite::Database::BusyObserver observer)
{
    m_busyObserver = std::move(observer);
    if (m_db.isOpen())
        m_db.setBusyObserver(m_busyObserver);
}

void Table::setBackgroundWork(bool on)
{
    finishBackgroundWork();
    m_background = on;
}

// Background work.

void Table::runJob(std::function<void()> work, std::function<void()> done)
{
    if (!m_background) {
        work();
        done();
        return;
    }
    auto job = std::make_unique<Job>();
    job->done = std::move(done);
    Job* started = job.get();
    m_job = std::move(job);
    started->thread = std::thread([this, started, work = std::move(work)] {
        try {
            work();
        } catch (...) {
            started->failure = std::current_exception();
        }
        QMetaObject::invokeMethod(
            this,
            [this, started] {
                if (m_job.get() == started)
                    completeJob();
            },
            Qt::QueuedConnection);
    });
    emit busyChanged(true);
}

void Table::completeJob()
{
    const std::unique_ptr<Job> job = std::move(m_job);
    job->thread.join();
    std::exception_ptr failure = job->failure;
    if (!failure) {
        try {
            job->done();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (failure) {
        closeAfterFailure();
        if (!m_job)
            emit busyChanged(false);
        failed(messageOf(failure));
        return;
    }
    if (!m_job)
        emit busyChanged(false);
}

void Table::finishBackgroundWork()
{
    while (m_job)
        completeJob();
}

void Table::failed(const QString& message)
{
    emit backgroundFailed(message);
}

void Table::closeAfterFailure()
{
    // Still wanted open: the next command reads the file again.
    m_active = false;
    m_view.clear();
    m_current = -1;
    notifyReset();
}

// Reading the file.

bool Table::changedByOthers()
{
    return m_forceReload || !m_db.isOpen() || !sameFile(m_fileName, m_stamp) || m_db.dataVersion() != m_dataVersion;
}

void Table::catchUp(const std::function<void()>& then)
{
    if (!changedByOthers()) {
        then();
        return;
    }
    if (m_forceReload || !m_db.isOpen() || !sameFile(m_fileName, m_stamp))
        readAgain(then);
    else
        readChanges(then);
}

void Table::readAgain(const std::function<void()>& then)
{
    // Free the old copy first: a million records should not be held twice.
    aboutToChange();
    m_db = sqlite::Database();
    m_store.clear();
    m_orders = {};
    m_judge.reset();
    m_accepted.clear();
    m_view.clear();
    m_view.shrink_to_fit();
    m_current = -1;
    if (m_active)
        notifyReset();

    struct Loaded
    {
        sqlite::Database db;
        TableFile::Stamp stamp;
        qint64 dataVersion = 0;
        RecordStore store;
        Orders orders;
        bool fromCache = false;
    };
    auto loaded = std::make_shared<Loaded>();
    const QString path = m_fileName;
    auto work = [loaded, path] {
        loaded->db = sqlite::Database(path, sqlite::Database::Mode::ReadWrite);
        TableSchema::verify(loaded->db);
        const TableFile::ReadLock lock(loaded->db);
        // Noted before reading: a change committed meanwhile shows at the next look.
        loaded->stamp = TableFile::readStamp(loaded->db, path);
        loaded->dataVersion = loaded->db.dataVersion();
        TableCache::Orders cached;
        loaded->fromCache = TableCache::read(path, loaded->stamp, loaded->store, cached);
        if (loaded->fromCache)
            loaded->orders = std::move(cached);
        else
            TableFile::loadAll(loaded->db, path, loaded->stamp, loaded->store);
    };
    auto done = [this, loaded, then] {
        m_db = std::move(loaded->db);
        m_db.setBusyObserver(m_busyObserver);
        m_stamp = loaded->stamp;
        m_dataVersion = loaded->dataVersion;
        m_store = std::move(loaded->store);
        m_orders = std::move(loaded->orders);
        for (auto& built : m_orders) {
            if (built)
                built->reserve(built->size() + RoomForAdditions);
        }
        m_forceReload = false;
        m_cacheCurrent = loaded->fromCache;
        if (!m_cacheCurrent)
            emit cacheOutOfDate();
        then();
    };
    if (m_background) {
        runJob(std::move(work), std::move(done));
        return;
    }
    try {
        work();
    } catch (...) {
        if (m_active)
            closeAfterFailure();
        throw;
    }
    done();
}

void Table::readChanges(const std::function<void()>& then)
{
    // Where each changed or added record goes in each order, found off the window's
    // thread: before which record of the order as it stands (its index there).
    using Placement = std::vector<std::pair<std::size_t, Slot>>;
    struct Read
    {
        TableFile::Changes changes;
        std::array<std::optional<Placement>, Field::NamedCount> placements;
    };
    auto read = std::make_shared<Read>();
    const std::vector<Slot>& byNumber = order(Field::No);
    const qint64 version = m_db.dataVersion();
    auto work = [this, read, &byNumber] {
        read->changes = TableFile::scan(m_fileName, m_store, byNumber, changeLimit(m_store.liveCount()));
        const std::vector<TableFile::Change>& list = read->changes.list;
        if (read->changes.tooMany || list.size() > MergeMaximum)
            return;
        // The slots the store will give the added records, in the order they are added.
        std::vector<Slot> slotOf;
        Slot next = m_store.slotCount();
        for (const TableFile::Change& change : list)
            slotOf.push_back(change.slot ? *change.slot : next++);
        for (int position = Field::Name; position < Field::NamedCount; ++position) {
            if (!m_orders[position])
                continue;
            const std::vector<Slot>& old = *m_orders[position];
            struct Placed
            {
                std::size_t at;
                std::string key;
                qint64 no;
                Slot slot;
            };
            std::vector<Placed> placed;
            for (std::size_t i = 0; i < list.size(); ++i) {
                if (list[i].deleted)
                    continue;
                const auto& text = list[i].texts[static_cast<size_t>(position - 1)];
                Placed p{0, text ? Collation::key(*text) : std::string(), list[i].no, slotOf[i]};
                p.at = static_cast<std::size_t>(std::lower_bound(old.begin(), old.end(), 0,
                                                                 [&](Slot a, int) {
                                                                     return OrderSort::compare(m_store, position, a,
                                                                                               p.key, p.no) < 0;
                                                                 }) -
                                                old.begin());
                placed.push_back(std::move(p));
            }
            // Records placed before the same one go in their own order: by key, then number.
            std::sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
                return std::tie(a.at, a.key, a.no) < std::tie(b.at, b.key, b.no);
            });
            Placement placement;
            for (const Placed& p : placed)
                placement.emplace_back(p.at, p.slot);
            read->placements[position] = std::move(placement);
        }
    };
    auto done = [this, read, version, then] {
        if (read->changes.tooMany) {
            readAgain(then);
            return;
        }
        m_dataVersion = version;
        if (read->changes.stamp != m_stamp || !read->changes.list.empty())
            aboutToChange();
        m_stamp = read->changes.stamp;
        if (read->changes.list.empty()) {
            then();
            return;
        }
        std::vector<Slot> touched;
        for (const TableFile::Change& change : read->changes.list) {
            RecordStore::ExactTexts texts;
            for (int i = 0; i < Field::TextCount; ++i) {
                if (change.texts[static_cast<size_t>(i)])
                    texts[static_cast<size_t>(i)] = *change.texts[static_cast<size_t>(i)];
            }
            if (change.deleted) {
                m_store.remove(*change.slot);
                touched.push_back(*change.slot);
            } else if (change.slot) {
                m_store.setExact(*change.slot, texts);
                touched.push_back(*change.slot);
            } else {
                touched.push_back(m_store.addExact(change.no, texts));
            }
        }
        m_orders[Field::No].reset();
        std::vector<bool> moved(m_store.slotCount(), false);
        for (const TableFile::Change& change : read->changes.list) {
            if (change.slot)
                moved[*change.slot] = true;
        }
        for (int position = Field::Name; position < Field::NamedCount; ++position) {
            if (read->placements[position])
                placeInOrder(*m_orders[position], moved, *read->placements[position]);
            else
                m_orders[position].reset();
        }
        for (const Slot slot : touched)
            judge(slot);
        then();
    };
    runJob(std::move(work), std::move(done));
}

const std::vector<Table::Slot>& Table::order(int position)
{
    if (!m_orders[position]) {
        if (position == Field::No) {
            installOrder(position, OrderSort::byNumber(m_store));
        } else {
            std::vector<Slot> sorted = order(Field::No);
            OrderSort::sortByText(sorted, m_store, position);
            installOrder(position, std::move(sorted));
        }
    }
    return *m_orders[position];
}

void Table::installOrder(int position, std::vector<Slot> order)
{
    if (position != Field::No)
        aboutToChange(); // a new order belongs in the cache
    order.reserve(order.size() + RoomForAdditions);
    m_orders[position] = std::move(order);
    releaseFreeMemory();
}

void Table::placeInOrder(std::vector<Slot>& order, const std::vector<bool>& moved,
                         const std::vector<std::pair<std::size_t, Slot>>& placement)
{
    // In place, so no order is ever held twice: first the moved records leave, each
    // placement's index following; then, from the back, the placed records go in.
    std::size_t kept = 0;
    std::size_t p = 0;
    std::vector<std::size_t> at(placement.size());
    for (std::size_t i = 0; i <= order.size(); ++i) {
        for (; p < placement.size() && placement[p].first == i; ++p)
            at[p] = kept;
        if (i < order.size() && !moved[order[i]])
            order[kept++] = order[i];
    }
    order.resize(kept + placement.size());
    std::size_t write = order.size();
    std::size_t read = kept;
    for (std::size_t q = placement.size(); q-- > 0;) {
        while (read > at[q])
            order[--write] = order[--read];
        order[--write] = placement[q].second;
    }
}

void Table::withOrder(int position, const std::function<void()>& then)
{
    if (position == Field::No || m_orders[position]) {
        order(position);
        then();
        return;
    }
    auto sorted = std::make_shared<std::vector<Slot>>(order(Field::No));
    runJob([this, sorted, position] { OrderSort::sortByText(*sorted, m_store, position); },
           [this, sorted, position, then] {
               installOrder(position, std::move(*sorted));
               then();
           });
}

// Opening, closing and the view.

void Table::open()
{
    if (m_active)
        return;
    finishBackgroundWork();
    m_wantOpen = true;
    catchUp([this] {
        withOrder(positionOfIndex(), [this] {
            m_active = true;
            rebuildView();
            m_current = m_view.empty() ? -1 : 0;
            notifyReset();
        });
    });
}

void Table::close()
{
    finishBackgroundWork();
    m_wantOpen = false;
    if (!m_active)
        return;
    // The loaded records stay as a cache: reopening the same unchanged file is instant.
    auto finish = [this] {
        m_active = false;
        m_view.clear();
        m_view.shrink_to_fit();
        m_current = -1;
        notifyReset();
    };
    try {
        commitEdit();
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

int Table::positionOfIndex() const
{
    return TableSchema::indexPosition(m_indexName);
}

std::shared_ptr<const RecordFilter> Table::passRule() const
{
    return m_rule ? m_rule() : nullptr;
}

void Table::rebuildView()
{
    const std::vector<Slot>& ord = order(positionOfIndex());
    const std::shared_ptr<const RecordFilter> rule = m_filtered ? passRule() : nullptr;
    if (!rule) {
        m_view = ord;
        return;
    }
    if (!m_judge || !rule->sameAs(*m_judge)) {
        m_judge = rule;
        judgeAll();
    }
    // The order's halves are filtered on two cores when it is large: each record's
    // verdict is a read at random.
    const std::size_t n = ord.size();
    const std::size_t half = n >= ParallelJudgeMinimum * 8 ? n / 2 : n;
    std::vector<Slot> second;
    std::thread helper;
    if (half < n) {
        helper = std::thread([&] {
            for (std::size_t i = half; i < n; ++i) {
                if (m_accepted[ord[i]])
                    second.push_back(ord[i]);
            }
        });
    }
    m_view.clear();
    for (std::size_t i = 0; i < half; ++i) {
        if (m_accepted[ord[i]])
            m_view.push_back(ord[i]);
    }
    if (helper.joinable()) {
        helper.join();
        m_view.insert(m_view.end(), second.begin(), second.end());
    }
    m_view.shrink_to_fit();
}

std::optional<Table::Slot> Table::currentSlot() const
{
    return m_current >= 0 && m_current < static_cast<int>(m_view.size()) ? std::optional<Slot>(m_view[m_current])
                                                                         : std::nullopt;
}

void Table::rebuildViewKeeping(std::optional<Slot> current, int oldRow)
{
    rebuildView();
    m_current = -1;
    if (current && *current < m_store.slotCount() && m_store.isLive(*current)) {
        m_current = rowOf(*current);
        // A record that no longer passes the filter leaves its place to the next one.
        if (m_current < 0)
            m_current = rowAtOrAfter(*current);
    }
    if (m_current < 0 && !m_view.empty())
        m_current = std::clamp(oldRow, 0, static_cast<int>(m_view.size()) - 1);
}

void Table::judgeAll()
{
    // In storage order, so the records are read front to back; a large table is
    // split among the processor's cores.
    const Slot count = m_store.slotCount();
    m_accepted.assign(count, 0);
    auto judgeRange = [this](Slot from, Slot to) { m_judge->judge(m_store, from, to, m_accepted.data()); };
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    if (cores == 1 || count < ParallelJudgeMinimum) {
        judgeRange(0, count);
        return;
    }
    std::vector<std::thread> helpers;
    std::vector<std::exception_ptr> failures(cores);
    const Slot share = count / cores;
    for (unsigned part = 1; part < cores; ++part) {
        const Slot from = share * part;
        const Slot to = part + 1 == cores ? count : from + share;
        helpers.emplace_back([&, part, from, to] {
            try {
                judgeRange(from, to);
            } catch (...) {
                failures[part] = std::current_exception();
            }
        });
    }
    try {
        judgeRange(0, share);
    } catch (...) {
        failures[0] = std::current_exception();
    }
    for (std::thread& helper : helpers)
        helper.join();
    for (const std::exception_ptr& failure : failures) {
        if (failure) {
            m_judge.reset();
            std::rethrow_exception(failure);
        }
    }
}

int Table::rowOf(Slot slot) const
{
    const int position = positionOfIndex();
    const std::string key = position == Field::No ? std::string() : OrderSort::key(m_store, slot, position);
    const qint64 no = m_store.no(slot);
    const auto it = std::lower_bound(m_view.begin(), m_view.end(), slot, [&](Slot a, Slot) {
        return OrderSort::compare(m_store, position, a, key, no) < 0;
    });
    if (it != m_view.end() && *it == slot)
        return static_cast<int>(it - m_view.begin());
    // A record edited since the last re-read may sit out of order.
    const auto found = std::find(m_view.begin(), m_view.end(), slot);
    return found == m_view.end() ? -1 : static_cast<int>(found - m_view.begin());
}

int Table::rowAtOrAfter(Slot slot) const
{
    if (m_view.empty())
        return -1;
    const int position = positionOfIndex();
    const std::string key = position == Field::No ? std::string() : OrderSort::key(m_store, slot, position);
    const qint64 no = m_store.no(slot);
    const auto it = std::lower_bound(m_view.begin(), m_view.end(), slot, [&](Slot a, Slot) {
        return OrderSort::compare(m_store, position, a, key, no) < 0;
    });
    return std::min(static_cast<int>(it - m_view.begin()), static_cast<int>(m_view.size()) - 1);
}

void Table::setIndexName(const QString& name)
{
    if (TableSchema::indexPosition(name) < 0)
        throw EngineError(QStringLiteral("Index not found: %1").arg(name));
    finishBackgroundWork();
    if (!m_active) {
        m_indexName = name;
        if (m_wantOpen)
            open();
        return;
    }
    if (name == m_indexName)
        return;
    commitEdit();
    m_indexName = name;
    withOrder(positionOfIndex(), [this] {
        // Read when the order is there: meanwhile the user may have moved in the grid.
        const std::optional<Slot> current = currentSlot();
        rebuildView();
        m_current = current ? rowOf(*current) : -1;
        if (m_current < 0 && !m_view.empty())
            m_current = 0;
        notifyReset();
    });
}

void Table::setFiltered(bool on)
{
    finishBackgroundWork();
    if (!m_active) {
        m_filtered = on;
        if (m_wantOpen)
            open();
        return;
    }
    commitEdit();
    m_filtered = on;
    catchUp([this] {
        withOrder(positionOfIndex(), [this] {
            rebuildView();
            m_current = m_view.empty() ? -1 : 0;
            notifyReset();
        });
    });
}

void Table::first()
{
    checkActive();
    commitEdit();
    setCurrent(m_view.empty() ? -1 : 0);
}

void Table::last()
{
    checkActive();
    commitEdit();
    setCurrent(static_cast<int>(m_view.size()) - 1);
}

void Table::moveTo(int row)
{
    if (!m_active || row < 0 || row >= static_cast<int>(m_view.size()) || row == m_current)
        return;
    // While busy nothing is being edited; the grid may still move.
    if (!busy())
        commitEdit();
    setCurrent(row);
}

FieldValue Table::field(int position)
{
    checkActive();
    if (position < 0 || position >= Field::NamedCount)
        throw EngineError(QStringLiteral("Field index out of range: %1").arg(position));
    if (m_current < 0)
        return FieldValue();
    const Slot slot = m_view[m_current];
    if (m_editing && position > 0 && m_pending[position - 1]) {
        const QByteArray& text = *m_pending[position - 1];
        return text.isEmpty() ? FieldValue() : FieldValue(QString::fromUtf8(text));
    }
    return m_store.value(slot, position);
}

FieldValue Table::fieldByName(const QString& name)
{
    checkActive();
    const int position = Field::positionOf(name);
    if (position < 0)
        throw EngineError(QStringLiteral("Field '%1' not found").arg(name));
    return field(position);
}

bool Table::locate(const QString& fieldName, const QByteArray& utf8Value)
{
    checkActive();
    const int position = Field::positionOf(fieldName);
    if (position < 0)
        throw EngineError(QStringLiteral("Field '%1' not found").arg(fieldName));
    commitEdit();
    if (m_view.empty())
        return false;

    const std::string_view wanted(utf8Value.constData(), static_cast<size_t>(utf8Value.size()));
    auto matches = [&](Slot s) {
        if (position == Field::No)
            return QByteArray::number(m_store.no(s)) == utf8Value;
        const auto text = m_store.text(s, position);
        return text ? *text == wanted : wanted.empty();
    };

    int found = -1;
    if (position != Field::No && m_orders[position]) {
        // Exact matches are among the records whose collation key equals the value's: a
        // short run in that field's order, found by binary search. Without the order, the
        // scan below finds it as soon, rather than building the order here.
        const std::vector<Slot>& ord = *m_orders[position];
        const std::string key = Collation::key(wanted);
        auto it = std::lower_bound(ord.begin(), ord.end(), key, [&](Slot a, const std::string& k) {
            return OrderSort::compare(m_store, position, a, k, std::numeric_limits<qint64>::min()) < 0;
        });
        const auto end = std::upper_bound(it, ord.end(), key, [&](const std::string& k, Slot a) {
            return OrderSort::compare(m_store, position, a, k, std::numeric_limits<qint64>::max()) > 0;
        });
        if (end - it <= LocateRunLimit) {
            for (; it != end; ++it) {
                if (matches(*it)) {
                    const int row = rowOf(*it);
                    if (row >= 0 && (found < 0 || row < found))
                        found = row;
                }
            }
            if (found >= 0)
                setCurrent(found);
            return found >= 0;
        }
    }
    for (std::size_t row = 0; row < m_view.size(); ++row) {
        if (matches(m_view[row])) {
            setCurrent(static_cast<int>(row));
            return true;
        }
    }
    return false;
}

void Table::edit()
{
    checkActive();
    if (m_current < 0)
        throw EngineError(QStringLiteral("There is no current record to modify: the list is empty"));
    if (m_editing)
        return;
    m_editing = true;
    m_editSlot = m_view[m_current];
    m_pending = {};
}

void Table::setField(int position, const QString& text)
{
    if (!m_editing)
        throw EngineError(QStringLiteral("The table is not being edited"));
    if (position < Field::Name || position > Field::Category)
        throw EngineError(QStringLiteral("Field index out of range: %1").arg(position));
    m_pending[position - 1] = text.toUtf8();
}

// The cache.

bool Table::saveCache()
{
    finishBackgroundWork();
    cancelCacheWrite();
    if (!m_db.isOpen() || changedByOthers())
        return false;
    TableFile::Stamp stamp;
    {
        const TableFile::ReadLock lock(m_db);
        if (m_db.dataVersion() != m_dataVersion)
            return false;
        stamp = TableFile::readStamp(m_db, m_fileName);
    }
    const std::atomic<bool> never{false};
    m_cacheCurrent = TableCache::write(m_fileName, stamp, m_store, m_orders, never);
    return m_cacheCurrent;
}

void Table::saveCacheInBackground()
{
    if (busy() || m_cacheCurrent || m_cacheWriter.joinable() || !m_db.isOpen())
        return;
    TableFile::Stamp stamp;
    try {
        if (changedByOthers())
            return;
        // Taken under a read lock, so the stamp is of the very state the records show.
        const TableFile::ReadLock lock(m_db);
        if (m_db.dataVersion() != m_dataVersion)
            return;
        stamp = TableFile::readStamp(m_db, m_fileName);
    } catch (const AppError&) {
        return; // locked or unreadable: the next chance will do
    }
    m_cancelCacheWrite = false;
    m_cacheWriter = std::thread([this, stamp] {
        const bool written = TableCache::write(m_fileName, stamp, m_store, m_orders, m_cancelCacheWrite);
        QMetaObject::invokeMethod(
            this,
            [this, written] {
                // A change since then has joined the writer already and marked the cache old.
                if (m_cacheWriter.joinable()) {
                    m_cacheWriter.join();
                    m_cacheCurrent = written;
                }
            },
            Qt::QueuedConnection);
    });
}

void Table::cancelCacheWrite()
{
    if (!m_cacheWriter.joinable())
        return;
    m_cancelCacheWrite = true;
    m_cacheWriter.join();
    m_cancelCacheWrite = false;
}

void Table::aboutToChange()
{
    cancelCacheWrite();
    m_cacheCurrent = false;
    emit cacheOutOfDate();
}

// Writing records.

namespace {

// "No = ?n AND Name IS ?n+1 AND ..." for the seven fields as the program read them; IS
// also matches a blank (NULL) against a blank.
QByteArray seenClause(int firstParameter)
{
    QByteArray clause;
    for (int position = 0; position < Field::NamedCount; ++position) {
        if (position > 0)
            clause += " AND ";
        clause += QByteArray(Field::columnNames()[position]) + (position == Field::No ? " = ?" : " IS ?") +
                  QByteArray::number(firstParameter + position);
    }
    return clause;
}

void bindSeen(sqlite::Statement& st, int firstParameter, const RecordStore& store, RecordStore::Slot slot)
{
    st.bind(firstParameter, store.no(slot));
    for (int position = Field::Name; position < Field::NamedCount; ++position) {
        if (const auto text = store.text(slot, position))
            st.bind(firstParameter + position, QByteArray(text->data(), static_cast<qsizetype>(text->size())));
        else
            st.bindNull(firstParameter + position);
    }
}

std::string_view view(const QByteArray& bytes)
{
    return std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()));
}

} // namespace

void Table::commitEdit()
{
    if (!m_editing)
        return;
    // A failed save drops the edit: the file holds the record as it was, and the
    // table is not left stuck in editing.
    m_editing = false;
    const auto pending = std::exchange(m_pending, {});
    const Slot slot = m_editSlot;

    // Only the fields that differ are written; an edit that changes nothing writes nothing.
    std::array<std::optional<QByteArray>, Field::TextCount> changed;
    QByteArray sql = "UPDATE newspapers SET ";
    int bindings = 0;
    for (int i = 0; i < Field::TextCount; ++i) {
        if (!pending[i])
            continue;
        const auto old = m_store.text(slot, i + 1);
        const bool same = old ? (*old == view(*pending[i]) && !pending[i]->isEmpty()) : pending[i]->isEmpty();
        if (same)
            continue;
        if (bindings > 0)
            sql += ", ";
        sql += QByteArray(Field::columnNames()[i + 1]) + " = ?" + QByteArray::number(++bindings);
        changed[i] = pending[i];
    }
    if (bindings == 0)
        return;
    sql += " WHERE " + seenClause(bindings + 1);

    writeOverSeen(slot, sql, bindings + 1, QStringLiteral("changed"), [&](sqlite::Statement& st) {
        int index = 0;
        for (const auto& value : changed) {
            if (!value)
                continue;
            ++index;
            if (value->isEmpty())
                st.bindNull(index);
            else
                st.bind(index, *value);
        }
    });

    aboutToChange();
    removeFromOrders(slot);
    m_store.replaceTexts(slot, changed);
    insertIntoOrders(slot);
    judge(slot);
}

void Table::writeOverSeen(Slot slot, const QByteArray& sql, int firstSeenParameter, const QString& action,
                          const std::function<void(sqlite::Statement&)>& bindOwn)
{
    bool written = false;
    {
        sqlite::Transaction transaction(m_db, true);
        sqlite::Statement st(m_db, view(sql));
        bindOwn(st);
        bindSeen(st, firstSeenParameter, m_store, slot);
        st.run();
        written = m_db.changes() > 0;
        if (written)
            transaction.commit();
    }
    if (!written)
        refuseStale(slot, action);
}

void Table::refuseStale(Slot slot, const QString& action)
{
    const auto name = m_store.text(slot, Field::Name);
    const QString shown = name ? QString::fromUtf8(name->data(), static_cast<qsizetype>(name->size()))
                               : QStringLiteral("No %1").arg(m_store.no(slot));
    const StaleRecordError refusal(QStringLiteral("The newspaper \"%1\" was changed or deleted by another program, "
                                                  "so it was not %2. The list now shows the directory as it is")
                                       .arg(shown, action));
    // The record differs from the file, so the file is read again even if its counter
    // says nothing changed.
    const std::optional<Slot> current = currentSlot();
    const int oldRow = m_current;
    auto show = [this, current, oldRow] {
        withOrder(positionOfIndex(), [this, current, oldRow] {
            rebuildViewKeeping(current, oldRow);
            notifyReset();
        });
    };
    if (m_db.isOpen() && sameFile(m_fileName, m_stamp))
        readChanges(show);
    else
        readAgain(show);
    throw refusal;
}

void Table::insertIntoOrders(Slot slot)
{
    const qint64 no = m_store.no(slot);
    for (int position = 0; position < Field::NamedCount; ++position) {
        if (!m_orders[position])
            continue;
        auto& ord = *m_orders[position];
        const std::string key = position == Field::No ? std::string() : OrderSort::key(m_store, slot, position);
        const auto it = std::upper_bound(ord.begin(), ord.end(), slot, [&](Slot, Slot b) {
            return OrderSort::compare(m_store, position, b, key, no) > 0;
        });
        ord.insert(it, slot);
    }
}

void Table::removeFromOrders(Slot slot)
{
    const qint64 no = m_store.no(slot);
    for (int position = 0; position < Field::NamedCount; ++position) {
        if (!m_orders[position])
            continue;
        auto& ord = *m_orders[position];
        const std::string key = position == Field::No ? std::string() : OrderSort::key(m_store, slot, position);
        auto it = std::lower_bound(ord.begin(), ord.end(), slot,
                                   [&](Slot a, Slot) { return OrderSort::compare(m_store, position, a, key, no) < 0; });
        if (it == ord.end() || *it != slot)
            it = std::find(ord.begin(), ord.end(), slot);
        if (it != ord.end())
            ord.erase(it);
    }
}

void Table::judge(Slot slot)
{
    if (!m_judge)
        return;
    if (m_accepted.size() < m_store.slotCount()) {
        m_accepted.reserve(m_store.slotCount() + RoomForAdditions);
        m_accepted.resize(m_store.slotCount(), 0);
    }
    m_accepted[slot] = m_store.isLive(slot) && m_judge->accept(m_store, slot);
}

void Table::refresh()
{
    checkActive();
    commitEdit();
    const std::optional<Slot> current = currentSlot();
    const int oldRow = m_current;
    if (changedByOthers()) {
        // Slots do not survive reading the whole file again; numbers do.
        const std::optional<qint64> currentNo =
            current ? std::optional<qint64>(m_store.no(*current)) : std::optional<qint64>();
        catchUp([this, current, currentNo, oldRow] {
            withOrder(positionOfIndex(), [this, current, currentNo, oldRow] {
                std::optional<Slot> kept = current;
                if (currentNo && (!kept || *kept >= m_store.slotCount() || m_store.no(*kept) != *currentNo)) {
                    const std::vector<Slot>& byNo = order(Field::No);
                    const auto it = std::lower_bound(byNo.begin(), byNo.end(), *currentNo,
                                                     [&](Slot s, qint64 no) { return m_store.no(s) < no; });
                    kept = it != byNo.end() && m_store.no(*it) == *currentNo ? std::optional<Slot>(*it) : std::nullopt;
                }
                rebuildViewKeeping(kept, oldRow);
                notifyReset();
            });
        });
        return;
    }
    rebuildViewKeeping(current, oldRow);
    if (m_current < 0 && !m_view.empty())
        m_current = 0;
    notifyReset();
}

void Table::appendRecord(const RecordTexts& texts, qint32& lastNo)
{
    checkActive();
    commitEdit();
    std::array<QByteArray, Field::TextCount> utf8;
    for (int i = 0; i < Field::TextCount; ++i)
        utf8[i] = texts[i].toUtf8();

    qint32 no = 0;
    {
        // The number is taken inside the write transaction, so a record another copy
        // adds meanwhile can never get the same one.
        sqlite::Transaction transaction(m_db, true);
        qint64 highest = 0;
        {
            sqlite::Statement st(m_db, "SELECT max(No) FROM newspapers");
            if (st.step() && !st.isNull(0))
                highest = st.int64(0);
        }
        no = RecordNumbers::next(lastNo, highest);
        lastNo = no; // kept even if the insert fails: numbers are not reused within a run
        TableSchema::RecordInserter(m_db).insert(no, utf8);
        transaction.commit();
    }

    aboutToChange();
    const Slot slot = m_store.add(no, utf8);
    insertIntoOrders(slot);
    judge(slot);
}

void Table::deleteRecord()
{
    checkActive();
    m_editing = false; // deleting the record drops its pending edit
    m_pending = {};
    if (m_current < 0)
        throw EngineError(QStringLiteral("There is no record to delete: the list is empty"));
    const Slot slot = m_view[m_current];
    writeOverSeen(slot, "DELETE FROM newspapers WHERE " + seenClause(1), 1, QStringLiteral("deleted"),
                  [](sqlite::Statement&) {});

    aboutToChange();
    removeFromOrders(slot);
    m_store.remove(slot);
    if (slot < m_accepted.size())
        m_accepted[slot] = 0;
    m_view.erase(m_view.begin() + m_current);
    if (m_current >= static_cast<int>(m_view.size()))
        m_current = static_cast<int>(m_view.size()) - 1;
    notifyReset();
}

void Table::disableControls()
{
    ++m_disabled;
}

void Table::enableControls()
{
    if (m_disabled > 0)
        --m_disabled;
    if (m_disabled == 0 && m_missedReset)
        notifyReset();
}

QString Table::displayText(int row, int position) const
{
    if (!m_active || row < 0 || row >= static_cast<int>(m_view.size()))
        return {};
    const Slot slot = m_view[row];
    if (position == Field::No)
        return QString::number(m_store.no(slot));
    const auto text = m_store.text(slot, position);
    return text ? QString::fromUtf8(text->data(), static_cast<qsizetype>(text->size())) : QString();
}

void Table::setCurrent(int row)
{
    m_current = row;
    if (m_disabled > 0) {
        m_missedReset = true;
        return;
    }
    emit currentRowChanged(row);
}

void Table::notifyReset()
{
    if (m_disabled > 0) {
        m_missedReset = true;
        return;
    }
    m_missedReset = false;
    emit rowsReset();
    emit currentRowChanged(m_current);
}
