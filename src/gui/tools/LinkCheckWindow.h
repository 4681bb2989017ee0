#pragma once

#include "datatool/links/LinkOperations.h"
#include "desktop/Platform.h"

#include <QDialog>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

// What an address check found that needs the user: the broken, unreachable and moved
// newspapers, one a row (name, address, verdict, status, new address or reason), sorted
// by a click on a column title. Enter or a double-click opens a row's address in the
// browser. From here the new addresses of moved newspapers are applied (all of them, or
// the selected ones) and selected broken newspapers deleted, after asking; each acts only
// on a record still as it was checked, and its summary says which were left alone.
class LinkCheckWindow : public QDialog
{
    Q_OBJECT

public:
    LinkCheckWindow(const Platform& platform, QString dbPath, const links::TableCheck& check, QWidget* owner);

    // "Checked 40 web addresses: 35 ok, ..." for a finished check.
    static QString summary(const links::CheckTally& tally);
    // The records the window lists, in No order.
    static std::vector<links::RecordCheck> listed(const links::TableCheck& check);

    // The rows as shown, each "Name|verdict".
    QStringList rows() const;

signals:
    // Records were changed or deleted: the grid behind should show it.
    void tableChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fill();
    const links::RecordCheck& recordOn(int row) const;
    // The rows selected, or every row, with the verdict wanted.
    std::vector<int> rowsWith(links::Verdict verdict, bool selectedOnly) const;
    void applyNewAddresses(bool selectedOnly);
    void deleteBroken();
    void openRow(int row);
    void removeRows(std::vector<int> rows);
    void updateButtons();
    // Says what was done to `done` records and why the others were left alone.
    void report(const QString& done, const std::vector<links::ChangeOutcome>& outcomes);

    const Platform& m_platform;
    const QString m_dbPath;
    std::vector<links::RecordCheck> m_records;

    QLabel* m_summary = nullptr;
    QTableWidget* m_list = nullptr;
    QPushButton* m_applyAllButton = nullptr;
    QPushButton* m_applySelectedButton = nullptr;
    QPushButton* m_deleteButton = nullptr;
    QPushButton* m_closeButton = nullptr;
};
