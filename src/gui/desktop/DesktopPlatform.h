#pragma once

#include "desktop/Platform.h"

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
