#pragma once

#include "directory/TableStorage.h"

// The table in an SQLite file, with its cache (see TableCache).
class SqliteStorage : public TableStorage
{
public:
    SqliteStorage(QString path, QString cachePath);

    QString path() const override { return m_path; }
    Loaded readAll(Progress& progress) const override;
    TableFile::Changes readChanges(const TableData& data, std::size_t limit, Progress& progress) const override;
    CacheWrite saveCache(const TableData& data, const TableFile::Stamp& stamp, Progress& progress) const override;

private:
    QString m_path;
    QString m_cachePath;
};
