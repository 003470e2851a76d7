#pragma once
// Binds widgets to the operator panel model: a widget shows its control's
// state and hands the operator's changes back to it. Windows hold no state
// and no logic of their own; everything they show lives in the model.

#include "panel/PanelControls.h"

#include <QColor>
#include <QWidget>
#include <functional>

class QAbstractButton;
class QAction;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QWidget;

namespace velmar::ui {

// A shape used as a lamp: a small filled circle in the fill colour, on the
// back colour when it differs. Colours are RGB numbers with red in the low
// byte (255 is pure red, 65280 pure green).
class LampWidget : public QWidget {
public:
    explicit LampWidget(QWidget* parent = nullptr);
    void setColors(int fillRgb, int backRgb);
    QColor fillColor() const { return fill_; }
    QColor backColor() const { return back_; }
    QSize sizeHint() const override { return {18, 18}; }
    static QColor color(int rgb);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
    QColor back_;
};

// Puts a top-level window in the middle of the primary screen.
void centreOnScreen(QWidget* window);
// Enabled and visible state only (frames, labels, menus' widgets).
void bindState(QWidget* widget, PanelControl& control);
// Enabled and visible state of a menu entry.
void bindState(QAction* action, PanelControl& control);
// The lamp's colours.
void bind(LampWidget* lamp, LampControl& control);
// Text both ways; `readOnly` fields only show.
void bind(QLineEdit* edit, TextControl& control, bool readOnly = false);
// Ticked both ways; a click sets the value, which runs the control's handlers.
void bind(QCheckBox* box, CheckControl& control);
// Selected both ways; a click selects the option.
void bind(QRadioButton* button, OptionControl& control);
// Items, selection and text both ways (an editable combo's typed text too).
void bind(QComboBox* combo, ListControl& control);
// Items and selection both ways; `clicked` runs after the operator picks an item
// (a click, or a move with the keys).
void bind(QListWidget* list, ListControl& control, std::function<void()> clicked = {});
// Caption and enabled; a press runs the control's handlers.
void bind(QPushButton* button, ButtonControl& control);

} // namespace velmar::ui
