#include "widgets/Controls.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QWidget>

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

void labelFor(QLabel* label, QWidget* control)
{
    label->setBuddy(control);
    if (auto* combo = qobject_cast<QComboBox*>(control)) {
        if (combo->lineEdit())
            combo->lineEdit()->setAccessibleName(label->text());
        combo->view()->setAccessibleName(label->text());
    }
}

bool isEnterKey(const QKeyEvent& key)
{
    return key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
}

bool isTypedCarriageReturn(const QKeyEvent& key)
{
    return !isEnterKey(key) &&
           (key.text() == QLatin1String("\r") || (key.key() == Qt::Key_M && key.modifiers() == Qt::ControlModifier));
}

void centreOnScreen(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    window->move(placement(window->frameGeometry(), screen->availableGeometry()));
}

QPoint placement(QRect frame, QRect available)
{
    frame.moveCenter(available.center());
    return {frame.width() > available.width() ? available.left() : frame.left(),
            frame.height() > available.height() ? available.top() : frame.top()};
}

} // namespace Controls
