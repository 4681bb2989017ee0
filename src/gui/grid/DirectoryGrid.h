#pragma once

#include "grid/DirectoryModel.h"

#include <QTableView>

// The directory grid: a read-only view of the table through its model. Its
// current row is the table's current record, in both directions.
class DirectoryGrid : public QTableView
{
    Q_OBJECT

public:
    static constexpr int RowHeight = 17;
    static constexpr int IndicatorWidth = 11;

    explicit DirectoryGrid(QWidget* parent = nullptr);

    void setDirectoryModel(DirectoryModel* source);
    DirectoryModel* directoryModel() const { return m_source; }

    // Where a pop-up menu asked for from the keyboard opens, in global coordinates: below
    // the current row's first cell, or at the top of the rows on an empty grid.
    QPoint popupPosition() const;

signals:
    void titleClicked(const GridColumn& column);
    // A double-click anywhere on the rows area, also on an empty grid.
    void gridDoubleClicked();
    // Enter (Return or keypad Enter), Delete and Ctrl+C pressed in the grid, also on an
    // empty grid.
    void enterPressed();
    void deletePressed();
    void copyPressed();
    // Shift+F10 or the Menu key: the pop-up menu, at popupPosition().
    void popupKeyPressed();
    // Moving to another record failed; the message is for the general error report.
    void moveFailed(const QString& message);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void followTable(int row);
    // The current row's rectangle in the viewport; empty when none is shown.
    QRect currentRowRect() const;

    DirectoryModel* m_source = nullptr;
    bool m_following = false;
};
