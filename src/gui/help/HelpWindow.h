#pragma once

#include <QWidget>

class QTextBrowser;

// The user's guide, docs/guide.md, carried inside the program and shown as Markdown in a
// window of its own that stays open beside the main window. There is one such window:
// asking for it again brings the same window to the front, where the reader left it.
class HelpWindow : public QWidget
{
    Q_OBJECT

public:
    // Shows the guide's window, made the first time with `owner` as its owner: it
    // stays above the owner and closes with it. Returns the window.
    static HelpWindow* showGuide(QWidget* owner);

    QTextBrowser* browser() const { return m_browser; }

private:
    explicit HelpWindow(QWidget* owner);
    void loadGuide();
    // A link within the guide scrolls to its heading; a web or mail address goes to the
    // desktop.
    void follow(const QUrl& link);

    QTextBrowser* m_browser = nullptr;
};
