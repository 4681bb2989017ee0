#include "directory/Sqlite.h"

#include "errors/AppError.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <sqlite3.h>

namespace sqlite {

namespace {
// Long enough for a second copy's short write to finish first.
std::atomic<int> g_busyTimeoutMs{3000};
} // namespace

struct Database::BusyState
{
    int timeoutMs = 3000;
    BusyObserver observer;
    bool waiting = false;
    QElapsedTimer clock;
};

void Database::setDefaultBusyTimeout(int milliseconds)
{
    g_busyTimeoutMs = std::max(0, milliseconds);
}

int Database::defaultBusyTimeout()
{
    return g_busyTimeoutMs;
}

int Database::onBusy(void* state, int attempts)
{
    auto* busy = static_cast<BusyState*>(state);
    if (attempts == 0) {
        busy->clock.start();
        if (!busy->waiting && busy->observer) {
            busy->waiting = true;
            busy->observer(true);
        }
    }
    const qint64 left = busy->timeoutMs - busy->clock.elapsed();
    if (left <= 0)
        return 0;
    // Short naps first, as a lock is usually held for a moment only.
    sqlite3_sleep(static_cast<int>(std::min<qint64>(left, attempts < 10 ? 2 + attempts * 2 : 25)));
    return 1;
}

void Database::setBusyTimeout(int milliseconds)
{
    if (m_busy)
        m_busy->timeoutMs = std::max(0, milliseconds);
}

void Database::setBusyObserver(BusyObserver observer)
{
    if (!m_busy)
        m_busy = std::make_unique<BusyState>();
    m_busy->observer = std::move(observer);
}

void Database::endWait() noexcept
{
    if (m_busy && m_busy->waiting) {
        m_busy->waiting = false;
        if (m_busy->observer)
            m_busy->observer(false);
    }
}

Database::Database() = default;

Database::Database(const QString& path, Mode mode)
    : m_path(path)
    , m_busy(std::make_unique<BusyState>())
{
    if (mode != Mode::Create && !QFileInfo(path).isFile()) {
        throw EngineError(QFileInfo::exists(path)
                              ? QStringLiteral("Cannot open %1: it is not a file").arg(path)
                              : QStringLiteral("Cannot open %1: the file does not exist").arg(path));
    }
    // Each connection is used by one thread only, so SQLite need not lock it on every call.
    int flags = (mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    if (mode == Mode::Create)
        flags |= SQLITE_OPEN_CREATE;
    const QByteArray name = path.toUtf8();
    const int rc = sqlite3_open_v2(name.constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString reason = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(rc));
        close();
        throw EngineError(QStringLiteral("Cannot open %1: %2").arg(path, reason));
    }
    sqlite3_extended_result_codes(m_db, 1);
    m_busy->timeoutMs = g_busyTimeoutMs;
    sqlite3_busy_handler(m_db, &Database::onBusy, m_busy.get());
}

Database::~Database()
{
    close();
}

Database::Database(Database&& other) noexcept
    : m_db(other.m_db)
    , m_path(std::move(other.m_path))
    , m_busy(std::move(other.m_busy))
{
    other.m_db = nullptr;
}

Database& Database::operator=(Database&& other) noexcept
{
    if (this != &other) {
        close();
        m_db = other.m_db;
        m_path = std::move(other.m_path);
        m_busy = std::move(other.m_busy);
        other.m_db = nullptr;
    }
    return *this;
}

void Database::close() noexcept
{
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

void Database::exec(const char* sql)
{
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    endWait();
    if (rc != SQLITE_OK)
        fail(QStringLiteral("Cannot write to"), rc);
}

qint64 Database::dataVersion()
{
    Statement st(*this, "PRAGMA data_version");
    return st.step() ? st.int64(0) : 0;
}

bool Database::isReadOnly() const
{
    return sqlite3_db_readonly(m_db, "main") == 1;
}

int Database::changes() const
{
    return sqlite3_changes(m_db);
}

void Database::fail(const QString& what) const
{
    fail(what, sqlite3_extended_errcode(m_db));
}

void Database::fail(const QString& what, int code) const
{
    QString reason = QString::fromUtf8(sqlite3_errmsg(m_db));
    switch (code & 0xff) {
    case SQLITE_READONLY:
        reason = QStringLiteral("the file or its folder is read-only");
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        reason = QStringLiteral("the file is locked by another program; try again in a moment");
        break;
    case SQLITE_NOTADB:
        reason = QStringLiteral("the file is not a database");
        break;
    case SQLITE_CORRUPT:
        reason = QStringLiteral("the database file is damaged");
        break;
    case SQLITE_FULL:
        reason = QStringLiteral("the disk is full");
        break;
    case SQLITE_CANTOPEN:
        // Typically the journal cannot be created beside a write-protected file.
        reason = QStringLiteral("the file or its folder cannot be written");
        break;
    default:
        break;
    }
    throw EngineError(QStringLiteral("%1 %2: %3").arg(what, m_path, reason));
}

Statement::Statement(Database& db, std::string_view sql)
    : m_db(db)
{
    const int rc = sqlite3_prepare_v2(db.handle(), sql.data(), static_cast<int>(sql.size()), &m_stmt, nullptr);
    if (rc != SQLITE_OK)
        db.fail(QStringLiteral("Cannot read"), rc);
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

void Statement::bindNull(int index)
{
    sqlite3_bind_null(m_stmt, index);
}

void Statement::bind(int index, qint64 value)
{
    sqlite3_bind_int64(m_stmt, index, value);
}

void Statement::bind(int index, const QByteArray& utf8)
{
    sqlite3_bind_text(m_stmt, index, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
}

void Statement::bindBlob(int index, std::string_view bytes)
{
    // A zero-length blob, not NULL: an empty text is not a blank.
    static const char nothing = 0;
    const int rc =
        sqlite3_bind_blob64(m_stmt, index, bytes.empty() ? &nothing : bytes.data(), bytes.size(), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK)
        m_db.fail(QStringLiteral("Cannot bind a value in"), rc);
}

void Statement::bindTextOrNull(int index, const QString& text)
{
    if (text.isEmpty())
        bindNull(index);
    else
        bind(index, text.toUtf8());
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_stmt);
    m_db.endWait();
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    const bool writing = !sqlite3_stmt_readonly(m_stmt);
    sqlite3_reset(m_stmt);
    m_db.fail(writing ? QStringLiteral("Cannot write to") : QStringLiteral("Cannot read"), rc);
}

void Statement::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

void Statement::run()
{
    while (step()) {
    }
}

bool Statement::isNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

qint64 Statement::int64(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

std::string_view Statement::text(int column) const
{
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    return data ? std::string_view(data, static_cast<size_t>(size)) : std::string_view();
}

QString Statement::string(int column) const
{
    const std::string_view t = text(column);
    return QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
}

Transaction::Transaction(Database& db, bool immediate)
    : m_db(db)
{
    m_db.exec(immediate ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction()
{
    if (m_open)
        sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit()
{
    m_db.exec("COMMIT");
    m_open = false;
}

} // namespace sqlite
