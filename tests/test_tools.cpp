// The File menu's commands on the whole directory, through the real window and the
// desktop seams: import, export, merge and the address check, each with its file dialog,
// its work beside the window, its Cancel, its summary and the window it ends in.
// KESTROVE_SCREENSHOTS=<folder> saves merge-report.png, link-check.png and
// progress-line.png there, made from the starter directory.

#include "LinkTestServer.h"
#include "TestSupport.h"

#include "commands/CommandQueue.h"
#include "datatool/Csv.h"
#include "datatool/DbTool.h"
#include "directory/Table.h"
#include "mainwindow/MainWindow.h"
#include "tools/LinkCheckWindow.h"
#include "tools/MergeReportDialog.h"
#include "widgets/WorkIndicator.h"

#include <QAction>
#include <QBuffer>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QThread>
#include <QToolButton>
#include <QtTest>

namespace {

const QString Program = QStringLiteral("Kestrove Online Newspaper");

QByteArray papers(int count)
{
    QByteArray csv = "Name,Url,Country,State,City,Category\n";
    for (int i = 1; i <= count; ++i)
        csv += Csv::formatRecord({QStringLiteral("Paper %1").arg(i), QStringLiteral("https://p%1.example.com/").arg(i),
                                  QStringLiteral("Chile"), QString(), QString(), QString()});
    return csv;
}

QByteArray exported(const QString& db)
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    DbTool::exportCsv(db, out);
    return out.data();
}

QByteArray bytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void saveScreenshot(QWidget* window, const QString& folder, const char* file)
{
    QVERIFY(window->grab().save(folder + QLatin1Char('/') + QLatin1String(file)));
}

// The program's own summaries, in the order shown; each must carry the program's name.
QStringList summaries(const FakeMessageBoxes& boxes)
{
    QStringList list;
    for (const FakeMessageBoxes::Shown& box : boxes.shown) {
        if (box.style == MessageBoxes::Style::Plain) {
            if (box.caption != Program)
                return {QStringLiteral("a summary titled ") + box.caption};
            list << box.text;
        }
    }
    return list;
}

int rowNamed(const QTableWidget* list, const QString& name)
{
    for (int row = 0; row < list->rowCount(); ++row) {
        if (list->item(row, 0)->text() == name)
            return row;
    }
    return -1;
}

} // namespace

class TestTools : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void importAddsAFileAndExportWritesItBack();
    void cancelLeavesTheTableByteIdentical();
    void mergeWritesOnlyWhatItsReportShowedOnceConfirmed();
    void checkListsWhatNeedsTheUserAndActsOnTheChosen();
    void longWorkShowsItsProgressAndHoldsBackCommands();
    void screenshots();

private:
    void showWindow();
    std::unique_ptr<TestPlatform> t;
    std::unique_ptr<MainWindow> form;
};

void TestTools::init()
{
    t = std::make_unique<TestPlatform>();
}

void TestTools::cleanup()
{
    form.reset();
    t.reset();
}

void TestTools::showWindow()
{
    form = openWindow(t->platform);
    form->show();
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
}

void TestTools::importAddsAFileAndExportWritesItBack()
{
    t->folder.makeTable({{1, "Alpha", "https://alpha.example.com/", "Peru", "", "", ""}});
    form = openWindow(t->platform);
    t->folder.writeFile(QStringLiteral("in.csv"), "Name,Url,Country,State,City,Category\n"
                                                  "Beta,https://beta.example.com/,Peru,,,\n"
                                                  "Gamma,https://gamma.example.com/,Peru,,,News\n");
    t->files.answers = {t->folder.path(QStringLiteral("in.csv"))};
    menuItem(*form, "importNewspapersAction")->trigger();
    QCOMPARE(t->files.asked, QStringList{"Import Newspapers"});
    QCOMPARE(summaries(t->boxes),
             QStringList{QStringLiteral("Imported 2 newspapers from %1 (No 2 to 3).").arg(t->files.answered.last())});
    QCOMPARE(form->table().recordCount(), 3); // the grid shows them at once

    // A file the directory cannot take is refused as a whole, as an error.
    t->folder.writeFile(QStringLiteral("bad.csv"), "Name,Url,Country,State,City,Category\nDelta,,,\n");
    const QByteArray before = bytes(t->folder.tablePath());
    t->files.answers = {t->folder.path(QStringLiteral("bad.csv"))};
    menuItem(*form, "importNewspapersAction")->trigger();
    QCOMPARE(t->boxes.errors().size(), 1);
    QVERIFY2(t->boxes.errors()[0].contains(QStringLiteral("line 2")), qPrintable(t->boxes.errors()[0]));
    QCOMPARE(summaries(t->boxes).size(), 1);
    QCOMPARE(bytes(t->folder.tablePath()), before);

    t->files.answers = {t->folder.path(QStringLiteral("out.csv"))};
    menuItem(*form, "exportNewspapersAction")->trigger();
    QCOMPARE(summaries(t->boxes).last(),
             QStringLiteral("Exported 3 newspapers to %1.").arg(t->folder.path(QStringLiteral("out.csv"))));
    QCOMPARE(t->folder.readFile(QStringLiteral("out.csv")), exported(t->folder.tablePath()));

    // A dialog cancelled does nothing.
    menuItem(*form, "exportNewspapersAction")->trigger();
    menuItem(*form, "importNewspapersAction")->trigger();
    QCOMPARE(summaries(t->boxes).size(), 2);
    QCOMPARE(t->boxes.errors().size(), 1);
}

void TestTools::cancelLeavesTheTableByteIdentical()
{
    t->folder.makeTable({{1, "Alpha", "https://alpha.example.com/", "Peru", "", "", ""}});
    showWindow();
    form->toolWork().setBackground(true);
    t->folder.writeFile(QStringLiteral("many.csv"), papers(40000));
    const QByteArray before = bytes(t->folder.tablePath());
    QSignalSpy busy(&form->toolWork(), &BackgroundWork::busyChanged);

    // Esc as soon as it has started, long before 40,000 records are in.
    t->files.answers = {t->folder.path(QStringLiteral("many.csv"))};
    menuItem(*form, "importNewspapersAction")->trigger();
    QVERIFY(form->toolWork().busy());
    QTest::keyClick(form.get(), Qt::Key_Escape);
    QTRY_COMPARE_WITH_TIMEOUT(busy.size(), 2, 20000);
    QCOMPARE(summaries(t->boxes), QStringList{"The import was cancelled; nothing was imported."});
    QCOMPARE(bytes(t->folder.tablePath()), before);
    QCOMPARE(form->table().recordCount(), 1);

    // Without Esc the same file goes in whole.
    t->files.answers = {t->folder.path(QStringLiteral("many.csv"))};
    menuItem(*form, "importNewspapersAction")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(busy.size(), 4, 20000);
    QCOMPARE(summaries(t->boxes).last(),
             QStringLiteral("Imported 40000 newspapers from %1 (No 2 to 40001).").arg(t->files.answered.last()));
}

void TestTools::mergeWritesOnlyWhatItsReportShowedOnceConfirmed()
{
    t->folder.makeTable({{1, "Alpha", "https://a.example.com/", "Peru", "", "", ""},
                         {2, "Beta", "https://b.example.com/", "Peru", "", "", ""}});
    t->folder.writeFile(QStringLiteral("base.csv"), "Name,Url,Country,State,City,Category\n"
                                                    "Alpha,https://a.example.com/,Peru,,,\n"
                                                    "Beta,https://b.example.com/,Peru,,,\n");
    t->folder.writeFile(QStringLiteral("newer.csv"), "Name,Url,Country,State,City,Category\n"
                                                     "Alpha,https://a.example.com/,Peru,,,News\n"
                                                     "Gamma,https://g.example.com/,Peru,,,\n");
    const QString newer = t->folder.path(QStringLiteral("newer.csv"));
    const QString base = t->folder.path(QStringLiteral("base.csv"));
    const QString db = t->folder.tablePath();
    form = openWindow(t->platform);
    const QByteArray before = bytes(db);

    // The report first: its counts and its newspapers; Cancel writes nothing.
    QString heading;
    QStringList names;
    t->files.answers = {newer, base};
    whenModalOpens([&](QWidget* report) {
        heading = control<QLabel>(*report, "mergeSummary")->text();
        const auto* list = control<QTableWidget>(*report, "mergeList");
        for (int row = 0; row < list->rowCount(); ++row)
            names << list->item(row, 0)->text() + QLatin1Char(' ') + list->item(row, 2)->text();
        control<QPushButton>(*report, "cancelButton")->click();
    });
    menuItem(*form, "mergeNewerDirectoryAction")->trigger();
    QCOMPARE(t->files.asked.size(), 2);
    QVERIFY2(heading.contains(QStringLiteral("It would add 1 newspaper, update 1 and remove 1.")), qPrintable(heading));
    QCOMPARE(names, (QStringList{"to be added Gamma", "to be updated Alpha", "to be removed Beta"}));
    QCOMPARE(bytes(db), before);
    QVERIFY(t->boxes.shown.empty());

    // Merge writes exactly that, and the grid shows it.
    t->files.answers = {newer, base};
    whenModalOpens([](QWidget* report) { control<QPushButton>(*report, "mergeButton")->click(); });
    menuItem(*form, "mergeNewerDirectoryAction")->trigger();
    QCOMPARE(summaries(t->boxes),
             QStringList{
                 QStringLiteral("Merged %1 into your directory: 1 newspaper added, 1 updated, 1 removed.").arg(newer)});
    QCOMPARE(queryValue(db, "SELECT group_concat(No || ' ' || Name || ' ' || ifnull(Category, ''), '; ') FROM "
                            "(SELECT * FROM newspapers ORDER BY No)"),
             QStringLiteral("1 Alpha News; 3 Gamma "));
    QCOMPARE(form->table().recordCount(), 2);

    // Planned, then another program writes while the report is read: nothing is merged.
    t->folder.writeFile(QStringLiteral("newer.csv"), "Name,Url,Country,State,City,Category\n"
                                                     "Delta,https://d.example.com/,Peru,,,\n");
    t->files.answers = {newer, QString()}; // no base: only additions
    whenModalOpens([&](QWidget* report) {
        insertRows(db, {{9, "Written meanwhile", "", "", "", "", ""}});
        control<QPushButton>(*report, "mergeButton")->click();
    });
    menuItem(*form, "mergeNewerDirectoryAction")->trigger();
    QCOMPARE(t->boxes.errors().size(), 1);
    QVERIFY2(t->boxes.errors()[0].contains(QStringLiteral("changed after the merge was planned")),
             qPrintable(t->boxes.errors()[0]));
    QCOMPARE(queryValue(db, "SELECT group_concat(Name, '; ') FROM (SELECT * FROM newspapers ORDER BY No)"),
             QStringLiteral("Alpha; Gamma; Written meanwhile"));
    QCOMPARE(summaries(t->boxes).size(), 1);
}

void TestTools::checkListsWhatNeedsTheUserAndActsOnTheChosen()
{
    TestServer server;
    QVERIFY(server.listening);
    const QString h = server.base;
    const QString closed = QStringLiteral("http://127.0.0.1:%1/").arg(closedPort());
    t->folder.makeTable({{1, "Moved A", h + "/moved", "", "", "", ""},
                         {2, "Moved B", h + "/permanent", "", "", "", ""},
                         {3, "Gone", h + "/missing", "", "", "", ""},
                         {4, "Fine", h + "/ok", "", "", "", ""},
                         {5, "Local", "javascript:x", "", "", "", ""},
                         {6, "Closed", closed, "", "", "", ""}});
    const QString db = t->folder.tablePath();
    form = openWindow(t->platform);

    QString heading;
    QStringList shown;
    QStringList byVerdict;
    whenModalOpens([&](QWidget* modal) {
        auto* window = qobject_cast<LinkCheckWindow*>(modal);
        QVERIFY(window);
        heading = control<QLabel>(*window, "checkSummary")->text();
        shown = window->rows();
        auto* list = control<QTableWidget>(*window, "checkList");

        // A click on a column title sorts by that column.
        QHeaderView* titles = list->horizontalHeader();
        QTest::mouseClick(titles->viewport(), Qt::LeftButton, {},
                          QPoint(titles->sectionViewportPosition(2) + 5, titles->height() / 2));
        byVerdict = window->rows();

        // Enter opens the current row's address.
        list->setFocus();
        list->setCurrentCell(rowNamed(list, QStringLiteral("Gone")), 0);
        QTest::keyClick(list, Qt::Key_Return);

        // Only the chosen moved newspaper gets its new address.
        list->clearSelection();
        list->selectRow(rowNamed(list, QStringLiteral("Moved B")));
        control<QPushButton>(*window, "applySelectedButton")->click();

        // Another program edits the other moved one: it is left alone, and the summary says so.
        queryValue(db, "UPDATE newspapers SET Category = 'Sports' WHERE No = 1");
        control<QPushButton>(*window, "applyAllButton")->click();

        list->clearSelection();
        list->selectRow(rowNamed(list, QStringLiteral("Gone")));
        control<QPushButton>(*window, "deleteBrokenButton")->click();
    });
    menuItem(*form, "checkWebAddressesAction")->trigger();

    QCOMPARE(t->boxes.shown.front().caption, QStringLiteral("Confirmation"));
    QCOMPARE(heading, QStringLiteral("Checked 6 web addresses: 1 ok, 2 moved, 0 redirected, 1 broken, 1 unreachable, "
                                     "1 refused."));
    QCOMPARE(shown, (QStringList{"Closed|unreachable", "Gone|broken", "Moved A|moved", "Moved B|moved"}));
    QCOMPARE(t->shell.opened, std::vector<QString>{h + "/missing"});
    QCOMPARE(summaries(t->boxes),
             (QStringList{"Changed the web address of 1 newspaper.",
                          "Changed the web address of 0 newspapers.\n\n1 newspaper was left alone: changed or deleted "
                          "by someone else since the check.",
                          "Deleted 1 newspaper."}));
    QCOMPARE(t->boxes.shown[3].description, QStringLiteral("The newspapers to delete: Gone"));
    QCOMPARE(byVerdict.size(), 4);
    QCOMPARE(byVerdict.first(), QStringLiteral("Gone|broken"));
    QCOMPARE(byVerdict.last(), QStringLiteral("Closed|unreachable"));
    QCOMPARE(queryValue(db, "SELECT group_concat(No || ' ' || Url, '; ') FROM (SELECT * FROM newspapers ORDER BY No)"),
             QStringLiteral("1 %1/moved; 2 %1/ok; 4 %1/ok; 5 javascript:x; 6 %2").arg(h, closed));
    QCOMPARE(form->table().recordCount(), 5); // the grid followed
}

void TestTools::longWorkShowsItsProgressAndHoldsBackCommands()
{
    TestServer server;
    QVERIFY(server.listening);
    t->folder.makeTable({{1, "Fine", server.url("/ok"), "", "", "", ""},
                         {2, "Slow", server.url("/slow"), "", "", "", ""},
                         {3, "Slower", server.url("/slow"), "", "", "", ""}});
    const QByteArray before = bytes(t->folder.tablePath());
    showWindow();
    form->toolWork().setBackground(true);
    auto* indicator = control<WorkIndicator>(*form, "workIndicator");

    menuItem(*form, "checkWebAddressesAction")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(indicator->isVisible(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(indicator->permille(), 333, 10000);
    QCOMPARE(indicator->text(), QStringLiteral("Checking the web addresses\u2026"));
    auto* cancel = control<QToolButton>(*form, "workCancel");
    QVERIFY(cancel->isVisible());

    // A command given meanwhile waits for the check and its summary.
    int summariesWhenRead = -1;
    connect(&form->commands(), &CommandQueue::started, this, [&](const QString& name) {
        if (name == QLatin1String("readNow"))
            summariesWhenRead = static_cast<int>(summaries(t->boxes).size());
    });
    menuItem(*form, "readNowAction")->trigger();
    QCOMPARE(form->commands().waiting(), 1);
    QVERIFY(t->shell.opened.empty());

    cancel->click();
    QTRY_COMPARE_WITH_TIMEOUT(t->shell.opened.size(), size_t(1), 10000);
    QCOMPARE(summaries(t->boxes),
             QStringList{"The check was cancelled after 1 of 3 web addresses; nothing was changed."});
    QCOMPARE(summariesWhenRead, 1);
    QVERIFY(!indicator->isVisible());
    QCOMPARE(bytes(t->folder.tablePath()), before);
}

void TestTools::screenshots()
{
    const QString folder = qEnvironmentVariable("KESTROVE_SCREENSHOTS");
    if (folder.isEmpty())
        QSKIP("KESTROVE_SCREENSHOTS names no folder");
    t->folder.makeTable();
    DbTool::importCsv(t->folder.tablePath(), QStringLiteral(KESTROVE_STARTER_CSV));
    showWindow();

    // The progress line, under Read Now, as a long check shows it.
    form->toolWork().setBackground(true);
    form->toolWork().start({QStringLiteral("Checking the web addresses")}, [](Progress& progress) {
        progress.beginStep(0, 420);
        progress.setDone(157);
        while (!progress.cancelled())
            QThread::msleep(10);
        return BackgroundWork::Completion([] {});
    });
    QTRY_VERIFY_WITH_TIMEOUT(control<WorkIndicator>(*form, "workIndicator")->isVisible(), 5000);
    QTest::qWait(150);
    saveScreenshot(form.get(), folder, "progress-line.png");
    form->toolWork().cancel();
    form->toolWork().finish();

    // The merge's report, for a newer directory that changes three newspapers.
    const QByteArray header = "Name,Url,Country,State,City,Category\n";
    t->folder.writeFile(QStringLiteral("base.csv"),
                        header + "Clarín,https://www.clarin.com/,Argentina,,Buenos Aires,\n"
                                 "La Nación,https://www.lanacion.com.ar/,Argentina,,Buenos Aires,\n"
                                 "Página/12,https://www.pagina12.com.ar/,Argentina,,Buenos Aires,\n");
    t->folder.writeFile(QStringLiteral("newer.csv"),
                        header + "Clarín,https://www.clarin.com/,Argentina,,Buenos Aires,Politics\n"
                                 "La Nación,https://www.lanacion.com.ar/,Argentina,,Buenos Aires,\n"
                                 "Perfil,https://www.perfil.com/,Argentina,,Buenos Aires,Politics\n");
    const merge::Plan plan = merge::plan(t->folder.tablePath(), t->folder.path(QStringLiteral("newer.csv")),
                                         t->folder.path(QStringLiteral("base.csv")));
    MergeReportDialog report(plan.result(), QStringLiteral("newer.csv"), QStringLiteral("base.csv"), form.get());
    report.show();
    QVERIFY(QTest::qWaitForWindowExposed(&report));
    saveScreenshot(&report, folder, "merge-report.png");

    // The address check's list.
    links::TableCheck check;
    auto add = [&](const char* name, const char* url, links::Verdict verdict, int status, const char* finalOrReason) {
        links::RecordCheck each;
        each.record.no = static_cast<qint64>(check.records.size() + 1);
        each.record.texts[Field::Name - 1] = QByteArray(name);
        each.record.texts[Field::Url - 1] = QByteArray(url);
        each.result =
            links::LinkResult{verdict, status, QString::fromUtf8(finalOrReason), QString::fromUtf8(finalOrReason)};
        check.records.push_back(each);
        ++check.tally.counts[static_cast<size_t>(verdict)];
    };
    add("Ámbito Financiero", "http://www.ambito.com/", links::Verdict::Moved, 200, "https://www.ambito.com/");
    add("Clarín", "https://www.clarin.com/edicion-impresa/", links::Verdict::Broken, 404, "404 Not Found");
    add("Diario Popular", "https://www.diariopopular.com.ar/", links::Verdict::Unreachable, 0, "host not found");
    add("La Voz del Interior", "http://lavoz.com.ar/", links::Verdict::Moved, 200, "https://www.lavoz.com.ar/");
    add("Los Andes", "https://www.losandes.com.ar/", links::Verdict::Unreachable, 0, "no answer within 10 s");
    check.tally.counts[static_cast<size_t>(links::Verdict::Ok)] = 412;
    check.tally.counts[static_cast<size_t>(links::Verdict::Redirected)] = 3;
    check.tally.total = check.tally.done = 420;
    LinkCheckWindow window(t->platform, t->folder.tablePath(), check, form.get());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    saveScreenshot(&window, folder, "link-check.png");
}

QTEST_MAIN(TestTools)
#include "test_tools.moc"
