#pragma once
// Message boxes as real dialogs, for the windowed program.

#include "common/OperatorUi.h"

class QWidget;

namespace velmar {

// Qt's own Italian texts (qtbase_it from Qt's translations folder): the
// standard buttons ("Sì", "No", "Annulla") and the text fields' menus
// ("Copia", "Seleziona tutto"). False when the translation is not installed.
bool installItalianTranslations();

class QtOperatorUi : public OperatorUi {
public:
    // Boxes are modal to `parent` (or to the application when null).
    explicit QtOperatorUi(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    MsgAnswer showMessage(const MessageBox& box) override;

    // Every box also goes here (the program's log), as one line.
    std::function<void(const QString&)> log;

private:
    QWidget* parent_;
};

} // namespace velmar
