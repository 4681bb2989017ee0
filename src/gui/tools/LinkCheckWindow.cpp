#include "tools/LinkCheckWindow.h"

#include "desktop/ErrorReport.h"
#include "directory/Collation.h"
#include "errors/AppError.h"
#include "lists/WebAddress.h"
#include "mainwindow/MainWindow.h"
#include "widgets/Controls.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

using links::Verdict;

namespace {

enum Column
{
    NameColumn,
    AddressColumn,
    VerdictColumn,
    StatusColumn,
    NewAddressColumn,
    ColumnCount
};

QString newspapers(qint64 count)
{
    return count == 1 ? QStringLiteral("1 newspaper") : QStringLiteral("%1 newspapers").arg(count);
}

// A text sorted as the grid sorts: accented letters with their base letter.
class TextItem : public QTableWidgetItem
{
public:
    explicit TextItem(const QString& text)
        : QTableWidgetItem(text)
        , m_key(Collation::key(text.toStdString()))
    {
    }
    bool operator<(const QTableWidgetItem& other) const override
    {
        return m_key < static_cast<const TextItem&>(other).m_key;
    }

private:
    std::string m_key;
};

// The HTTP status, sorted as a number; none (no answer) first.
class StatusItem : public QTableWidgetItem
{
public:
    explicit StatusItem(int status)
        : QTableWidgetItem(status > 0 ? QString::number(status) : QString())
        , m_status(status)
    {
    }
    bool operator<(const QTableWidgetItem& other) const override
    {
        return m_status < static_cast<const StatusItem&>(other).m_status;
    }

private:
    int m_status;
};

QPushButton* button(QWidget* parent, const char* name, const QString& text, const QString& description)
{
    auto* result = new QPushButton(text, parent);
    result->setObjectName(QLatin1String(name));
    result->setAccessibleName(QString(text).remove(QLatin1Char('&')).remove(QChar(0x2026)));
    result->setAccessibleDescription(description);
    return result;
}

} // namespace

LinkCheckWindow::LinkCheckWindow(const Platform& platform, QString dbPath, const links::TableCheck& check,
                                 QWidget* owner)
    : QDialog(owner)
    , m_platform(platform)
    , m_dbPath(std::move(dbPath))
    , m_records(listed(check))
{
    setObjectName(QStringLiteral("linkCheckWindow"));
    setWindowTitle(QStringLiteral("Check Web Addresses"));
    setFont(MainWindow::windowFont());
    setSizeGripEnabled(true);
    resize(760, 420);

    m_summary = new QLabel(summary(check.tally), this);
    m_summary->setObjectName(QStringLiteral("checkSummary"));
    m_summary->setWordWrap(true);

    m_list = new QTableWidget(0, ColumnCount, this);
    m_list->setObjectName(QStringLiteral("checkList"));
    m_list->setAccessibleName(QStringLiteral("Broken, unreachable and moved newspapers"));
    m_list->setAccessibleDescription(QStringLiteral("Enter or a double-click opens the newspaper's web address"));
    m_list->setHorizontalHeaderLabels({QStringLiteral("Newspaper Name"), QStringLiteral("Web Address"),
                                       QStringLiteral("Verdict"), QStringLiteral("Status"),
                                       QStringLiteral("New Address or Reason")});
    Controls::readOnlyList(m_list, true);
    m_list->installEventFilter(this);
    connect(m_list, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { openRow(row); });
    connect(m_list, &QTableWidget::itemSelectionChanged, this, &LinkCheckWindow::updateButtons);

    m_applyAllButton = button(this, "applyAllButton", QStringLiteral("Apply &All New Addresses"),
                              QStringLiteral("Gives every moved newspaper its new web address"));
    m_applySelectedButton = button(this, "applySelectedButton", QStringLiteral("Apply to &Selected"),
                                   QStringLiteral("Gives the selected moved newspapers their new web addresses"));
    m_deleteButton = button(this, "deleteBrokenButton", QStringLiteral("&Delete Selected Broken\u2026"),
                            QStringLiteral("Deletes the selected broken newspapers from the directory, after asking"));
    m_closeButton = button(this, "closeButton", QStringLiteral("&Close"),
                           QStringLiteral("Closes this window; what was applied or deleted stays so"));
    connect(m_applyAllButton, &QPushButton::clicked, this, [this] { applyNewAddresses(false); });
    connect(m_applySelectedButton, &QPushButton::clicked, this, [this] { applyNewAddresses(true); });
    connect(m_deleteButton, &QPushButton::clicked, this, &LinkCheckWindow::deleteBroken);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_applyAllButton);
    buttons->addWidget(m_applySelectedButton);
    buttons->addWidget(m_deleteButton);
    buttons->addStretch(1);
    buttons->addWidget(m_closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);

    fill();
    m_list->setFocus();
}

QString LinkCheckWindow::summary(const links::CheckTally& tally)
{
    QStringList counts;
    for (const Verdict verdict : links::AllVerdicts)
        counts << QStringLiteral("%1 %2").arg(tally.counts[static_cast<size_t>(verdict)]).arg(verdictName(verdict));
    return QStringLiteral("Checked %1 web %2: %3.")
        .arg(tally.total)
        .arg(tally.total == 1 ? QStringLiteral("address") : QStringLiteral("addresses"),
             counts.join(QLatin1String(", ")));
}

std::vector<links::RecordCheck> LinkCheckWindow::listed(const links::TableCheck& check)
{
    std::vector<links::RecordCheck> records;
    for (const links::RecordCheck& each : check.records) {
        if (each.result && (each.result->verdict == Verdict::Broken || each.result->verdict == Verdict::Unreachable ||
                            each.result->verdict == Verdict::Moved))
            records.push_back(each);
    }
    return records;
}

void LinkCheckWindow::fill()
{
    m_list->setSortingEnabled(false);
    m_list->setRowCount(static_cast<int>(m_records.size()));
    for (int i = 0; i < static_cast<int>(m_records.size()); ++i) {
        const links::RecordCheck& each = m_records[static_cast<size_t>(i)];
        const links::LinkResult& result = *each.result;
        auto* name = new TextItem(each.record.text(Field::Name));
        name->setData(Qt::UserRole, i);
        m_list->setItem(i, NameColumn, name);
        m_list->setItem(i, AddressColumn, new TextItem(each.record.text(Field::Url)));
        m_list->setItem(i, VerdictColumn, new TextItem(links::verdictName(result.verdict)));
        m_list->setItem(i, StatusColumn, new StatusItem(result.status));
        m_list->setItem(i, NewAddressColumn,
                        new TextItem(result.verdict == Verdict::Moved ? result.finalUrl : result.reason));
    }
    m_list->setColumnWidth(NameColumn, 150);
    m_list->setColumnWidth(AddressColumn, 190);
    m_list->setColumnWidth(VerdictColumn, 80);
    m_list->setColumnWidth(StatusColumn, 50);
    m_list->setSortingEnabled(true);
    m_list->sortByColumn(NameColumn, Qt::AscendingOrder);
    if (m_list->rowCount() > 0)
        m_list->setCurrentCell(0, NameColumn, QItemSelectionModel::NoUpdate);
    updateButtons();
}

QStringList LinkCheckWindow::rows() const
{
    QStringList shown;
    for (int row = 0; row < m_list->rowCount(); ++row)
        shown << m_list->item(row, NameColumn)->text() + QLatin1Char('|') + m_list->item(row, VerdictColumn)->text();
    return shown;
}

const links::RecordCheck& LinkCheckWindow::recordOn(int row) const
{
    return m_records[static_cast<size_t>(m_list->item(row, NameColumn)->data(Qt::UserRole).toInt())];
}

std::vector<int> LinkCheckWindow::rowsWith(Verdict verdict, bool selectedOnly) const
{
    std::vector<int> rows;
    for (int row = 0; row < m_list->rowCount(); ++row) {
        const bool chosen = !selectedOnly || m_list->selectionModel()->isRowSelected(row, QModelIndex());
        if (chosen && recordOn(row).result->verdict == verdict)
            rows.push_back(row);
    }
    return rows;
}

void LinkCheckWindow::updateButtons()
{
    m_applyAllButton->setEnabled(!rowsWith(Verdict::Moved, false).empty());
    m_applySelectedButton->setEnabled(!rowsWith(Verdict::Moved, true).empty());
    m_deleteButton->setEnabled(!rowsWith(Verdict::Broken, true).empty());
}

void LinkCheckWindow::applyNewAddresses(bool selectedOnly)
{
    const std::vector<int> rows = rowsWith(Verdict::Moved, selectedOnly);
    if (rows.empty())
        return;
    std::vector<links::AddressChange> changes;
    for (const int row : rows)
        changes.push_back({recordOn(row).record, recordOn(row).result->finalUrl});
    ErrorReport::guard(m_platform, this, [&] {
        const std::vector<links::ChangeOutcome> outcomes = links::applyNewAddresses(m_dbPath, changes);
        removeRows(rows);
        emit tableChanged();
        report(QStringLiteral("Changed the web address of %1."), outcomes);
    });
}

void LinkCheckWindow::deleteBroken()
{
    const std::vector<int> rows = rowsWith(Verdict::Broken, true);
    if (rows.empty())
        return;
    std::vector<links::StoredRecord> records;
    QStringList names;
    for (const int row : rows) {
        records.push_back(recordOn(row).record);
        names << recordOn(row).record.text(Field::Name);
    }
    const QString question = rows.size() == 1
                                 ? QStringLiteral("Are you sure you want to delete this record?")
                                 : QStringLiteral("Are you sure you want to delete these %1 records?").arg(rows.size());
    const QString description = QStringLiteral("The newspapers to delete: %1").arg(names.join(QLatin1String(", ")));
    if (m_platform.boxes.showWithDescription(this, question, QStringLiteral("Confirmation"),
                                             MessageBoxes::Style::Confirmation,
                                             description) != MessageBoxes::Answer::Ok)
        return;
    ErrorReport::guard(m_platform, this, [&] {
        const std::vector<links::ChangeOutcome> outcomes = links::deleteRecords(m_dbPath, records);
        removeRows(rows);
        emit tableChanged();
        report(QStringLiteral("Deleted %1."), outcomes);
    });
}

void LinkCheckWindow::report(const QString& done, const std::vector<links::ChangeOutcome>& outcomes)
{
    const auto count = [&](links::ChangeOutcome outcome) {
        return std::count(outcomes.begin(), outcomes.end(), outcome);
    };
    QString text = done.arg(newspapers(count(links::ChangeOutcome::Done)));
    if (const auto elsewhere = count(links::ChangeOutcome::ChangedElsewhere); elsewhere > 0) {
        text += QStringLiteral("\n\n%1 left alone: changed or deleted by someone else since the check.")
                    .arg(elsewhere == 1 ? QStringLiteral("1 newspaper was")
                                        : QStringLiteral("%1 newspapers were").arg(elsewhere));
    }
    if (const auto refused = count(links::ChangeOutcome::NotAWebAddress); refused > 0) {
        text += QStringLiteral("\n\n%1 left alone: the new address is not a web address.")
                    .arg(refused == 1 ? QStringLiteral("1 newspaper was")
                                      : QStringLiteral("%1 newspapers were").arg(refused));
    }
    m_platform.boxes.show(this, text, ProgramName, MessageBoxes::Style::Plain);
}

void LinkCheckWindow::removeRows(std::vector<int> rows)
{
    std::sort(rows.rbegin(), rows.rend());
    for (const int row : rows)
        m_list->removeRow(row);
    updateButtons();
}

void LinkCheckWindow::openRow(int row)
{
    if (row < 0 || row >= m_list->rowCount())
        return;
    ErrorReport::guard(m_platform, this, [&] {
        const QString stored = recordOn(row).record.text(Field::Url);
        const std::optional<QString> address = WebAddress::forBrowser(stored);
        if (!address)
            throw AppError(QStringLiteral("\"%1\" is not a web address, so it was not opened").arg(stored));
        if (!m_platform.shell.open(*address))
            throw AppError(QStringLiteral("\"%1\" could not be opened: no web browser took it").arg(*address));
    });
}

bool LinkCheckWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Enter in the list opens the current row; it never reaches the buttons.
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            openRow(m_list->currentRow());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
