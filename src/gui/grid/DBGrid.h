#pragma once

#include "grid/DataSource.h"

#include <QTableView>

// The directory grid: a read-only view of the table through its data source. Its
// current row is the table's current record, in both directions.
class DBGrid : public QTableView
{
    Q_OBJECT

public:
    static constexpr int RowHeight = 17;
    static constexpr int IndicatorWidth = 11;

    explicit DBGrid(QWidget* parent = nullptr);

    void setDataSource(DataSource* source);
    DataSource* dataSource() const { return m_source; }

signals:
    void titleClicked(const GridColumn& column);
    // A double-click anywhere on the rows area, also on an empty grid.
    void gridDoubleClicked();
    // Enter (Return or keypad Enter) and Delete pressed in the grid, also on an empty grid.
    void enterPressed();
    void deletePressed();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void followTable(int row);

    DataSource* m_source = nullptr;
    bool m_following = false;
};
