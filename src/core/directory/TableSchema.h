#pragma once

#include "directory/Sqlite.h"

#include <QStringList>
#include <array>

// The directory table as it is stored: one SQLite table and six indexes, plain
// enough for any SQLite tool to open, query and edit.
namespace TableSchema {

constexpr const char* TableName = "newspapers";

// Index names and the field each orders by; the primary order (by No) has the empty name.
struct IndexDef
{
    const char* name;
    int position;
};
const std::array<IndexDef, 6>& indexes();

// Appends one record: its number, the six texts (an empty text is stored as a blank)
// and "0", 0, 0 in the three reserved columns, as every new record has them.
class RecordInserter
{
public:
    explicit RecordInserter(sqlite::Database& db);
    void insert(qint64 no, const std::array<QByteArray, 6>& utf8Texts);
    void insert(qint64 no, const std::array<QString, 6>& texts);

private:
    sqlite::Statement m_statement;
};

// Creates the table and its indexes in an empty database.
void create(sqlite::Database& db);
// The same in two steps, so a bulk load can fill the table before indexing it.
void createTable(sqlite::Database& db);
void createIndexes(sqlite::Database& db);

// Empty when the file holds the directory table with every column and index;
// otherwise the problems, one per entry. A file that is not a database throws.
QStringList problems(sqlite::Database& db);

// Throws EngineError naming the file and the first problem.
void verify(sqlite::Database& db);

} // namespace TableSchema
