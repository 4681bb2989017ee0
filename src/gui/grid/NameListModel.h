#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QList>

// The entries of a favourites or history box: the lines of a name-list file, kept as
// bytes and decoded for display only when drawn, so a history of 100,000 visits
// refills its box at once.
class NameListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    // Replaces every entry; newestFirst shows the last line at the top.
    void setLines(QList<QByteArray> lines, bool newestFirst);
    const QByteArray& line(int row) const;
    // Every entry, in the file's order.
    const QList<QByteArray>& lines() const { return m_lines; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    QList<QByteArray> m_lines;
    bool m_newestFirst = false;
};
