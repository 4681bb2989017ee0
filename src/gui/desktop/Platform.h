#pragma once

#include "startup/ProgramFolder.h"

#include <QString>

class QWidget;

// The few places where the program meets the desktop. Each is a small interface with
// one real implementation and one for tests, so no test opens a browser or blocks on
// a modal box or a file dialog.

// The title of the program's own messages (the summaries of its commands); the error
// report, the questions and About have captions of their own.
inline const QString ProgramName = QStringLiteral("Kestrove Online Newspaper");

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
    // The same box, with what a screen reader says of it beside its text (such as the
    // newspaper a question is about); a desktop that cannot say it shows the box alone.
    virtual Answer showWithDescription(QWidget* owner, const QString& text, const QString& caption, Style style,
                                       const QString& description)
    {
        Q_UNUSED(description);
        return show(owner, text, caption, style);
    }
};

// The desktop's dialogs for choosing a file.
class FileDialogs
{
public:
    virtual ~FileDialogs() = default;
    // A file to read, or empty when the user cancelled. `filter` as Qt's file dialogs
    // take it: "CSV files (*.csv);;All files (*)".
    virtual QString openFile(QWidget* owner, const QString& caption, const QString& filter) = 0;
    // A file to write, the file name `suggested` proposed; the dialog asks before
    // replacing a file.
    // Empty when the user cancelled.
    virtual QString saveFile(QWidget* owner, const QString& caption, const QString& suggested,
                             const QString& filter) = 0;
};

// The desktop's own file dialogs (DesktopPlatform.cpp).
FileDialogs& desktopFileDialogs();

struct Platform
{
    Shell& shell;
    MessageBoxes& boxes;
    const ProgramFolder& folder;
    FileDialogs& files = desktopFileDialogs();
};
