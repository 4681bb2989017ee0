#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace sqlite {

// An open SQLite connection. Every failure throws EngineError naming the file.
class Database
{
public:
    enum class Mode
    {
        ReadWrite,
        ReadOnly,
        Create
    };

    Database();
    // ReadWrite never creates the file (SQLite would make an empty one otherwise);
    // it falls back to read-only access when the file or its folder is write-protected.
    // ReadOnly never writes to the file, not even a journal.
    Database(const QString& path, Mode mode);
    ~Database();
    Database(Database&& other) noexcept;
    Database& operator=(Database&& other) noexcept;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // How long a call waits for another program's lock before it fails. Tests shorten it.
    static void setDefaultBusyTimeout(int milliseconds);
    static int defaultBusyTimeout();

    // Told true when a call starts waiting for another program's lock and false when
    // the wait is over, so a window can show that it is busy meanwhile.
    using BusyObserver = std::function<void(bool waiting)>;
    void setBusyObserver(BusyObserver observer);
    // This connection's wait for another program's lock; 0 fails at once.
    void setBusyTimeout(int milliseconds);
    // Ends a wait the observer was told of; called once a statement has finished.
    void endWait() noexcept;

    bool isOpen() const { return m_db != nullptr; }
    const QString& path() const { return m_path; }
    sqlite3* handle() const { return m_db; }

    void exec(const char* sql);
    // Counter that changes whenever another connection commits to the file.
    qint64 dataVersion();
    bool isReadOnly() const;
    int changes() const;

    // An error for the last failed call, "<what> <path>: <SQLite's reason>".
    [[noreturn]] void fail(const QString& what) const;
    [[noreturn]] void fail(const QString& what, int code) const;

private:
    struct BusyState;
    static int onBusy(void* state, int attempts);
    void close() noexcept;

    sqlite3* m_db = nullptr;
    QString m_path;
    // On the heap, so SQLite's pointer to it survives moving the connection.
    std::unique_ptr<BusyState> m_busy;
};

class Statement
{
public:
    Statement(Database& db, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Binding positions count from 1. Null text binds SQL NULL.
    void bindNull(int index);
    void bind(int index, qint64 value);
    void bind(int index, const QByteArray& utf8);
    // The bytes as they are, compared with a column cast to BLOB.
    void bindBlob(int index, std::string_view bytes);
    void bindTextOrNull(int index, const QString& text); // empty text binds NULL

    bool step(); // true while a row is available
    void reset();
    void run(); // step through to the end

    bool isNull(int column) const;
    qint64 int64(int column) const;
    std::string_view text(int column) const; // valid until the next step
    QString string(int column) const;

private:
    Database& m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

// BEGIN ... COMMIT, rolled back if not committed.
class Transaction
{
public:
    explicit Transaction(Database& db, bool immediate = false);
    ~Transaction();
    void commit();

private:
    Database& m_db;
    bool m_open = true;
};

} // namespace sqlite
