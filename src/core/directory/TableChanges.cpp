// The table's changes: editing, adding and deleting records (each written at once,
// acting on the record as it was read or not at all), the refresh that follows them,
// and the cache kept beside the stored table.
#include "directory/Table.h"

#include "errors/AppError.h"
#include "work/Progress.h"

#include <algorithm>

void Table::edit()
{
    checkActive();
    if (!m_view.currentSlot())
        throw EngineError(QStringLiteral("There is no current record to modify: the list is empty"));
    if (m_editing)
        return;
    m_editing = true;
    m_editSlot = *m_view.currentSlot();
    m_pending = {};
}

void Table::setField(Field::Position position, const QString& text)
{
    if (!m_editing)
        throw EngineError(QStringLiteral("The table is not being edited"));
    if (position < Field::Name || position > Field::Category)
        throw EngineError(QStringLiteral("Field index out of range: %1").arg(position));
    m_pending[static_cast<std::size_t>(position - 1)] = text.toUtf8();
}

// Writing records.

void Table::commitEdit()
{
    if (!m_editing)
        return;
    // A failed save drops the edit: the file holds the record as it was, and the
    // table is not left stuck in editing.
    m_editing = false;
    const TableConnection::ChangedTexts pending = std::exchange(m_pending, {});
    const Slot slot = m_editSlot;
    const RecordStore& store = m_data->store;

    // Only the fields that differ are written; an edit that changes nothing writes nothing.
    TableConnection::ChangedTexts changed;
    bool any = false;
    for (std::size_t i = 0; i < Field::TextCount; ++i) {
        if (!pending[i])
            continue;
        const auto old = store.text(slot, static_cast<int>(i + 1));
        const std::string_view wanted(pending[i]->constData(), static_cast<std::size_t>(pending[i]->size()));
        const bool same = old ? (*old == wanted && !wanted.empty()) : wanted.empty();
        if (!same) {
            changed[i] = pending[i];
            any = true;
        }
    }
    if (!any)
        return;
    if (!m_connection->update(store, slot, changed))
        refuseStale(slot, QStringLiteral("changed"));

    TableData& data = changeData();
    cacheIsOld();
    data.orders.remove(data.store, slot);
    data.store.replaceTexts(slot, changed);
    data.orders.insert(data.store, slot);
    m_view.rejudge(data.store, slot);
}

void Table::refuseStale(Slot slot, const QString& action)
{
    const RecordStore& store = m_data->store;
    const auto name = store.text(slot, Field::Name);
    const QString shown = name ? QString::fromUtf8(name->data(), static_cast<qsizetype>(name->size()))
                               : QStringLiteral("No %1").arg(store.no(slot));
    const StaleRecordError refusal(QStringLiteral("The newspaper \"%1\" was changed or deleted by another program, "
                                                  "so it was not %2. The list now shows the directory as it is")
                                       .arg(shown, action));
    // The record differs from the file, so the file is read again even if its counter
    // says nothing changed.
    const std::optional<Slot> current = m_view.currentSlot();
    const int oldRow = m_view.current();
    auto show = [this, current, oldRow] {
        withOrder(m_order, [this, current, oldRow] {
            showKeeping(current, oldRow);
            notifyReset();
        });
    };
    if (m_connection && m_connection->sameFile())
        readChanges(show);
    else
        readAgain(show);
    throw refusal;
}

void Table::refresh()
{
    checkActive();
    commitEdit();
    const std::optional<Slot> current = m_view.currentSlot();
    const int oldRow = m_view.current();
    if (changedByOthers()) {
        // Slots do not survive reading the whole file again; numbers do.
        const std::optional<qint64> currentNo =
            current ? std::optional<qint64>(m_data->store.no(*current)) : std::optional<qint64>();
        catchUp([this, current, currentNo, oldRow] {
            withOrder(m_order, [this, current, currentNo, oldRow] {
                const RecordStore& store = m_data->store;
                std::optional<Slot> kept = current;
                if (currentNo && (!kept || *kept >= store.slotCount() || store.no(*kept) != *currentNo)) {
                    const std::vector<Slot>& byNo = byNumber();
                    const auto it = std::lower_bound(byNo.begin(), byNo.end(), *currentNo,
                                                     [&](Slot s, qint64 no) { return store.no(s) < no; });
                    kept = it != byNo.end() && store.no(*it) == *currentNo ? std::optional<Slot>(*it) : std::nullopt;
                }
                showKeeping(kept, oldRow);
                notifyReset();
            });
        });
        return;
    }
    showKeeping(current, oldRow);
    if (m_view.current() < 0 && !m_view.empty())
        m_view.setCurrent(0);
    notifyReset();
}

qint32 Table::appendRecord(const RecordTexts& texts, qint32& lastNo)
{
    checkActive();
    commitEdit();
    std::array<QByteArray, Field::TextCount> utf8;
    for (std::size_t i = 0; i < Field::TextCount; ++i)
        utf8[i] = texts[i].toUtf8();
    const qint32 no = m_connection->append(utf8, lastNo);

    TableData& data = changeData();
    cacheIsOld();
    const Slot slot = data.store.add(no, utf8);
    data.orders.insert(data.store, slot);
    m_view.rejudge(data.store, slot);
    return no;
}

void Table::deleteRecord()
{
    checkActive();
    m_editing = false; // deleting the record drops its pending edit
    m_pending = {};
    const std::optional<Slot> slot = m_view.currentSlot();
    if (!slot)
        throw EngineError(QStringLiteral("There is no record to delete: the list is empty"));
    if (!m_connection->remove(m_data->store, *slot))
        refuseStale(*slot, QStringLiteral("deleted"));

    TableData& data = changeData();
    cacheIsOld();
    data.orders.remove(data.store, *slot);
    data.store.remove(*slot);
    m_view.rejudge(data.store, *slot);
    m_view.eraseCurrent();
    notifyReset();
}

// The cache.

bool Table::saveCache()
{
    finishBackgroundWork();
    m_cacheWork.cancel();
    m_cacheWork.finish();
    m_cacheProblem.clear();
    if (!m_connection) {
        m_cacheProblem = QStringLiteral("the table is not open");
        return false;
    }
    const std::optional<TableFile::Stamp> stamp = m_connection->stampOfWhatWasRead();
    if (!stamp) {
        m_cacheProblem = QStringLiteral("another program changed the table since it was read");
        return false;
    }
    Progress never;
    const TableStorage::CacheWrite written = m_storage->saveCache(*m_data, *stamp, never);
    m_cacheCurrent = written.written;
    m_cacheProblem = written.problem;
    return m_cacheCurrent;
}

void Table::saveCacheInBackground()
{
    if (busy() || m_cacheCurrent || m_cacheWork.busy() || !m_connection)
        return;
    std::optional<TableFile::Stamp> stamp;
    try {
        stamp = m_connection->stampOfWhatWasRead();
    } catch (const AppError&) {
        return; // locked or unreadable now: the next change tries again
    }
    if (!stamp)
        return;
    m_cacheWork.start({QStringLiteral("Saving the cache")},
                      [storage = m_storage, data = std::shared_ptr<const TableData>(m_data), stamp = *stamp,
                       this](Progress& progress) -> BackgroundWork::Completion {
                          const TableStorage::CacheWrite written = storage->saveCache(*data, stamp, progress);
                          return [this, written] {
                              m_cacheCurrent = written.written;
                              if (!written.written)
                                  qWarning("The cache of the directory was not written: %s",
                                           qUtf8Printable(written.problem));
                          };
                      });
}
