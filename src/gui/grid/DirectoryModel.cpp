#include "grid/DirectoryModel.h"

#include "directory/Record.h"
#include "directory/Table.h"

DirectoryModel::DirectoryModel(Table& table, QObject* parent)
    : QAbstractTableModel(parent)
    , m_table(table)
{
    connect(&m_table, &Table::rowsReset, this, [this] {
        beginResetModel();
        endResetModel();
    });
}

void DirectoryModel::setColumns(std::vector<GridColumn> columns)
{
    beginResetModel();
    m_columns = std::move(columns);
    endResetModel();
}

int DirectoryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_table.recordCount();
}

int DirectoryModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant DirectoryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= static_cast<int>(m_columns.size()))
        return {};
    const GridColumn& column = m_columns[static_cast<size_t>(index.column())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
        return m_table.displayText(index.row(), column.field);
    }
    case Qt::BackgroundRole:
        return column.color.isValid() ? QVariant(column.color) : QVariant();
    case Qt::ForegroundRole:
        return column.fontColor.isValid() ? QVariant(column.fontColor) : QVariant();
    default:
        return {};
    }
}

QVariant DirectoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= static_cast<int>(m_columns.size()))
            return {};
        if (role == Qt::DisplayRole)
            return m_columns[static_cast<size_t>(section)].title;
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
        return {};
    }
    return {}; // the row header only carries the current-record marker, which the grid draws
}

Qt::ItemFlags DirectoryModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}
