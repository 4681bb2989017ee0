// The guide's window: the guide as the program carries it, its links, its keys, and the
// one window that serves every request.
// KESTROVE_SCREENSHOTS=<folder> saves help-window.png there.

#include "help/HelpWindow.h"

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QScrollBar>
#include <QSet>
#include <QTextBlock>
#include <QTextBrowser>
#include <QtTest>

namespace {

struct Heading
{
    int level;
    QString text;
    bool operator==(const Heading& other) const { return level == other.level && text == other.text; }
};

char* toString(const Heading& heading)
{
    return QTest::toString(QStringLiteral("%1 %2").arg(heading.level).arg(heading.text));
}

// The headings of the Markdown source, as the guide's author wrote them.
QList<Heading> sourceHeadings()
{
    QFile guide(QStringLiteral(":/help/guide.md"));
    if (!guide.open(QIODevice::ReadOnly))
        return {};
    QList<Heading> headings;
    for (const QByteArray& line : guide.readAll().split('\n')) {
        const qsizetype level = line.indexOf(' ');
        if (line.startsWith('#') && level > 0 && line.left(level).count('#') == level)
            headings.append({static_cast<int>(level), QString::fromUtf8(line.mid(level + 1)).trimmed()});
    }
    return headings;
}

QTextBlock headingBlock(const QTextDocument* document, const QString& text)
{
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() > 0 && block.text() == text)
            return block;
    }
    return {};
}

} // namespace

class TestHelp : public QObject
{
    Q_OBJECT

private slots:
    // Shown, read, followed, scrolled, closed with Esc and asked for again.
    void guideWindowEndToEnd()
    {
        QWidget owner;
        owner.resize(300, 200);
        owner.show();
        HelpWindow* window = HelpWindow::showGuide(&owner);
        QVERIFY(QTest::qWaitForWindowActive(window));
        QCOMPARE(window->windowTitle(), QStringLiteral("Kestrove Online Newspaper Help"));
        QVERIFY(window->isWindow());
        QCOMPARE(window->windowModality(), Qt::NonModal);
        QTextBrowser* browser = window->browser();
        QVERIFY(browser->hasFocus());
        if (const QString folder = qEnvironmentVariable("KESTROVE_SCREENSHOTS"); !folder.isEmpty())
            window->grab().save(folder + QStringLiteral("/help-window.png"));

        // Rendered as Markdown: every heading of the source is a heading of its level.
        const QTextDocument* document = browser->document();
        const QList<Heading> expected = sourceHeadings();
        QVERIFY(expected.size() > 10);
        QList<Heading> shown;
        QSet<QString> anchors;
        QStringList links;
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            if (block.blockFormat().headingLevel() > 0)
                shown.append({block.blockFormat().headingLevel(), block.text()});
            for (auto part = block.begin(); !part.atEnd(); ++part) {
                const QTextCharFormat format = part.fragment().charFormat();
                for (const QString& name : format.anchorNames())
                    anchors.insert(name);
                if (!format.anchorHref().isEmpty())
                    links << format.anchorHref();
            }
        }
        QCOMPARE(shown, expected);

        // Every link within the guide leads to a heading; others go to the web.
        QVERIFY(!links.isEmpty());
        for (const QString& link : links) {
            if (link.startsWith(QLatin1Char('#')))
                QVERIFY2(anchors.contains(link.mid(1)), qPrintable(link));
            else
                QVERIFY2(link.startsWith(QLatin1String("https://")) || link.startsWith(QLatin1String("mailto:")),
                         qPrintable(link));
        }

        // A click on the contents' last entry brings its section into view.
        QScrollBar* scroll = browser->verticalScrollBar();
        QCOMPARE(scroll->value(), 0);
        const QTextBlock target = headingBlock(document, QStringLiteral("The data tool"));
        QVERIFY(target.isValid());
        QTextCursor entry = document->find(QStringLiteral("The data tool"), 0, QTextDocument::FindCaseSensitively);
        QVERIFY(!entry.isNull() && entry.block() != target);
        QTextCursor inside(entry);
        inside.setPosition(entry.selectionStart() + 2);
        const QPoint at = browser->cursorRect(inside).center();
        QCOMPARE(browser->anchorAt(at), QStringLiteral("#the-data-tool"));
        QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, at);
        QTRY_VERIFY(scroll->value() > 0);
        const int top = static_cast<int>(document->documentLayout()->blockBoundingRect(target).top());
        QVERIFY(top >= scroll->value() && top < scroll->value() + browser->viewport()->height());

        // The keyboard scrolls the guide.
        scroll->setValue(0);
        QTest::keyClick(browser, Qt::Key_PageDown);
        QVERIFY(scroll->value() > 0);
        QTest::keyClick(browser, Qt::Key_End);
        QCOMPARE(scroll->value(), scroll->maximum());

        // Esc closes it; asking again shows the same window, at the same place in the guide.
        QTest::keyClick(browser, Qt::Key_Escape);
        QVERIFY(!window->isVisible());
        QCOMPARE(HelpWindow::showGuide(&owner), window);
        QVERIFY(window->isVisible());
        QCOMPARE(scroll->value(), scroll->maximum());
        QCOMPARE(owner.findChildren<HelpWindow*>().size(), 1);
    }
};

QTEST_MAIN(TestHelp)
#include "test_help.moc"
