#pragma once

#include "startup/ProgramFolder.h"

#include <QString>

class QWidget;

// The few places where the program meets the desktop. Each is a small interface with
// one real implementation and one for tests, so no test opens a browser or blocks on
// a modal box.

// Hands an address to the user's default program for it (browser, mail program).
class Shell
{
public:
    virtual ~Shell() = default;
    // False when the address could not be handed over (no opener, or it refused it).
    virtual bool open(const QString& address) = 0;
};

class MessageBoxes
{
public:
    enum class Style
    {
        Plain,        // OK, no icon
        Error,        // OK, error icon
        Confirmation, // OK and Cancel, question icon
    };
    enum class Answer
    {
        Ok,
        Cancel
    };

    virtual ~MessageBoxes() = default;
    virtual Answer show(QWidget* owner, const QString& text, const QString& caption, Style style) = 0;
};

struct Platform
{
    Shell& shell;
    MessageBoxes& boxes;
    const ProgramFolder& folder;
};
