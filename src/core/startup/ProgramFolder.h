#pragma once

#include "startup/DataLocation.h"

#include <QString>

// Where the program file lives: its folder holds Data/list.db and the list files, unless
// the program is installed (see DataLocation).
class ProgramFolder
{
public:
    virtual ~ProgramFolder() = default;
    virtual QString programFilePath() const = 0;
    // The environment the data folder depends on; this process's own unless replaced.
    virtual DataLocation::Environment environment() const { return DataLocation::Environment::current(); }

    // The folder, ending in a path separator.
    QString exePath() const;
    // Where the table and the lists are. Throws AppError as DataLocation::choose does.
    DataLocation dataLocation() const { return DataLocation::choose(programFilePath(), environment()); }
    // The program file's name without folder, cut at its first full stop.
    QString applicationTitle() const;

    // The folder part of a file's path, ending in a separator; empty for a bare name.
    static QString folderOf(const QString& filePath);
};

// The program file this process runs from.
class RunningProgramFolder : public ProgramFolder
{
public:
    // Works before and after the application object exists; argv0 is the fallback
    // where the system cannot tell the running program's file.
    explicit RunningProgramFolder(const char* argv0);
    QString programFilePath() const override { return m_path; }

private:
    QString m_path;
};
