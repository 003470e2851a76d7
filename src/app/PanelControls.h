#pragma once
// The kinds of control the operator panel model holds. They carry the state a
// window shows (text, value, list selection, enabled) and announce changes;
// the windows bind to them, the engine reads and writes them. Setting a value
// from code runs the same handlers as the operator's click whenever the value
// changes, because handlers connect to the same signal.

#include <QObject>
#include <QString>
#include <QStringList>

namespace velmar {

class PanelControl : public QObject {
    Q_OBJECT
public:
    explicit PanelControl(QString name, QObject* parent = nullptr)
        : QObject(parent), name_(std::move(name)) {}
    const QString& name() const { return name_; }
    bool enabled() const { return enabled_; }
    void setEnabled(bool on);

signals:
    void enabledChanged(bool on);

private:
    QString name_;
    bool enabled_ = true;
};

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

} // namespace velmar
