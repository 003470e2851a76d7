#include "panel/PanelControls.h"

namespace velmar {

void PanelControl::setEnabled(bool on) {
    if (enabled_ == on) {
        return;
    }
    enabled_ = on;
    emit enabledChanged(on);
}

void PanelControl::setVisible(bool on) {
    if (visible_ == on) {
        return;
    }
    visible_ = on;
    emit visibleChanged(on);
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

void CheckControl::setValue(int value) {
    value = value == 1 ? 1 : 0;
    if (value_ == value) {
        return;
    }
    value_ = value;
    emit clicked();
}

void OptionControl::group(std::initializer_list<OptionControl*> options) {
    for (OptionControl* o : options) {
        o->group_.clear();
        for (OptionControl* other : options) {
            if (other != o) {
                o->group_.append(other);
            }
        }
    }
}

void OptionControl::setValueQuietly(bool on) {
    if (value_ != on) {
        value_ = on;
        emit changed(on);
    }
}

void OptionControl::select() {
    if (value_) {
        return;
    }
    for (OptionControl* other : group_) {
        other->setValueQuietly(false);
    }
    value_ = true;
    emit changed(true);
    emit clicked();
}

void LampControl::setColor(int rgb) {
    if (fill_ == rgb && back_ == rgb) {
        return;
    }
    fill_ = back_ = rgb;
    emit changed();
}

void LampControl::setFillColor(int rgb) {
    if (fill_ != rgb) {
        fill_ = rgb;
        emit changed();
    }
}

void LampControl::setBackColor(int rgb) {
    if (back_ != rgb) {
        back_ = rgb;
        emit changed();
    }
}

void ButtonControl::setCaption(const QString& caption) {
    if (caption_ == caption) {
        return;
    }
    caption_ = caption;
    emit captionChanged(caption_);
}

void TrayControl::show(Icon icon, const QString& tip) {
    const QString cut = tip.left(64);
    if (visible() && icon_ == icon && tip_ == cut) {
        return;
    }
    icon_ = icon;
    tip_ = cut;
    setVisible(true);
    emit changed();
}

void TrayControl::remove() {
    if (!visible()) {
        return;
    }
    setVisible(false);
    emit changed();
}

} // namespace velmar
