#include "grid/NameListModel.h"

#include "lists/NameListFile.h"

void NameListModel::setLines(QList<QByteArray> lines, bool newestFirst)
{
    beginResetModel();
    m_lines = std::move(lines);
    m_newestFirst = newestFirst;
    endResetModel();
}

const QByteArray& NameListModel::line(int row) const
{
    return m_lines.at(m_newestFirst ? m_lines.size() - 1 - row : row);
}

int NameListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_lines.size());
}

QVariant NameListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_lines.size())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return NameListFile::display(line(index.row()));
    case Qt::UserRole:
        return line(index.row());
    default:
        return {};
    }
}
