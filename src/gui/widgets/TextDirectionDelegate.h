#pragma once

#include <QStyledItemDelegate>

// Draws each item in the direction of its own text: a name that starts in a
// right-to-left script (Arabic, Hebrew ...) is laid out right to left and stands at the
// right of its cell, whatever the direction of the window.
class TextDirectionDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The direction an item's text is laid out in.
    static Qt::LayoutDirection directionOf(const QString& text);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
