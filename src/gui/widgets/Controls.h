#pragma once

#include <QRect>
#include <QString>

class QComboBox;
class QKeyEvent;
class QLabel;
class QTableWidget;
class QWidget;

// Builders and helpers shared by both windows.
namespace Controls {

// A label sized to its text, its top-left corner at `at`.
QLabel* label(QWidget* parent, const char* name, const QString& text, QPoint at);

// A drop-down list; an editable one keeps typed text exactly as typed: no completion
// and no new entries. Its entries are laid out in their own direction (see
// TextDirectionDelegate).
QComboBox* comboBox(QWidget* parent, const char* name, QRect geometry, bool editable);

// A list of results to read and pick from, not to edit: whole rows selected (`multiple`:
// more than one), Tab leaving it, one line a row in each text's own direction, the last
// column taking the room left.
void readOnlyList(QTableWidget* list, bool multiple);

// Makes `label` the label of `control`, which screen readers then name after it, never
// after its text; a drop-down's own edit field and list take the same name.
void labelFor(QLabel* label, QWidget* control);

// The Enter or Return key itself.
bool isEnterKey(const QKeyEvent& key);
// A carriage return typed as a character (Ctrl+M) rather than the Enter key.
bool isTypedCarriageReturn(const QKeyEvent& key);

// Where a window's frame goes in a screen's available area: centred, except along a
// side where the frame is larger than the area, where it starts at the area's edge so
// the title bar, the menus and the first column stay on screen.
QPoint placement(QRect frame, QRect available);

// Places a window's frame on the available area of its screen (see placement).
void centreOnScreen(QWidget* window);

} // namespace Controls
