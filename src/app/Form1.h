#pragma once
// The closing notice: a small window on top of all others, "Chiusura
// programma Velmar in corso ...", shown while the program shuts down. It
// follows the panel's Form1 control.

#include "panel/PanelControls.h"

#include <QWidget>

namespace velmar {

class Form1 : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kCaption = "Chiusura programma Velmar in corso ...";

    explicit Form1(PanelControl& control, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace velmar
