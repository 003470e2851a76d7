#pragma once
// The kinds of control the operator panel model holds. They carry the state a
// window shows (text, value, list selection, enabled) and announce changes;
// the windows bind to them, the engine reads and writes them. Setting a value
// from code runs the same handlers as the operator's click whenever the value
// changes, because handlers connect to the same signal.

#include <QObject>
#include <QString>
#include <QList>
#include <QStringList>
#include <initializer_list>

namespace velmar {

class PanelControl : public QObject {
    Q_OBJECT
public:
    explicit PanelControl(QString name, QObject* parent = nullptr)
        : QObject(parent), name_(std::move(name)) {}
    const QString& name() const { return name_; }
    bool enabled() const { return enabled_; }
    void setEnabled(bool on);
    bool visible() const { return visible_; }
    void setVisible(bool on);

signals:
    void enabledChanged(bool on);
    void visibleChanged(bool on);

private:
    QString name_;
    bool enabled_ = true;
    bool visible_ = true;
};

// A frame or a menu entry: only enabled and visible.
using FrameControl = PanelControl;

// A text field.
class TextControl : public PanelControl {
    Q_OBJECT
public:
    using PanelControl::PanelControl;
    const QString& text() const { return text_; }
    void setText(const QString& text);

signals:
    void changed(const QString& text);

private:
    QString text_;
};

// A drop-down list: a list of items, the selected index (-1 for none) and the
// text in its edit field, which follows the selection.
class ListControl : public PanelControl {
    Q_OBJECT
public:
    using PanelControl::PanelControl;
    const QStringList& items() const { return items_; }
    void setItems(const QStringList& items);
    int listIndex() const { return index_; }
    void setListIndex(int index); // out of range selects nothing
    const QString& text() const { return text_; }
    void setText(const QString& text); // selects the item with that text, if any

signals:
    void changed();

private:
    QStringList items_;
    int index_ = -1;
    QString text_;
};

// A check box: value 0 or 1. Setting the value, from a click or from code,
// announces `clicked` whenever it changes; its handlers run either way.
class CheckControl : public PanelControl {
    Q_OBJECT
public:
    using PanelControl::PanelControl;
    int value() const { return value_; }
    void setValue(int value);

signals:
    void clicked();

private:
    int value_ = 0;
};

// One of a group of option buttons. Selecting it clears the others of the
// group and announces `clicked`, whenever it was not selected before.
class OptionControl : public PanelControl {
    Q_OBJECT
public:
    using PanelControl::PanelControl;
    bool value() const { return value_; }
    void select();
    // Joins options into one group (each clears the others when selected).
    static void group(std::initializer_list<OptionControl*> options);

signals:
    void changed(bool value); // any change, for windows to show
    void clicked();           // this option became the selected one

private:
    void setValueQuietly(bool on);
    bool value_ = false;
    QList<OptionControl*> group_;
};

// A shape used as a lamp: fill and back colour as RGB numbers (green 65280,
// red 255).
class LampControl : public PanelControl {
    Q_OBJECT
public:
    static constexpr int kGreen = 65280;
    static constexpr int kRed = 255;
    using PanelControl::PanelControl;
    int fillColor() const { return fill_; }
    int backColor() const { return back_; }
    void setColor(int rgb); // fill and back together
    void setFillColor(int rgb);
    void setBackColor(int rgb);

signals:
    void changed();

private:
    int fill_ = 0xC0C0C0;
    int back_ = 0xC0C0C0;
};

// A button: caption and enabled. `click()` is what the window calls when the
// operator presses it; the engine connects the handler to `clicked`.
class ButtonControl : public PanelControl {
    Q_OBJECT
public:
    ButtonControl(QString name, QString caption, QObject* parent = nullptr)
        : PanelControl(std::move(name), parent), caption_(std::move(caption)) {}
    const QString& caption() const { return caption_; }
    void setCaption(const QString& caption);
    void click() { emit clicked(); }

signals:
    void clicked();
    void captionChanged(const QString& caption);

private:
    QString caption_;
};

// The notification-area icon: visible or not, idle or busy, and its tip
// (64 characters at most).
class TrayControl : public PanelControl {
    Q_OBJECT
public:
    enum class Icon { Window, Busy };
    using PanelControl::PanelControl;
    Icon icon() const { return icon_; }
    const QString& tip() const { return tip_; }
    void show(Icon icon, const QString& tip); // adds or modifies the icon
    void remove();                            // deletes it
    // A notice beside the icon, for a moment (a job that ended in error).
    void notify(const QString& title, const QString& text) { emit notified(title, text); }

signals:
    void changed();
    void notified(const QString& title, const QString& text);

private:
    Icon icon_ = Icon::Window;
    QString tip_;
};

} // namespace velmar
