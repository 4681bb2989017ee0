#include "widgets/TextDirectionDelegate.h"

Qt::LayoutDirection TextDirectionDelegate::directionOf(const QString& text)
{
    // Decided by the first letter with a direction of its own, as Qt's automatic
    // direction (Qt::LayoutDirectionAuto) decides it for a paragraph.
    return text.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
}

void TextDirectionDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    // The style lays the text out in this direction and mirrors its alignment to match.
    option->direction = directionOf(option->text);
}
