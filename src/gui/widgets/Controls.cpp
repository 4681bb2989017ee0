#include "widgets/Controls.h"

#include "widgets/TextDirectionDelegate.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QStylePainter>
#include <QTableWidget>
#include <QWidget>

namespace {

// A drop-down list that shows its entry in the entry's own direction: one in a
// right-to-left script stands at the right, laid out right to left. (An editable one's
// edit field does this by itself.)
class ListBox : public QComboBox
{
public:
    explicit ListBox(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override
    {
        if (isEditable() || TextDirectionDelegate::directionOf(currentText()) == layoutDirection()) {
            QComboBox::paintEvent(event);
            return;
        }
        QStylePainter painter(this);
        painter.setPen(palette().color(QPalette::Text));
        QStyleOptionComboBox option;
        initStyleOption(&option);
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        // The frame and the arrow as usual; the text in the field, from its other side.
        const QRect field = style()
                                ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this)
                                .adjusted(1, 0, -1, 0);
        const QString text = fontMetrics().elidedText(option.currentText, Qt::ElideRight, field.width());
        painter.setLayoutDirection(TextDirectionDelegate::directionOf(text));
        painter.setPen(palette().color(QPalette::ButtonText));
        painter.drawText(field, Qt::AlignAbsolute | Qt::AlignRight | Qt::AlignVCenter, text);
    }
};

// How screen readers meet a labelled drop-down list: named by its label, its entry as
// its value. (Qt's own names a drop-down list after its entry on this desktop, so a
// Country box would be heard as "All".)
class LabelledComboBoxAccessible : public QAccessibleWidget
{
public:
    explicit LabelledComboBoxAccessible(QComboBox* combo)
        : QAccessibleWidget(combo, QAccessible::ComboBox)
    {
    }
    // The name as any widget's: its accessible name, else its label's text.
    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value)
            return combo()->currentText();
        return QAccessibleWidget::text(kind);
    }
    // Its list first, then its edit field when it has one.
    int childCount() const override { return combo()->lineEdit() ? 2 : 1; }
    QAccessibleInterface* child(int index) const override
    {
        if (index == 0)
            return QAccessible::queryAccessibleInterface(combo()->view());
        if (index == 1 && combo()->lineEdit())
            return QAccessible::queryAccessibleInterface(combo()->lineEdit());
        return nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (child && child->object() == combo()->view())
            return 0;
        if (child && combo()->lineEdit() && child->object() == combo()->lineEdit())
            return 1;
        return -1;
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = combo()->isEditable();
        state.expandable = true;
        state.expanded = combo()->view()->isVisible();
        return state;
    }
    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString& action) override
    {
        if (action == showMenuAction() || action == pressAction())
            combo()->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    QComboBox* combo() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* labelledComboBoxes(const QString&, QObject* object)
{
    if (auto* combo = dynamic_cast<ListBox*>(object))
        return new LabelledComboBoxAccessible(combo);
    return nullptr;
}

ListBox::ListBox(QWidget* parent)
    : QComboBox(parent)
{
    // Before anything asks for a list box's accessible interface, which is then kept.
    static const bool installed = [] {
        QAccessible::installFactory(labelledComboBoxes);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace

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
    auto* result = new ListBox(parent);
    result->setObjectName(QLatin1String(name));
    result->setItemDelegate(new TextDirectionDelegate(result));
    result->setGeometry(geometry);
    result->setEditable(editable);
    if (editable) {
        result->setInsertPolicy(QComboBox::NoInsert);
        result->setCompleter(nullptr);
    }
    result->setMaxVisibleItems(16);
    return result;
}

void readOnlyList(QTableWidget* list, bool multiple)
{
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(multiple ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
    list->setTabKeyNavigation(false);
    list->setWordWrap(false);
    list->setItemDelegate(new TextDirectionDelegate(list));
    list->verticalHeader()->hide();
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 4);
    list->horizontalHeader()->setStretchLastSection(true);
}

void labelFor(QLabel* label, QWidget* control)
{
    label->setBuddy(control);
    control->setAccessibleName(label->text());
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
