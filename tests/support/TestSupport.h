#pragma once

// Shared by the window tests: the desktop seams that record instead of acting.

#include "CoreTestSupport.h"
#include "desktop/Platform.h"

#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

// Records every address it is handed; `accepts` false plays a desktop without a browser.
class FakeShell : public Shell
{
public:
    bool open(const QString& address) override
    {
        opened.push_back(address);
        return accepts;
    }
    std::vector<QString> opened;
    bool accepts = true;
};

class FakeMessageBoxes : public MessageBoxes
{
public:
    struct Shown
    {
        QString text;
        QString caption;
        Style style;
    };
    Answer show(QWidget*, const QString& text, const QString& caption, Style style) override
    {
        shown.push_back({text, caption, style});
        if (answers.empty())
            return Answer::Ok;
        const Answer next = answers.front();
        answers.pop_front();
        return next;
    }
    // Error reports only.
    QStringList errors() const
    {
        QStringList list;
        for (const Shown& box : shown) {
            if (box.style == Style::Error)
                list << box.text;
        }
        return list;
    }
    std::vector<Shown> shown;
    std::deque<Answer> answers;
};

// The seams together, for building windows.
struct TestPlatform
{
    FakeShell shell;
    FakeMessageBoxes boxes;
    TempProgramFolder folder;
    Platform platform{shell, boxes, folder};
};

class TForm1;
// The main window with its table's background work off, so every command has completed
// when it returns; the tests of background work switch it back on.
std::unique_ptr<TForm1> openWindow(const Platform& platform);

// Closes the modal dialog that opens next, after running `act` on it.
void whenModalOpens(const std::function<void(QWidget*)>& act);
