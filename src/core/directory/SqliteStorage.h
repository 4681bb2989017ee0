#pragma once

#include "directory/TableStorage.h"

// The table in an SQLite file, with its cache beside it (see TableCache).
class SqliteStorage : public TableStorage
{
public:
    explicit SqliteStorage(QString path);

    QString path() const override { return m_path; }
    Loaded readAll(Progress& progress) const override;
    TableFile::Changes readChanges(const TableData& data, std::size_t limit, Progress& progress) const override;
    CacheWrite saveCache(const TableData& data, const TableFile::Stamp& stamp, Progress& progress) const override;

private:
    QString m_path;
};
