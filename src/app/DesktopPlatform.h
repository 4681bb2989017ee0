#pragma once

#include "app/Platform.h"

// The real desktop: Qt's desktop services, QMessageBox and the running program file.
class DesktopShell : public Shell
{
public:
    bool open(const QString& address) override;
};

class DesktopMessageBoxes : public MessageBoxes
{
public:
    Answer show(QWidget* owner, const QString& text, const QString& caption, Style style) override;
};

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
