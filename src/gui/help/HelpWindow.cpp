#include "help/HelpWindow.h"

#include "art/Artwork.h"
#include "widgets/Controls.h"

#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QSet>
#include <QShortcut>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QVBoxLayout>

namespace {

const QString GuidePath = QStringLiteral(":/help/guide.md");

QPointer<HelpWindow> guideWindow;

// The anchor a heading gets on the project's Git host, so a link such as
// [Files](#files-and-folders) in the guide works there and here alike: lower case,
// punctuation dropped, blanks turned into hyphens, and "-1", "-2" ... after a repeat.
QString headingAnchor(const QString& heading, QSet<QString>& taken)
{
    QString anchor;
    for (const QChar c : heading.toLower()) {
        if (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_'))
            anchor += c;
        else if (c == QLatin1Char(' '))
            anchor += QLatin1Char('-');
    }
    QString unique = anchor;
    for (int repeat = 1; taken.contains(unique); ++repeat)
        unique = anchor + QLatin1Char('-') + QString::number(repeat);
    taken.insert(unique);
    return unique;
}

// Qt's Markdown reader gives headings no anchors; this names each one as above.
void nameHeadings(QTextDocument* document)
{
    QSet<QString> taken;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() == 0 || block.length() <= 1)
            continue;
        QTextCursor cursor(block);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        QTextCharFormat anchor;
        anchor.setAnchor(true);
        anchor.setAnchorNames({headingAnchor(block.text(), taken)});
        cursor.mergeCharFormat(anchor);
    }
}

} // namespace

HelpWindow::HelpWindow(QWidget* owner)
    : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Kestrove Online Newspaper Help"));
    setWindowIcon(Artwork::programIcon());

    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("guide"));
    m_browser->setAccessibleName(QStringLiteral("User's guide"));
    // Links are followed here, so nothing but the guide is ever loaded into the window.
    m_browser->setOpenLinks(false);
    connect(m_browser, &QTextBrowser::anchorClicked, this, &HelpWindow::follow);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    setFocusProxy(m_browser);

    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close, &QShortcut::activated, this, &QWidget::close);

    loadGuide();

    // A comfortable page, but never more than most of the screen.
    QSize size(640, 600);
    if (const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    resize(size);
}

void HelpWindow::loadGuide()
{
    QFile guide(GuidePath);
    if (!guide.open(QIODevice::ReadOnly)) {
        m_browser->setPlainText(QStringLiteral("The guide is missing from this copy of the program (%1). An installed "
                                               "program has it as share/doc/kestrove-news/guide.md.")
                                    .arg(guide.errorString()));
        return;
    }
    m_browser->setMarkdown(QString::fromUtf8(guide.readAll()));
    m_browser->document()->setDocumentMargin(12);
    nameHeadings(m_browser->document());
}

void HelpWindow::follow(const QUrl& link)
{
    if (link.scheme().isEmpty() && link.path().isEmpty() && link.hasFragment())
        m_browser->scrollToAnchor(link.fragment());
    else if (link.scheme() == QLatin1String("https") || link.scheme() == QLatin1String("mailto"))
        QDesktopServices::openUrl(link);
}

HelpWindow* HelpWindow::showGuide(QWidget* owner)
{
    const bool made = !guideWindow;
    if (made)
        guideWindow = new HelpWindow(owner);
    HelpWindow* window = guideWindow;
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    if (made)
        Controls::centreOnScreen(window);
    window->raise();
    window->activateWindow();
    window->m_browser->setFocus(Qt::OtherFocusReason);
    return window;
}
