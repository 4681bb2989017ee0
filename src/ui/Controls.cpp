#include "ui/Controls.h"

#include <QComboBox>
#include <QLabel>

namespace Controls {

QLabel* label(QWidget* parent, const char* name, const QString& text, QPoint at)
{
    auto* result = new QLabel(text, parent);
    result->setObjectName(QLatin1String(name));
    result->move(at);
    result->adjustSize();
    return result;
}

QComboBox* comboBox(QWidget* parent, const char* name, QRect geometry, bool editable)
{
    auto* result = new QComboBox(parent);
    result->setObjectName(QLatin1String(name));
    result->setGeometry(geometry);
    result->setEditable(editable);
    if (editable) {
        result->setInsertPolicy(QComboBox::NoInsert);
        result->setCompleter(nullptr);
    }
    result->setMaxVisibleItems(16);
    return result;
}

} // namespace Controls
