#pragma once
// Binds widgets to the operator panel model: a widget shows its control's
// state and hands the operator's changes back to it. Windows hold no state
// and no logic of their own; everything they show lives in the model.

#include "app/PanelControls.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QWidget;

namespace velmar::ui {

// Enabled and visible state only (frames, labels, menus' widgets).
void bindState(QWidget* widget, PanelControl& control);
// Text both ways; `readOnly` fields only show.
void bind(QLineEdit* edit, TextControl& control, bool readOnly = false);
// Ticked both ways; a click sets the value, which runs the control's handlers.
void bind(QCheckBox* box, CheckControl& control);
// Selected both ways; a click selects the option.
void bind(QRadioButton* button, OptionControl& control);
// Items, selection and text both ways (an editable combo's typed text too).
void bind(QComboBox* combo, ListControl& control);
// Items and selection both ways; `clicked` runs after the operator picks an item.
void bind(QListWidget* list, ListControl& control, std::function<void()> clicked = {});
// Caption and enabled; a press runs the control's handlers.
void bind(QPushButton* button, ButtonControl& control);

} // namespace velmar::ui
