#pragma once

// Shared by every test: a temporary program folder with its own directory table,
// writes made as another program would make them, and file systems to fail on.
// Qt Core and the core library only, so core tests build without any window.

#include "startup/ProgramFolder.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <csignal>
#include <sys/resource.h>
#include <vector>

// How long SQLite waits for a lock in the tests (set for every test program).
constexpr int TestBusyTimeoutMs = 300;

// A record as the tests write it; an empty text is stored as a blank.
struct Row
{
    qint64 no;
    QString name;
    QString url;
    QString country;
    QString state;
    QString city;
    QString category;
};

// A program folder in a temporary directory: programFilePath() names a program file
// inside it, and Data/list.db can be made with any records.
class TempProgramFolder : public ProgramFolder
{
public:
    TempProgramFolder();
    QString programFilePath() const override { return m_dir.path() + QStringLiteral("/kestrove-news"); }
    QString path(const QString& relative) const { return m_dir.path() + QLatin1Char('/') + relative; }
    QString tablePath() const { return path(QStringLiteral("Data/list.db")); }

    // Creates Data/list.db with these records.
    void makeTable(const std::vector<Row>& rows = {}) const;
    void writeFile(const QString& relative, const QByteArray& bytes) const;
    QByteArray readFile(const QString& relative) const;
    bool exists(const QString& relative) const;

private:
    QTemporaryDir m_dir;
};

// A standard install in a temporary directory: the program file's path
// usr/bin/kestrove-news (no file is needed there), the starter directory
// usr/share/kestrove-news/list.db with these records and its version stamp "1", and an
// empty home folder, which is the HOME of environment(). The user's data folder is then
// userPath(QString()).
class TempInstall : public ProgramFolder
{
public:
    explicit TempInstall(const std::vector<Row>& starterRows = {});
    // Installs another release: a new starter directory with these records and stamp.
    void release(const std::vector<Row>& starterRows, const QByteArray& version) const;
    QString programFilePath() const override { return path(QStringLiteral("usr/bin/kestrove-news")); }
    DataLocation::Environment environment() const override { return env; }
    QString path(const QString& relative) const { return m_dir.path() + QLatin1Char('/') + relative; }
    QString starterPath() const { return path(QStringLiteral("usr/share/kestrove-news/list.db")); }
    QString userPath(const QString& relative) const;

    DataLocation::Environment env;

private:
    QTemporaryDir m_dir;
};

// The names in a folder, hidden ones included; empty for a missing folder.
QStringList entries(const QString& folder);

// Writes records into an existing table file through a connection of its own, as a
// second copy of the program or another tool would.
void insertRows(const QString& tablePath, const std::vector<Row>& rows);
// Runs one SQL statement with no parameters on the file and returns the first column
// of the first row as text ("NULL" for a null).
QString queryValue(const QString& tablePath, const char* sql);

// SQLite's file change counter (header offset 24), which every committed write raises.
quint32 fileChangeCounter(const QString& tablePath);

// True when running with root's privileges, which pass over file permissions.
bool runningAsRoot();

// Writes beyond `bytes` fail in this process while it lives, as on a full disk.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

// A small file system of its own (tmpfs), where the system allows mounting one: a
// full disk or a read-only folder that even root cannot write to.
class SmallFileSystem
{
public:
    explicit SmallFileSystem(const QString& sizeOption); // "size=32k"
    ~SmallFileSystem();
    bool mounted() const { return m_mounted; }
    QString path(const QString& relative = QString()) const;
    bool makeReadOnly();

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};
