#pragma once

#include "directory/Record.h"

#include <QAbstractTableModel>
#include <QColor>
#include <vector>

class Table;

// One column of the grid: the field it shows and how it looks.
struct GridColumn
{
    Field::Position field;
    QString title;
    int width = 64;
    // Give both colours or neither: a fixed background under the theme's text colour
    // turns unreadable in some theme.
    QColor color;     // background; invalid: the grid's own
    QColor fontColor; // invalid: the grid's own text colour
};

// Connects the grid to the table: rows are fetched only when the grid draws them.
class DirectoryModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit DirectoryModel(Table& table, QObject* parent = nullptr);

    Table& table() const { return m_table; }
    void setColumns(std::vector<GridColumn> columns);
    const std::vector<GridColumn>& columns() const { return m_columns; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    Table& m_table;
    std::vector<GridColumn> m_columns;
};
