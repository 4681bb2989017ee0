#pragma once

#include <QString>

// Where the program file lives: its folder holds Data/list.db and the list files.
class ProgramFolder
{
public:
    virtual ~ProgramFolder() = default;
    virtual QString programFilePath() const = 0;

    // The folder, ending in a path separator.
    QString exePath() const;
    // The program file's name without folder, cut at its first full stop.
    QString applicationTitle() const;
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
