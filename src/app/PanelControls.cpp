#include "app/PanelControls.h"

namespace velmar {

void PanelControl::setEnabled(bool on) {
    if (enabled_ == on) {
        return;
    }
    enabled_ = on;
    emit enabledChanged(on);
}

void TextControl::setText(const QString& text) {
    if (text_ == text) {
        return;
    }
    text_ = text;
    emit changed(text_);
}

void ListControl::setItems(const QStringList& items) {
    items_ = items;
    index_ = -1;
    text_.clear();
    emit changed();
}

void ListControl::setListIndex(int index) {
    if (index < 0 || index >= items_.size()) {
        index = -1;
    }
    const QString text = index >= 0 ? items_.at(index) : QString();
    if (index == index_ && text == text_) {
        return;
    }
    index_ = index;
    text_ = text;
    emit changed();
}

void ListControl::setText(const QString& text) {
    const int index = static_cast<int>(items_.indexOf(text));
    if (index == index_ && text == text_) {
        return;
    }
    index_ = index;
    text_ = text;
    emit changed();
}

} // namespace velmar
