#pragma once
// The department table editor's state and handlers ("Configurazione Tabella
// Reparti Iva"), on the table object: the window binds its controls to these
// and calls the handlers; everything it shows or changes is here.

#include "common/OperatorUi.h"
#include "panel/PanelControls.h"
#include "tables/DepartmentTables.h"

#include <QObject>

namespace velmar {

class DepartmentEditor : public QObject {
    Q_OBJECT
public:
    DepartmentEditor(DepartmentTables& tables, OperatorUi& ui, QObject* parent = nullptr);

    ListControl List1{QStringLiteral("List1"), this}; // "Lista dei Reparti"
    ListControl List2{QStringLiteral("List2"), this}; // " Aliquote"
    TextControl CodiceReparto{QStringLiteral("CodiceReparto"), this};
    TextControl DescrizioneReparto{QStringLiteral("DescrizioneReparto"), this};
    TextControl CodiceIva{QStringLiteral("CodiceIva"), this};
    TextControl DescrizioneIva{QStringLiteral("DescrizioneIva"), this};
    TextControl Aliquota{QStringLiteral("Aliquota"), this};
    CheckControl FlagOmaggio{QStringLiteral("FlagOmaggio"), this};
    CheckControl FlagBuono{QStringLiteral("FlagBuono"), this};
    ButtonControl StoreDataReparto{QStringLiteral("StoreDataReparto"), QStringLiteral("Salva Reparto"), this};
    ButtonControl ClearDataReparto{QStringLiteral("ClearDataReparto"), QStringLiteral("Ripristina reparto"),
                                   this};
    ButtonControl Command1{QStringLiteral("Command1"), QStringLiteral("Salvataggio Tabelle"), this};
    // What the last "Salva Reparto" or "Ripristina reparto" did, until the
    // tables are saved.
    TextControl lblEsito{QStringLiteral("lblEsito"), this};

    static QString caption() { return QStringLiteral("Configurazione Tabella Reparti Iva"); }

    // Window load: both files exist (defaults when missing), both lists filled,
    // department 1 shown.
    void load();
    void LoadDepartmentList();
    void LoadVatList();
    void List1_Click(); // shows the selected department
    void List2_Click(); // shows the selected VAT entry as the department's candidate
    void StoreDataReparto_Click();
    void ClearDataReparto_Click();
    // Writes both files; the window closes afterwards.
    void Command1_Click();
    // Window unload: the documents are dropped, edits not saved are gone.
    void unload();

    // Departments changed in memory since the window opened or the tables
    // were saved.
    bool modified() const { return modified_; }
    // Closing the window any way but "Salvataggio Tabelle": with changes not
    // saved, asks whether to save them. True when the window may close now;
    // false when it stays open, or when the answer saved the tables (which
    // closes it through closeRequested).
    bool mayClose();
    // The department list's entry: the description, then the department's VAT
    // rate and flags.
    QString departmentItem(int n);

signals:
    void closeRequested();

private:
    // The text of the n-th element `name` under a "Reparto" / "Aliquota";
    // nullopt when there is no such element.
    std::optional<QString> department(int n, const QString& name);
    std::optional<QString> vat(int n, const QString& name);
    bool setDepartment(int n, const QString& name, const QString& value);
    void showVat(int position);
    void clearVat();
    void tell(const QString& text, MsgIcon icon, bool untitled, bool systemModal = false);
    // Whether the VAT table's entry at position `code` carries that code.
    bool vatCodeExists(int code);
    void listDepartments(); // List1's entries again, the selection kept

    DepartmentTables& tables_;
    OperatorUi& ui_;
    bool modified_ = false;
};

} // namespace velmar
