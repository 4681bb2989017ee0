#pragma once

#include <QRect>
#include <QString>

class QComboBox;
class QLabel;
class QWidget;

// Builders for the controls both windows place at fixed positions.
namespace Controls {

// A label sized to its text, its top-left corner at `at`.
QLabel* label(QWidget* parent, const char* name, const QString& text, QPoint at);

// A drop-down list; an editable one keeps typed text exactly as typed: no completion
// and no new entries.
QComboBox* comboBox(QWidget* parent, const char* name, QRect geometry, bool editable);

} // namespace Controls
