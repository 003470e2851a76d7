#include "tables/DepartmentEditor.h"

#include "common/Cp1252.h"
#include "common/Fault.h"
#include "common/TextRules.h"

#include <QDir>
#include <QDomElement>
#include <QDomNodeList>
#include <QFileInfo>

namespace velmar {

namespace {

const QString kReparto = QStringLiteral("Reparto");
const QString kAliquota = QStringLiteral("Aliquota");
const QString kTrue = QStringLiteral("True");
const QString kFalse = QStringLiteral("False");

// The n-th element `name` whose parent is a `parent`: the n-th entry's.
QDomElement nth(QDomDocument& doc, const QString& name, const QString& parent, int n) {
    const QDomNodeList nodes = doc.elementsByTagName(name);
    int seen = 0;
    for (int i = 0; i < nodes.size(); ++i) {
        const QDomNode up = nodes.item(i).parentNode();
        if (up.isElement() && up.toElement().tagName() == parent && ++seen == n) {
            return nodes.item(i).toElement();
        }
    }
    return {};
}

// The number in a text, as the tables read numbers (0 when there is none).
int numberIn(const QString& text) {
    try {
        return text::toInt16(text::leadingNumber(cp1252::encode(text).toStdString()));
    } catch (const Fault&) {
        return 0;
    }
}

} // namespace

DepartmentEditor::DepartmentEditor(DepartmentTables& tables, OperatorUi& ui, QObject* parent)
    : QObject(parent), tables_(tables), ui_(ui) {
    connect(&StoreDataReparto, &ButtonControl::clicked, this, &DepartmentEditor::StoreDataReparto_Click);
    connect(&ClearDataReparto, &ButtonControl::clicked, this, &DepartmentEditor::ClearDataReparto_Click);
    connect(&Command1, &ButtonControl::clicked, this, &DepartmentEditor::Command1_Click);
}

std::optional<QString> DepartmentEditor::department(int n, const QString& name) {
    const QDomElement e = nth(tables_.departmentDocument(), name, kReparto, n);
    return e.isNull() ? std::nullopt : std::optional<QString>(e.text());
}

std::optional<QString> DepartmentEditor::vat(int n, const QString& name) {
    const QDomElement e = nth(tables_.vatDocument(), name, kAliquota, n);
    return e.isNull() ? std::nullopt : std::optional<QString>(e.text());
}

bool DepartmentEditor::setDepartment(int n, const QString& name, const QString& value) {
    QDomDocument& doc = tables_.departmentDocument();
    QDomElement e = nth(doc, name, kReparto, n);
    if (e.isNull()) {
        return false;
    }
    while (e.hasChildNodes()) {
        e.removeChild(e.firstChild());
    }
    e.appendChild(doc.createTextNode(value));
    return true;
}

void DepartmentEditor::tell(const QString& text, MsgIcon icon, bool untitled, bool systemModal) {
    MessageBox box{text, {}, MsgButtons::Ok, icon, MsgAnswer::Ok};
    box.untitled = untitled;
    box.systemModal = systemModal;
    ui_.showMessage(box);
}

void DepartmentEditor::load() {
    modified_ = false;
    lblEsito.setText(QString());
    const QDir data(tables_.dataDirectory());
    if (!QFileInfo::exists(data.filePath(QLatin1String(DepartmentTables::kDepartmentFile)))) {
        tables_.CreateDefaultReparti();
    }
    LoadDepartmentList();
    if (!QFileInfo::exists(data.filePath(QLatin1String(DepartmentTables::kVatFile)))) {
        tables_.CreateDefaultIva();
    }
    LoadVatList();
    listDepartments(); // with the rates, now that the VAT table is read
    if (List1.items().isEmpty()) {
        tell(QStringLiteral("Nessun reparto da mostrare: %1 è vuoto o non leggibile")
                 .arg(QLatin1String(DepartmentTables::kDepartmentFile)),
             MsgIcon::Exclamation, false);
        return;
    }
    List1.setListIndex(0);
    List1_Click();
}

void DepartmentEditor::LoadDepartmentList() {
    QStringList items;
    if (tables_.LoadReparti() == 0) {
        for (int n = 1;; ++n) {
            const auto description = department(n, QStringLiteral("Descrizione"));
            if (!description) {
                break;
            }
            items << *description;
        }
    }
    List1.setItems(items);
}

QString DepartmentEditor::departmentItem(int n) {
    QString item = department(n, QStringLiteral("Descrizione")).value_or(QString());
    QStringList notes;
    const int v = numberIn(department(n, QStringLiteral("IdIva")).value_or(QString()));
    if (v > 0) {
        const auto percent = vat(v, QStringLiteral("Percentuale"));
        notes << (percent ? QStringLiteral("IVA %1%").arg(percent->trimmed())
                          : QStringLiteral("IVA %1 mancante").arg(v));
    }
    if (department(n, QStringLiteral("FlagOmaggio")) == kTrue) {
        notes << QStringLiteral("Omaggio");
    }
    if (department(n, QStringLiteral("FlagBuono")) == kTrue) {
        notes << QStringLiteral("Buono monouso");
    }
    if (!notes.isEmpty()) {
        item += QStringLiteral("   [") + notes.join(QStringLiteral(", ")) + QLatin1Char(']');
    }
    return item;
}

void DepartmentEditor::listDepartments() {
    const int selected = List1.listIndex();
    QStringList items;
    for (int n = 1; n <= List1.items().size(); ++n) {
        items << departmentItem(n);
    }
    if (items != List1.items()) {
        List1.setItems(items);
        List1.setListIndex(selected);
    }
}

bool DepartmentEditor::vatCodeExists(int code) {
    // The lookup takes the code as the entry's position: the entry there must
    // carry that code.
    const auto id = code >= 1 ? vat(code, QStringLiteral("Id")) : std::nullopt;
    return id && numberIn(*id) == code;
}

void DepartmentEditor::LoadVatList() {
    QStringList items;
    if (tables_.LoadIva() == 0) {
        for (int n = 1;; ++n) {
            const auto description = vat(n, QStringLiteral("Descrizione"));
            if (!description) {
                break;
            }
            items << *description;
        }
    }
    List2.setItems(items);
}

void DepartmentEditor::clearVat() {
    CodiceIva.setText(QString());
    DescrizioneIva.setText(QString());
    Aliquota.setText(QString());
}

void DepartmentEditor::showVat(int position) {
    CodiceIva.setText(vat(position, QStringLiteral("Id")).value_or(QString()));
    DescrizioneIva.setText(vat(position, QStringLiteral("Descrizione")).value_or(QString()));
    Aliquota.setText(vat(position, QStringLiteral("Percentuale")).value_or(QString()));
}

void DepartmentEditor::List1_Click() {
    const int n = List1.listIndex() + 1;
    if (n < 1) {
        return;
    }
    CodiceReparto.setText(department(n, QStringLiteral("Id")).value_or(QString()));
    DescrizioneReparto.setText(department(n, QStringLiteral("Descrizione")).value_or(QString()));
    FlagOmaggio.setValue(department(n, QStringLiteral("FlagOmaggio")) == kTrue ? 1 : 0);
    FlagBuono.setValue(department(n, QStringLiteral("FlagBuono")) == kTrue ? 1 : 0);
    const int v = numberIn(department(n, QStringLiteral("IdIva")).value_or(QString()));
    if (v == 0) {
        clearVat();
        return;
    }
    if (v < 0 || v > List2.items().size()) {
        // The department names a rate the VAT table does not have.
        clearVat();
        tell(QStringLiteral("Il reparto %1 usa l'aliquota IVA n. %2, che non è presente in %3")
                 .arg(n)
                 .arg(v)
                 .arg(QLatin1String(DepartmentTables::kVatFile)),
             MsgIcon::Exclamation, false);
        return;
    }
    List2.setListIndex(v - 1);
    List2_Click();
    showVat(v);
}

void DepartmentEditor::List2_Click() {
    const int j = List2.listIndex();
    if (j >= 0) {
        showVat(j + 1);
    }
}

void DepartmentEditor::StoreDataReparto_Click() {
    const int r = numberIn(CodiceReparto.text());
    const int c = numberIn(CodiceIva.text());
    const bool gift = FlagOmaggio.value() == 1;
    const bool voucher = FlagBuono.value() == 1;
    if (CodiceIva.text().isEmpty()) {
        tell(QStringLiteral("Manca La tabella IVA associata al reparto selezionato"), MsgIcon::Exclamation,
             true, true);
        return;
    }
    if (c != 0 && !vatCodeExists(c)) {
        // The converter could not book a gift or voucher sale on it.
        tell(QStringLiteral("Aliquota IVA %1 non presente in %2: scegliere l'aliquota nella lista delle Aliquote")
                 .arg(CodiceIva.text().trimmed())
                 .arg(QLatin1String(DepartmentTables::kVatFile)),
             MsgIcon::Exclamation, false);
        return;
    }
    if (c > 0 && gift && voucher) {
        tell(QStringLiteral("Il Reparto non può essere settato per Buoni e per Omaggi"), MsgIcon::Exclamation,
             true);
        return;
    }
    if (r <= 0) {
        return;
    }
    const auto id = department(r, QStringLiteral("Id"));
    const int d = id ? numberIn(*id) : 0;
    if (!id || !department(d, QStringLiteral("Id"))) {
        tell(QStringLiteral("Il reparto %1 non è presente in %2")
                 .arg(id ? d : r)
                 .arg(QLatin1String(DepartmentTables::kDepartmentFile)),
             MsgIcon::Exclamation, false);
        return;
    }
    tables_.setCurrentDepartment(static_cast<std::int16_t>(d));
    if (department(r, QStringLiteral("Scelto")) == kTrue) {
        MessageBox ask{QStringLiteral("Reparto già selezionato Vuoi aggiornare"), {}, MsgButtons::YesNo,
                       MsgIcon::Information, MsgAnswer::No};
        ask.systemModal = true;
        if (ui_.showMessage(ask) != MsgAnswer::Yes) {
            return;
        }
        setDepartment(d, QStringLiteral("FlagOmaggio"), gift ? kTrue : kFalse);
        setDepartment(d, QStringLiteral("FlagBuono"), voucher ? kTrue : kFalse);
    } else {
        // A first configuration only ever sets a flag; an unticked box leaves it.
        if (gift) {
            setDepartment(d, QStringLiteral("FlagOmaggio"), kTrue);
        }
        if (voucher) {
            setDepartment(d, QStringLiteral("FlagBuono"), kTrue);
        }
    }
    tables_.currentGiftFlag = gift;
    tables_.currentVoucherFlag = voucher;
    setDepartment(d, QStringLiteral("IdIva"), CodiceIva.text());
    tables_.setCurrentVatCode(static_cast<std::int16_t>(c));
    setDepartment(d, QStringLiteral("Scelto"), kTrue);
    modified_ = true;
    listDepartments();
    QString flags;
    if (department(d, QStringLiteral("FlagOmaggio")) == kTrue) {
        flags += QStringLiteral(", omaggio");
    }
    if (department(d, QStringLiteral("FlagBuono")) == kTrue) {
        flags += QStringLiteral(", buono monouso");
    }
    lblEsito.setText(QStringLiteral("Reparto %1 memorizzato: aliquota IVA %2%3. "
                                    "Premere Salvataggio Tabelle per scrivere i file.")
                         .arg(department(d, QStringLiteral("Id")).value_or(QString()), CodiceIva.text(), flags));
}

void DepartmentEditor::ClearDataReparto_Click() {
    const int n = numberIn(CodiceReparto.text());
    if (n <= 0) {
        return;
    }
    if (!department(n, QStringLiteral("Id"))) {
        tell(QStringLiteral("Il reparto %1 non è presente in %2")
                 .arg(n)
                 .arg(QLatin1String(DepartmentTables::kDepartmentFile)),
             MsgIcon::Exclamation, false);
        return;
    }
    setDepartment(n, QStringLiteral("FlagOmaggio"), kFalse);
    FlagOmaggio.setValue(0);
    tables_.currentGiftFlag = false;
    setDepartment(n, QStringLiteral("FlagBuono"), kFalse);
    FlagBuono.setValue(0);
    tables_.currentVoucherFlag = false;
    setDepartment(n, QStringLiteral("IdIva"), QStringLiteral("0"));
    tables_.setCurrentVatCode(0);
    setDepartment(n, QStringLiteral("Scelto"), kFalse);
    CodiceIva.setText(QStringLiteral("0"));
    DescrizioneIva.setText(QString());
    Aliquota.setText(QString());
    modified_ = true;
    listDepartments();
    lblEsito.setText(QStringLiteral("Reparto %1 ripristinato: nessuna aliquota, nessun flag. "
                                    "Premere Salvataggio Tabelle per scrivere i file.")
                         .arg(department(n, QStringLiteral("Id")).value_or(QString())));
}

void DepartmentEditor::Command1_Click() {
    tables_.StoreDataReparti();
    tables_.StoreDataIva();
    for (TextControl* t : {&Aliquota, &CodiceIva, &DescrizioneIva, &CodiceReparto, &DescrizioneReparto}) {
        t->setText(QString());
    }
    FlagBuono.setValue(0);
    FlagOmaggio.setValue(0);
    modified_ = false;
    lblEsito.setText(QString());
    emit closeRequested();
}

void DepartmentEditor::unload() {
    tables_.discardDocuments();
    modified_ = false;
}

bool DepartmentEditor::mayClose() {
    if (!modified_) {
        return true;
    }
    MessageBox ask{QStringLiteral("Le modifiche ai reparti non sono state salvate.\n"
                                  "Salvarle prima di chiudere?"),
                   {}, MsgButtons::YesNoCancel, MsgIcon::Question, MsgAnswer::Cancel};
    switch (ui_.showMessage(ask)) {
    case MsgAnswer::Yes:
        Command1_Click(); // saves, then closes the window
        return false;
    case MsgAnswer::No:
        return true;
    default:
        return false; // back to the editor
    }
}

} // namespace velmar
