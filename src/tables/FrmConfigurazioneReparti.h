#pragma once
// The department and VAT table editor window, "Configurazione Tabella Reparti
// Iva": a modal dialog owned by the main window, bound to a DepartmentEditor
// on the table object. Only "Salvataggio Tabelle" writes the files; closing
// the window any other way discards the edits, after asking when there are
// some.

#include "tables/DepartmentEditor.h"

#include <QDialog>
#include <functional>

namespace velmar {

class FrmConfigurazioneReparti : public QDialog {
    Q_OBJECT
public:
    // `openManual` runs the main window's "&Manuale Velmar".
    FrmConfigurazioneReparti(DepartmentTables& tables, OperatorUi& ui, std::function<void()> openManual,
                             QWidget* parent = nullptr);
    ~FrmConfigurazioneReparti() override;

    DepartmentEditor& editor() { return editor_; }

protected:
    void showEvent(QShowEvent* event) override;  // window load
    void done(int result) override;               // window unload, however it closes
    void reject() override;                       // the close box and Esc ask first

private:
    DepartmentEditor editor_;
    std::function<void()> openManual_;
    bool loaded_ = false;
};

} // namespace velmar
