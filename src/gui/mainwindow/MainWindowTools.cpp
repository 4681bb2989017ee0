// The File menu's commands on the whole directory: import, export, merge a newer
// directory and check the web addresses. Each is given to the command queue like any
// other; it asks for its file, runs the data tool's operation beside the window (see
// DataOperations.h) with the work indicator's progress bar and Cancel (or Esc), and ends
// with one summary. Commands given meanwhile wait until the summary has been read.
#include "datatool/DataOperations.h"
#include "desktop/ErrorReport.h"
#include "directory/Table.h"
#include "mainwindow/MainWindow.h"
#include "tools/LinkCheckWindow.h"
#include "tools/MergeReportDialog.h"

#include <QFileInfo>
#include <QScopedValueRollback>

namespace {

const QString CsvFiles = QStringLiteral("CSV files (*.csv);;All files (*)");
const QString Directories =
    QStringLiteral("Directories (*.db *.csv);;Directory tables (*.db);;CSV files (*.csv);;All files (*)");

QString newspapers(qint64 count)
{
    return count == 1 ? QStringLiteral("1 newspaper") : QStringLiteral("%1 newspapers").arg(count);
}

QString imported(const DbTool::ImportSummary& summary, const QString& csv)
{
    if (summary.added == 0)
        return QStringLiteral("%1 holds no newspapers; nothing was imported.").arg(csv);
    const QString numbers = summary.firstNo == summary.lastNo
                                ? QStringLiteral("No %1").arg(summary.firstNo)
                                : QStringLiteral("No %1 to %2").arg(summary.firstNo).arg(summary.lastNo);
    return QStringLiteral("Imported %1 from %2 (%3).").arg(newspapers(summary.added), csv, numbers);
}

QString merged(const merge::Result& result, const QString& newer)
{
    QString text = QStringLiteral("Merged %1 into your directory: %2 added, %3 updated, %4 removed.")
                       .arg(newer, newspapers(result.count(merge::Action::Added)))
                       .arg(result.count(merge::Action::Updated))
                       .arg(result.count(merge::Action::Removed));
    if (const qint64 conflicts = result.count(merge::Action::Conflict); conflicts > 0)
        text += QStringLiteral("\n\n%1 that you have differently kept as you have %2.")
                    .arg(newspapers(conflicts), conflicts == 1 ? QStringLiteral("was") : QStringLiteral("were"),
                         conflicts == 1 ? QStringLiteral("it") : QStringLiteral("them"));
    return text;
}

} // namespace

void MainWindow::startTool(const QStringList& steps, BackgroundWork::Work work)
{
    m_toolWork->start(steps, std::move(work));
}

BackgroundWork::Completion MainWindow::concluding(std::function<void()> then)
{
    // Made on the worker; runs on the window's thread once the job is done.
    return [this, then = std::move(then)] {
        const QScopedValueRollback<bool> concluding(m_toolConcluding, true);
        then();
    };
}

void MainWindow::importNewspapers()
{
    give(QStringLiteral("importNewspapers"), [this] {
        const QString csv = m_platform.files.openFile(this, QStringLiteral("Import Newspapers"), CsvFiles);
        if (csv.isEmpty())
            return;
        const QString db = m_table->fileName();
        startTool(
            {QStringLiteral("Reading %1").arg(QFileInfo(csv).fileName()), QStringLiteral("Adding the newspapers")},
            [this, db, csv](Progress& progress) -> BackgroundWork::Completion {
                try {
                    const DbTool::ImportSummary summary = DbTool::importCsv(db, csv, progress);
                    return concluding([this, summary, csv] {
                        m_table->refresh();
                        tell(imported(summary, csv));
                    });
                } catch (const WorkCancelled&) {
                    return concluding(
                        [this] { tell(QStringLiteral("The import was cancelled; nothing was imported.")); });
                }
            });
    });
}

void MainWindow::exportNewspapers()
{
    give(QStringLiteral("exportNewspapers"), [this] {
        const QString csv = m_platform.files.saveFile(this, QStringLiteral("Export Newspapers"),
                                                      QStringLiteral("newspapers.csv"), CsvFiles);
        if (csv.isEmpty())
            return;
        const QString db = m_table->fileName();
        startTool({QStringLiteral("Writing %1").arg(QFileInfo(csv).fileName())},
                  [this, db, csv](Progress& progress) -> BackgroundWork::Completion {
                      try {
                          const qint64 written = DbTool::exportCsv(db, csv, progress);
                          return concluding([this, written, csv] {
                              tell(QStringLiteral("Exported %1 to %2.").arg(newspapers(written), csv));
                          });
                      } catch (const WorkCancelled&) {
                          return concluding(
                              [this] { tell(QStringLiteral("The export was cancelled; nothing was exported.")); });
                      }
                  });
    });
}

void MainWindow::mergeNewerDirectory()
{
    give(QStringLiteral("mergeNewerDirectory"), [this] {
        const QString newer = m_platform.files.openFile(this, QStringLiteral("Merge a Newer Directory"), Directories);
        if (newer.isEmpty())
            return;
        // Without the directory yours started from, the merge can only add.
        const QString base = m_platform.files.openFile(
            this, QStringLiteral("The Directory Yours Started From (Cancel: Merge Without One)"), Directories);
        const QString db = m_table->fileName();
        startTool({QStringLiteral("Working out the merge")},
                  [this, db, newer, base](Progress& progress) -> BackgroundWork::Completion {
                      try {
                          auto plan = std::make_shared<merge::Plan>(merge::plan(db, newer, base, progress));
                          return concluding([this, plan, newer, base] { reviewMerge(plan, newer, base); });
                      } catch (const WorkCancelled&) {
                          return concluding(
                              [this] { tell(QStringLiteral("The merge was cancelled; nothing was merged.")); });
                      }
                  });
    });
}

void MainWindow::reviewMerge(const std::shared_ptr<merge::Plan>& plan, const QString& newer, const QString& base)
{
    if (plan->result().changes.empty()) {
        tell(QStringLiteral("Your directory has every newspaper of %1 as it is there; there is nothing to merge.")
                 .arg(newer));
        return;
    }
    MergeReportDialog report(plan->result(), newer, base, this);
    if (report.exec() != QDialog::Accepted)
        return;
    startTool({QStringLiteral("Merging")}, [this, plan, newer](Progress& progress) -> BackgroundWork::Completion {
        try {
            merge::apply(*plan, progress);
            return concluding([this, plan, newer] {
                m_table->refresh();
                tell(merged(plan->result(), newer));
            });
        } catch (const WorkCancelled&) {
            return concluding([this] { tell(QStringLiteral("The merge was cancelled; nothing was merged.")); });
        }
    });
}

void MainWindow::checkWebAddresses()
{
    give(QStringLiteral("checkWebAddresses"), [this] {
        if (!confirm(QStringLiteral("Check the web address of every newspaper? Each one is asked for over the "
                                    "internet, which can take a while.")))
            return;
        const QString db = m_table->fileName();
        startTool({QStringLiteral("Checking the web addresses")},
                  [this, db](Progress& progress) -> BackgroundWork::Completion {
                      auto check = std::make_shared<links::TableCheck>(links::checkTable(db, {}, progress));
                      return concluding([this, check] { reviewCheck(*check); });
                  });
    });
}

void MainWindow::reviewCheck(const links::TableCheck& check)
{
    if (check.cancelled) {
        tell(QStringLiteral("The check was cancelled after %1 of %2 web addresses; nothing was changed.")
                 .arg(check.tally.done)
                 .arg(check.tally.total));
        return;
    }
    const QString summary = LinkCheckWindow::summary(check.tally);
    if (LinkCheckWindow::listed(check).empty()) {
        tell(summary + QStringLiteral("\n\nNo address is broken, unreachable or moved."));
        return;
    }
    LinkCheckWindow window(m_platform, m_table->fileName(), check, this);
    // Each change shows at once in the grid behind.
    connect(&window, &LinkCheckWindow::tableChanged, this,
            [this] { ErrorReport::guard(m_platform, this, [this] { m_table->refresh(); }); });
    window.exec();
}
