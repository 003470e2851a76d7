#include "app/PanelBinding.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>

namespace velmar::ui {

void centreOnScreen(QWidget* window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), window->size());
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
}

LampWidget::LampWidget(QWidget* parent) : QWidget(parent) {
    setFixedSize(sizeHint());
    setColors(0xC0C0C0, 0xC0C0C0);
}

QColor LampWidget::color(int rgb) {
    return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

void LampWidget::setColors(int fillRgb, int backRgb) {
    fill_ = color(fillRgb);
    back_ = color(backRgb);
    update();
}

void LampWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    if (back_ != fill_) {
        painter.fillRect(rect(), back_);
    }
    painter.setPen(QPen(QColor(64, 64, 64), 1)); // a lamp looks the same in a locked frame
    painter.setBrush(fill_);
    painter.drawEllipse(r);
}

void bind(LampWidget* lamp, LampControl& control) {
    bindState(lamp, control);
    lamp->setColors(control.fillColor(), control.backColor());
    QObject::connect(&control, &LampControl::changed, lamp,
                     [lamp, &control] { lamp->setColors(control.fillColor(), control.backColor()); });
}

void bindState(QAction* action, PanelControl& control) {
    action->setEnabled(control.enabled());
    action->setVisible(control.visible());
    QObject::connect(&control, &PanelControl::enabledChanged, action, &QAction::setEnabled);
    QObject::connect(&control, &PanelControl::visibleChanged, action, &QAction::setVisible);
}

void bindState(QWidget* widget, PanelControl& control) {
    widget->setEnabled(control.enabled());
    widget->setVisible(control.visible());
    QObject::connect(&control, &PanelControl::enabledChanged, widget, &QWidget::setEnabled);
    QObject::connect(&control, &PanelControl::visibleChanged, widget, &QWidget::setVisible);
}

void bind(QLineEdit* edit, TextControl& control, bool readOnly) {
    bindState(edit, control);
    edit->setReadOnly(readOnly);
    edit->setText(control.text());
    QObject::connect(&control, &TextControl::changed, edit, [edit](const QString& text) {
        if (edit->text() != text) {
            const QSignalBlocker quiet(edit);
            edit->setText(text);
        }
    });
    if (!readOnly) {
        QObject::connect(edit, &QLineEdit::textEdited, &control, &TextControl::setText);
    }
}

void bind(QCheckBox* box, CheckControl& control) {
    bindState(box, control);
    box->setChecked(control.value() == 1);
    QObject::connect(&control, &CheckControl::clicked, box, [box, &control] {
        const QSignalBlocker quiet(box);
        box->setChecked(control.value() == 1);
    });
    QObject::connect(box, &QCheckBox::clicked, &control,
                     [&control](bool checked) { control.setValue(checked ? 1 : 0); });
}

void bind(QRadioButton* button, OptionControl& control) {
    bindState(button, control);
    button->setChecked(control.value());
    QObject::connect(&control, &OptionControl::changed, button, [button](bool on) {
        const QSignalBlocker quiet(button);
        button->setChecked(on);
    });
    QObject::connect(button, &QRadioButton::clicked, &control, [&control](bool checked) {
        if (checked) {
            control.select();
        }
    });
}

void bind(QComboBox* combo, ListControl& control) {
    bindState(combo, control);
    const auto show = [combo, &control] {
        const QSignalBlocker quiet(combo);
        QStringList shown;
        for (int i = 0; i < combo->count(); ++i) {
            shown << combo->itemText(i);
        }
        if (shown != control.items()) {
            combo->clear();
            combo->addItems(control.items());
        }
        combo->setCurrentIndex(control.listIndex());
        if (combo->isEditable()) {
            combo->setEditText(control.text());
        }
    };
    show();
    QObject::connect(&control, &ListControl::changed, combo, show);
    QObject::connect(combo, &QComboBox::activated, &control,
                     [&control](int index) { control.setListIndex(index); });
    if (combo->isEditable()) {
        QObject::connect(combo, &QComboBox::editTextChanged, &control, [&control](const QString& text) {
            if (text != control.text()) {
                control.setText(text);
            }
        });
    }
}

void bind(QListWidget* list, ListControl& control, std::function<void()> clicked) {
    bindState(list, control);
    const auto show = [list, &control] {
        const QSignalBlocker quiet(list);
        QStringList shown;
        for (int i = 0; i < list->count(); ++i) {
            shown << list->item(i)->text();
        }
        if (shown != control.items()) {
            list->clear();
            list->addItems(control.items());
        }
        list->setCurrentRow(control.listIndex());
    };
    show();
    QObject::connect(&control, &ListControl::changed, list, show);
    const auto pick = [&control, clicked](int row) {
        control.setListIndex(row);
        if (clicked) {
            clicked();
        }
    };
    QObject::connect(list, &QListWidget::itemClicked, &control,
                     [list, pick](QListWidgetItem* item) { pick(list->row(item)); });
    // Moving through the list with the keys picks too. A mouse press moves the
    // current row before its click arrives; the click alone picks then.
    QObject::connect(list, &QListWidget::currentRowChanged, &control, [&control, pick](int row) {
        if (row >= 0 && row != control.listIndex() &&
            QGuiApplication::mouseButtons() == Qt::NoButton) {
            pick(row);
        }
    });
}

void bind(QPushButton* button, ButtonControl& control) {
    bindState(button, control);
    button->setText(control.caption());
    QObject::connect(&control, &ButtonControl::captionChanged, button, [button](const QString& caption) {
        button->setText(caption);
        button->repaint(); // shown at once, even when the handler then waits without events
    });
    QObject::connect(button, &QPushButton::clicked, &control, &ButtonControl::click);
}

} // namespace velmar::ui
