#include "tools/MergeReportDialog.h"

#include "mainwindow/MainWindow.h"
#include "widgets/Controls.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString newspapers(qint64 count)
{
    return count == 1 ? QStringLiteral("1 newspaper") : QStringLiteral("%1 newspapers").arg(count);
}

// What each action means for the user's directory.
QString meaning(merge::Action action)
{
    switch (action) {
    case merge::Action::Added:
        return QStringLiteral("to be added");
    case merge::Action::Updated:
        return QStringLiteral("to be updated");
    case merge::Action::Removed:
        return QStringLiteral("to be removed");
    case merge::Action::Conflict:
        return QStringLiteral("conflict: kept as you have it");
    case merge::Action::Kept:
        return QStringLiteral("kept aside");
    }
    return QString();
}

} // namespace

MergeReportDialog::MergeReportDialog(const merge::Result& result, const QString& newerPath, const QString& basePath,
                                     QWidget* owner)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("mergeReport"));
    setWindowTitle(QStringLiteral("Merge a Newer Directory"));
    setFont(MainWindow::windowFont());
    setSizeGripEnabled(true);
    resize(760, 420);

    const QString how = result.threeWay
                            ? QStringLiteral("Merging %1 into your directory, from the directory yours started from, "
                                             "%2.")
                                  .arg(newerPath, basePath)
                            : QStringLiteral("Merging %1 into your directory without the directory yours started "
                                             "from: only newspapers you lack are added.")
                                  .arg(newerPath);
    auto* heading = new QLabel(how + QStringLiteral("\n") + counts(result) +
                                   QStringLiteral(" Nothing is written "
                                                  "until you choose Merge."),
                               this);
    heading->setObjectName(QStringLiteral("mergeSummary"));
    heading->setWordWrap(true);

    m_list = new QTableWidget(static_cast<int>(result.changes.size()), 5, this);
    m_list->setObjectName(QStringLiteral("mergeList"));
    m_list->setAccessibleName(QStringLiteral("Newspapers the merge concerns"));
    m_list->setHorizontalHeaderLabels({QStringLiteral("Action"), QStringLiteral("No"), QStringLiteral("Newspaper Name"),
                                       QStringLiteral("Web Address"), QStringLiteral("Differences or Reason")});
    Controls::readOnlyList(m_list, false);
    for (int row = 0; row < static_cast<int>(result.changes.size()); ++row) {
        const merge::Change& change = result.changes[static_cast<size_t>(row)];
        m_list->setItem(row, 0, new QTableWidgetItem(meaning(change.action)));
        m_list->setItem(row, 1, new QTableWidgetItem(change.no > 0 ? QString::number(change.no) : QString()));
        m_list->setItem(row, 2, new QTableWidgetItem(change.fields[Field::Name - 1]));
        m_list->setItem(row, 3, new QTableWidgetItem(change.fields[Field::Url - 1]));
        m_list->setItem(row, 4,
                        new QTableWidgetItem(change.differences.isEmpty() ? change.reason : change.differences));
    }
    m_list->setColumnWidth(0, 150);
    m_list->setColumnWidth(1, 50);
    m_list->setColumnWidth(2, 150);
    m_list->setColumnWidth(3, 170);
    if (m_list->rowCount() > 0)
        m_list->setCurrentCell(0, 0);
    m_list->installEventFilter(this);

    const qint64 writes = result.count(merge::Action::Added) + result.count(merge::Action::Updated) +
                          result.count(merge::Action::Removed);
    m_mergeButton = new QPushButton(QStringLiteral("&Merge"), this);
    m_mergeButton->setObjectName(QStringLiteral("mergeButton"));
    m_mergeButton->setAccessibleName(QStringLiteral("Merge"));
    m_mergeButton->setAccessibleDescription(QStringLiteral("Writes these changes to your directory, all of them"));
    m_mergeButton->setVisible(writes > 0);
    m_cancelButton = new QPushButton(writes > 0 ? QStringLiteral("Cancel") : QStringLiteral("&Close"), this);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_cancelButton->setAccessibleName(writes > 0 ? QStringLiteral("Cancel") : QStringLiteral("Close"));
    m_cancelButton->setAccessibleDescription(QStringLiteral("Closes the report; nothing is written"));
    connect(m_mergeButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_mergeButton);
    buttons->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    m_list->setFocus();
}

QString MergeReportDialog::counts(const merge::Result& result)
{
    QString text = QStringLiteral("It would add %1, update %2 and remove %3.")
                       .arg(newspapers(result.count(merge::Action::Added)))
                       .arg(result.count(merge::Action::Updated))
                       .arg(result.count(merge::Action::Removed));
    if (const qint64 conflicts = result.count(merge::Action::Conflict); conflicts > 0)
        text += QStringLiteral(" %1 you have differently would stay as you have %2.")
                    .arg(newspapers(conflicts), conflicts == 1 ? QStringLiteral("it") : QStringLiteral("them"));
    if (const qint64 kept = result.count(merge::Action::Kept); kept > 0)
        text += QStringLiteral(" %1 of the newer directory would be kept aside.").arg(newspapers(kept));
    return text;
}

bool MergeReportDialog::eventFilter(QObject* watched, QEvent* event)
{
    // Enter while reading the list does not merge: only the Merge button does.
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}
