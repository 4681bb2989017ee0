#include "directory/Table.h"

#include "directory/ChangeReader.h"
#include "directory/OrderSort.h"
#include "directory/SqliteStorage.h"
#include "directory/TableCache.h"
#include "errors/AppError.h"
#include "work/Parallel.h"
#include "work/Progress.h"

#include <QStringList>
#include <algorithm>
#include <atomic>
#include <utility>

namespace {

// A run of records whose collation keys equal the one sought is checked record by
// record; past this many (a name shared by very many records) a scan of the view in
// order finds the first one sooner than placing each candidate in the view.
constexpr std::ptrdiff_t LocateRunLimit = 64;

// Below this many records one core looks through them sooner than two start.
constexpr std::size_t FirstWhereParallelMinimum = 20000;

// An order of this many records takes long enough to build that its first page is shown
// before the rest (see setOrderAtFirst): more than a screen of rows, found among at most
// this many that share the leading bytes of the last of them.
std::atomic<std::size_t> g_firstPageMinimum{250000};
constexpr std::size_t FirstPageRows = 256;
constexpr std::size_t FirstPageCandidates = 16384;

QString sortingBy(int position)
{
    static const char* const names[] = {"Number", "Name", "Web Address", "Country", "State", "City", "Category"};
    return QStringLiteral("Sorting by %1").arg(QLatin1String(names[position]));
}

const QString ReadingTheDirectory = QStringLiteral("Reading the directory");
const QString ReadingTheChanges = QStringLiteral("Reading the changes made by another program");

} // namespace

Table::Table(QObject* parent)
    : QObject(parent)
{
    // Work runs on the calling thread until its owner asks for it beside (see setBackgroundWork).
    m_work.setBackground(false);
    connect(&m_work, &BackgroundWork::busyChanged, this, &Table::busyChanged);
    connect(&m_work, &BackgroundWork::failed, this, &Table::backgroundFailed);
}

Table::~Table()
{
    m_cacheWork.cancel();
    m_work.cancel();
}

void Table::setFileName(const QString& path)
{
    finishBackgroundWork();
    if (m_active)
        throw EngineError(QStringLiteral("Cannot change the file of an open table"));
    if (path == m_fileName)
        return;
    changeData();
    cacheIsOld();
    m_fileName = path;
    m_cacheFile = TableCache::pathFor(path);
    m_readAhead.reset();
    m_storage.reset();
    m_connection.reset();
    m_data = std::make_shared<TableData>();
    m_view.forgetVerdicts();
}

void Table::setCacheFile(const QString& path)
{
    finishBackgroundWork();
    if (m_active)
        throw EngineError(QStringLiteral("Cannot change the cache of an open table"));
    if (path == m_cacheFile)
        return;
    m_cacheFile = path;
    m_readAhead.reset();
    m_storage.reset();
    m_connection.reset(); // read again, from the cache where it now is
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

void Table::setBusyObserver(TableConnection::BusyObserver observer)
{
    m_busyObserver = std::move(observer);
    if (m_connection)
        m_connection->setBusyObserver(m_busyObserver);
}

void Table::closeAfterFailure()
{
    // Still wanted open: the next command reads the file again.
    m_active = false;
    m_view.clear();
    notifyReset();
}

const std::vector<Table::Slot>& Table::byNumber()
{
    if (!m_data->orders.has(Field::No))
        changeData().orders.byNumber(m_data->store);
    return m_data->orders.get(Field::No);
}

TableData& Table::changeData()
{
    m_cacheWork.cancel();
    m_cacheWork.finish();
    return *m_data;
}

void Table::cacheIsOld()
{
    m_cacheCurrent = false;
    emit cacheOutOfDate();
}

// Reading the file.

bool Table::changedByOthers()
{
    return !m_connection || m_connection->changedByOthers();
}

void Table::catchUp(const Then& then)
{
    if (!changedByOthers()) {
        then();
        return;
    }
    if (m_connection && m_connection->sameFile())
        readChanges(then);
    else
        readAgain(then);
}

void Table::readAhead()
{
    if (m_active || m_readAhead || m_fileName.isEmpty())
        return;
    if (!m_storage)
        m_storage = std::make_shared<SqliteStorage>(m_fileName, m_cacheFile);
    m_readAhead =
        std::make_shared<std::future<TableStorage::Loaded>>(std::async(std::launch::async, [storage = m_storage] {
            Progress progress;
            return storage->readAll(progress);
        }));
}

void Table::readAgain(const Then& then)
{
    // Free the old copy first: a million records should not be held twice.
    changeData();
    cacheIsOld();
    m_connection.reset();
    m_data = std::make_shared<TableData>();
    m_view.forgetVerdicts();
    m_view.clear();
    if (m_active)
        notifyReset();
    if (!m_storage)
        m_storage = std::make_shared<SqliteStorage>(m_fileName, m_cacheFile);

    m_work.start(
        {ReadingTheDirectory},
        [this, storage = m_storage, ahead = std::exchange(m_readAhead, nullptr),
         then](Progress& progress) -> BackgroundWork::Completion {
            auto loaded = std::make_shared<TableStorage::Loaded>(ahead ? ahead->get() : storage->readAll(progress));
            return [this, loaded, then] {
                m_connection = std::move(loaded->connection);
                m_connection->setBusyObserver(m_busyObserver);
                m_data = std::move(loaded->data);
                m_cacheCurrent = loaded->fromCache;
                if (!m_cacheCurrent)
                    emit cacheOutOfDate();
                then();
            };
        },
        [this] { closeAfterFailure(); });
}

void Table::readChanges(const Then& then)
{
    byNumber();
    const qint64 mark = m_connection->mark();
    m_work.start(
        {ReadingTheChanges},
        [this, storage = m_storage, data = std::shared_ptr<const TableData>(m_data), mark,
         then](Progress& progress) -> BackgroundWork::Completion {
            auto found = std::make_shared<ChangeReader::Found>(ChangeReader::find(*storage, *data, progress));
            return [this, found, mark, then] {
                if (found->readAgain()) {
                    readAgain(then);
                    return;
                }
                m_connection->noteRead(mark, found->changes.stamp);
                cacheIsOld();
                if (!found->changes.list.empty()) {
                    TableData& data = changeData();
                    for (const Slot slot : ChangeReader::apply(data, *found))
                        m_view.rejudge(data.store, slot);
                }
                then();
            };
        },
        [this] { closeAfterFailure(); });
}

bool Table::textOrderHeld() const
{
    for (int field = Field::Name; field < Field::NamedCount; ++field) {
        if (m_data->orders.has(field))
            return true;
    }
    return false;
}

void Table::withOrder(int position, const Then& then, std::shared_ptr<OrderSort::TextSort> begun)
{
    const std::vector<Slot>& numbers = byNumber();
    if (position == Field::No || m_data->orders.has(position)) {
        then();
        return;
    }
    // The first text order of a table is the one start-up waits for, and memory is to
    // spare while no other is held: it takes the faster way.
    const OrderSort::Scratch scratch = textOrderHeld() ? OrderSort::Scratch::Lean : OrderSort::Scratch::Fast;
    m_work.start(
        {sortingBy(position)},
        [this, data = std::shared_ptr<const TableData>(m_data), numbers = begun ? std::vector<Slot>() : numbers,
         position, scratch, begun = std::move(begun), then](Progress& progress) mutable -> BackgroundWork::Completion {
            const std::size_t total = begun ? data->store.liveCount() : numbers.size();
            progress.beginStep(0, static_cast<qint64>(total));
            std::vector<Slot> sorted;
            if (begun) {
                sorted = begun->finish();
                begun.reset();
            } else {
                sorted = std::move(numbers);
                OrderSort::sortByText(sorted, data->store, position, scratch);
            }
            progress.setDone(static_cast<qint64>(sorted.size()));
            auto order = std::make_shared<std::vector<Slot>>(std::move(sorted));
            return [this, order, position, then] {
                changeData().orders.set(position, std::move(*order));
                cacheIsOld(); // a new order belongs in the cache
                then();
            };
        },
        [this] { closeAfterFailure(); });
}

// Opening, closing and the view.

void Table::open()
{
    if (m_active)
        return;
    finishBackgroundWork();
    m_wantOpen = true;
    catchUp([this] {
        withOrder(m_order, [this] {
            m_active = true;
            rebuildView();
            m_view.setCurrent(m_view.empty() ? -1 : 0);
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
    // The loaded records stay: reopening the same unchanged file is instant.
    auto finish = [this] {
        m_active = false;
        m_view.clear();
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

std::shared_ptr<const RecordFilter> Table::passRule() const
{
    return m_rule ? m_rule() : nullptr;
}

void Table::rebuildView()
{
    m_view.rebuild(m_data->store, m_data->orders.get(m_order), m_filtered ? passRule() : nullptr);
}

void Table::showKeeping(std::optional<Slot> current, int oldRow)
{
    m_view.rebuildKeeping(m_data->store, m_order, m_data->orders.get(m_order), m_filtered ? passRule() : nullptr,
                          current, oldRow);
}

void Table::setOrder(Field::Position field)
{
    finishBackgroundWork();
    if (!m_active) {
        m_order = field;
        if (m_wantOpen)
            open();
        return;
    }
    if (field == m_order)
        return;
    commitEdit();
    m_order = field;
    withOrder(m_order, [this] {
        // Read when the order is there: meanwhile the user may have moved in the grid.
        const std::optional<Slot> current = m_view.currentSlot();
        rebuildView();
        m_view.setCurrent(current ? m_view.rowOf(m_data->store, m_order, *current) : -1);
        if (m_view.current() < 0 && !m_view.empty())
            m_view.setCurrent(0);
        notifyReset();
    });
}

void Table::setOrderAtFirst(Field::Position field)
{
    finishBackgroundWork();
    if (!m_active || !m_work.background() || m_filtered || field == Field::No || field == m_order ||
        m_data->orders.has(field) || textOrderHeld() || m_data->store.liveCount() < g_firstPageMinimum) {
        setOrder(field);
        first();
        return;
    }
    commitEdit();
    m_order = field;
    // The sort's first step, on every core, tells its first page; the rest goes beside.
    auto begun = std::make_shared<OrderSort::TextSort>(byNumber(), m_data->store, field);
    std::optional<std::vector<Slot>> page = begun->first(FirstPageRows, FirstPageCandidates);
    const bool early = page.has_value();
    if (early) {
        m_view.showFirst(std::move(*page), byNumber().size());
        m_view.setCurrent(m_view.empty() ? -1 : 0);
        notifyReset();
    }
    withOrder(
        m_order,
        [this, early] {
            // Meanwhile the user may have moved in the grid, to a row whose record was not
            // known; without the first page the grid still showed the old order.
            const int row = early ? m_view.current() : 0;
            const std::optional<Slot> current = early ? m_view.currentSlot() : std::nullopt;
            rebuildView();
            m_view.setCurrent(current ? m_view.rowOf(m_data->store, m_order, *current)
                                      : std::min(row, m_view.rowCount() - 1));
            notifyReset();
        },
        std::move(begun));
}

void Table::setFirstPageMinimum(std::size_t records)
{
    g_firstPageMinimum = records;
}

void Table::setFiltered(bool on, std::shared_ptr<const RecordFilter> rule)
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
    catchUp([this, rule] {
        withOrder(m_order, [this, rule] {
            m_view.rebuild(m_data->store, m_data->orders.get(m_order),
                           m_filtered ? (rule ? rule : passRule()) : nullptr);
            m_view.setCurrent(m_view.empty() ? -1 : 0);
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
    setCurrent(m_view.rowCount() - 1);
}

void Table::moveTo(int row)
{
    if (!m_active || row < 0 || row >= m_view.rowCount() || row == m_view.current())
        return;
    // While busy nothing is being edited; the grid may still move.
    if (!busy())
        commitEdit();
    setCurrent(row);
}

FieldValue Table::field(Field::Position position)
{
    checkActive();
    const std::optional<Slot> slot = m_view.currentSlot();
    if (!slot)
        return FieldValue();
    if (m_editing && position > 0 && m_pending[static_cast<std::size_t>(position - 1)]) {
        const QByteArray& text = *m_pending[static_cast<std::size_t>(position - 1)];
        return text.isEmpty() ? FieldValue() : FieldValue(QString::fromUtf8(text));
    }
    return m_data->store.value(*slot, position);
}

std::optional<std::array<std::optional<QByteArray>, Field::TextCount>> Table::storedTexts()
{
    checkActive();
    const std::optional<Slot> slot = m_view.currentSlot();
    if (!slot)
        return std::nullopt;
    std::array<std::optional<QByteArray>, Field::TextCount> texts;
    for (int position = Field::Name; position <= Field::Category; ++position) {
        if (const auto text = m_data->store.text(*slot, position))
            texts[static_cast<std::size_t>(position - 1)] =
                QByteArray(text->data(), static_cast<qsizetype>(text->size()));
    }
    return texts;
}

bool Table::locate(Field::Position position, const QByteArray& utf8Value)
{
    checkActive();
    commitEdit();
    if (m_view.empty())
        return false;
    const RecordStore& store = m_data->store;
    const std::string_view wanted(utf8Value.constData(), static_cast<std::size_t>(utf8Value.size()));
    auto matches = [&](Slot s) {
        if (position == Field::No)
            return QByteArray::number(store.no(s)) == utf8Value;
        const auto text = store.text(s, position);
        return text ? *text == wanted : wanted.empty();
    };

    if (position != Field::No && m_data->orders.has(position)) {
        // Exact matches are among the records whose collation key equals the value's.
        // Without the order, the scan below finds it as soon, rather than building it here.
        const auto [from, to] = m_data->orders.equalRun(store, position, wanted);
        if (to - from <= LocateRunLimit) {
            int found = -1;
            for (auto it = from; it != to; ++it) {
                if (matches(*it)) {
                    const int row = m_view.rowOf(store, m_order, *it);
                    if (row >= 0 && (found < 0 || row < found))
                        found = row;
                }
            }
            if (found >= 0)
                setCurrent(found);
            return found >= 0;
        }
    }
    for (int row = 0; row < m_view.rowCount(); ++row) {
        if (matches(m_view.slotAt(row))) {
            setCurrent(row);
            return true;
        }
    }
    return false;
}

bool Table::locateNumber(qint64 no)
{
    checkActive();
    commitEdit();
    const RecordStore& store = m_data->store;
    const std::vector<Slot>& numbers = byNumber();
    const auto at = std::lower_bound(numbers.begin(), numbers.end(), no,
                                     [&](Slot s, qint64 wanted) { return store.no(s) < wanted; });
    if (at == numbers.end() || store.no(*at) != no)
        return false;
    const int row = m_view.rowOf(store, m_order, *at);
    if (row < 0)
        return false;
    setCurrent(row);
    return true;
}

std::optional<Table::Found> Table::firstWhere(Field::Position position,
                                              const std::function<bool(std::optional<std::string_view>)>& test)
{
    checkActive();
    const RecordStore& store = m_data->store;
    const std::vector<Slot>& numbers = byNumber();
    std::vector<std::size_t> firsts(Parallel::partsFor(numbers.size(), FirstWhereParallelMinimum), numbers.size());
    Parallel::onCores(numbers.size(), FirstWhereParallelMinimum, [&](unsigned part, std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            if (test(store.text(numbers[i], position))) {
                firsts[part] = i;
                return;
            }
        }
    });
    const std::size_t first = *std::min_element(firsts.begin(), firsts.end());
    if (first == numbers.size())
        return std::nullopt;
    Found found;
    found.no = store.no(numbers[first]);
    if (const auto name = store.text(numbers[first], Field::Name))
        found.name = QByteArray(name->data(), static_cast<qsizetype>(name->size()));
    return found;
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

QString Table::displayText(int row, Field::Position position) const
{
    if (!m_active || row < 0 || row >= m_view.rowCount())
        return {};
    if (!m_view.known(row))
        return {}; // its order is still being built
    const Slot slot = m_view.slotAt(row);
    if (position == Field::No)
        return QString::number(m_data->store.no(slot));
    const auto text = m_data->store.text(slot, position);
    return text ? QString::fromUtf8(text->data(), static_cast<qsizetype>(text->size())) : QString();
}

void Table::setCurrent(int row)
{
    m_view.setCurrent(row);
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
    emit currentRowChanged(m_view.current());
}
