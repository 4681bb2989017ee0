#pragma once

#include "datatool/merge/Merge.h"

#include <QDialog>

class QPushButton;
class QTableWidget;

// What a merge would do, shown before anything is written: how many newspapers it adds,
// updates and removes, the conflicts it leaves as the user has them and the records of
// the newer directory it keeps aside, then each of them, one a row. Merge (accept) writes
// it; Cancel writes nothing. When there is nothing to write, only Close is offered.
class MergeReportDialog : public QDialog
{
    Q_OBJECT

public:
    MergeReportDialog(const merge::Result& result, const QString& newerPath, const QString& basePath, QWidget* owner);

    // "Would add 1 newspaper, update 1 and remove 1 ..." for this result.
    static QString counts(const merge::Result& result);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTableWidget* m_list = nullptr;
    QPushButton* m_mergeButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};
