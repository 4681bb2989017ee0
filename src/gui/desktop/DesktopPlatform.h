#pragma once

#include "desktop/Platform.h"

// The real desktop: Qt's desktop services, QMessageBox, QFileDialog and the running
// program file.
class DesktopShell : public Shell
{
public:
    bool open(const QString& address) override;
};

class DesktopMessageBoxes : public MessageBoxes
{
public:
    Answer show(QWidget* owner, const QString& text, const QString& caption, Style style) override;
    Answer showWithDescription(QWidget* owner, const QString& text, const QString& caption, Style style,
                               const QString& description) override;
};

class DesktopFileDialogs : public FileDialogs
{
public:
    QString openFile(QWidget* owner, const QString& caption, const QString& filter) override;
    QString saveFile(QWidget* owner, const QString& caption, const QString& suggested, const QString& filter) override;
};
