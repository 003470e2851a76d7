#include "tables/FrmConfigurazioneReparti.h"

#include "app/PanelBinding.h"

#include <QCheckBox>
#include <QFont>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmar {

namespace {

QLabel* label(const QString& text, const QString& name, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

QLabel* heading(const QString& text, const QString& name, QWidget* parent) {
    QLabel* l = label(text, name, parent);
    QFont bold = l->font();
    bold.setBold(true);
    l->setFont(bold);
    return l;
}

// A field of the selected department; `readOnly` for what is shown and never
// saved.
QLineEdit* field(TextControl& control, QWidget* parent, int minimumChars = 0, bool readOnly = false) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(control.name());
    if (minimumChars > 0) {
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QLatin1Char('0')) *
                                  (minimumChars + 1) +
                              12);
        edit->setMaximumWidth(edit->minimumWidth());
    }
    ui::bind(edit, control, readOnly);
    if (readOnly) {
        // Looks shown, not typed in: the window's background behind it.
        edit->setFrame(false);
        edit->setBackgroundRole(QPalette::Window);
        edit->setFocusPolicy(Qt::NoFocus);
    }
    return edit;
}

QPushButton* button(ButtonControl& control, QWidget* parent) {
    auto* b = new QPushButton(parent);
    b->setObjectName(control.name());
    // Enter in a text box must not press a button: every change is the
    // operator's choice of a button.
    b->setAutoDefault(false);
    b->setDefault(false);
    ui::bind(b, control);
    return b;
}

// A list wide enough for `longest`.
QListWidget* list(ListControl& control, const QString& longest, std::function<void()> clicked,
                  QWidget* parent) {
    auto* l = new QListWidget(parent);
    l->setObjectName(control.name());
    l->setSelectionMode(QAbstractItemView::SingleSelection);
    l->setMinimumWidth(l->fontMetrics().horizontalAdvance(longest) + 40);
    l->setTextElideMode(Qt::ElideNone);
    ui::bind(l, control, std::move(clicked));
    return l;
}

} // namespace

FrmConfigurazioneReparti::FrmConfigurazioneReparti(DepartmentTables& tables, OperatorUi& ui,
                                                   std::function<void()> openManual,
                                                   QWidget* parent)
    : QDialog(parent), editor_(tables, ui), openManual_(std::move(openManual)) {
    setObjectName(QStringLiteral("FrmConfigurazioneReparti"));
    setWindowTitle(DepartmentEditor::caption());
    setModal(true);
    setSizeGripEnabled(true);

    auto* menu = new QMenuBar(this);
    menu->setObjectName(QStringLiteral("menuBar"));
    QAction* manual = menu->addAction(QStringLiteral("&Manuale Velmar"));
    manual->setObjectName(QStringLiteral("m_Manual"));
    connect(manual, &QAction::triggered, this, [this] {
        if (openManual_) {
            openManual_();
        }
    });

    // The two lists side by side.
    auto* departments = new QVBoxLayout;
    departments->addWidget(heading(QStringLiteral("Lista dei Reparti"), QStringLiteral("lblListaReparti"), this));
    departments->addWidget(list(editor_.List1, QStringLiteral("Reparto n. 00   [IVA 22.00%, Buono monouso]"),
                                     [this] { editor_.List1_Click(); }, this), 1);
    auto* rates = new QVBoxLayout;
    rates->addWidget(heading(QStringLiteral(" Aliquote"), QStringLiteral("lblAliquote"), this));
    rates->addWidget(list(editor_.List2, QStringLiteral("Ventilazione Iva 00"), [this] { editor_.List2_Click(); }, this), 1);

    // The selected department: its code and description, its VAT rate, its flags.
    auto* selected = new QFrame(this);
    selected->setObjectName(QStringLiteral("fraRepartoSelezionato"));
    selected->setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(selected);
    grid->addWidget(heading(QStringLiteral("Reparto Selezionato"), QStringLiteral("lblRepartoSelezionato"),
                            selected),
                    0, 0, 1, 3);
    grid->addWidget(label(QStringLiteral("Reparto"), QStringLiteral("lblReparto"), selected), 1, 0);
    grid->addWidget(field(editor_.CodiceReparto, selected, 4), 1, 1);
    grid->addWidget(field(editor_.DescrizioneReparto, selected, 0, true), 1, 2);
    grid->addWidget(label(QStringLiteral("Aliquota IVA"), QStringLiteral("lblAliquotaIva"), selected), 2, 0);
    grid->addWidget(field(editor_.CodiceIva, selected, 4), 2, 1);
    grid->addWidget(field(editor_.DescrizioneIva, selected, 0, true), 2, 2);
    grid->addWidget(label(QStringLiteral("Percentuale"), QStringLiteral("lblPercentuale"), selected), 3, 0);
    grid->addWidget(field(editor_.Aliquota, selected, 6, true), 3, 1);

    auto* gift = new QCheckBox(QStringLiteral("Flag Omaggio"), selected);
    gift->setObjectName(editor_.FlagOmaggio.name());
    ui::bind(gift, editor_.FlagOmaggio);
    auto* voucher = new QCheckBox(QStringLiteral("Flag Buono Monouso"), selected);
    voucher->setObjectName(editor_.FlagBuono.name());
    ui::bind(voucher, editor_.FlagBuono);
    grid->addWidget(gift, 4, 1, 1, 2);
    grid->addWidget(voucher, 5, 1, 1, 2);
    grid->setColumnStretch(2, 1);
    grid->setColumnMinimumWidth(2, fontMetrics().horizontalAdvance(QStringLiteral("Ventilazione Iva 00")) + 24);

    auto* departmentButtons = new QHBoxLayout;
    departmentButtons->addStretch(1);
    departmentButtons->addWidget(button(editor_.StoreDataReparto, selected));
    departmentButtons->addWidget(button(editor_.ClearDataReparto, selected));
    grid->addLayout(departmentButtons, 6, 0, 1, 3);
    auto* outcome = new QLabel(selected);
    outcome->setObjectName(editor_.lblEsito.name());
    outcome->setWordWrap(true);
    outcome->setText(editor_.lblEsito.text());
    connect(&editor_.lblEsito, &TextControl::changed, outcome, &QLabel::setText);
    grid->addWidget(outcome, 7, 0, 1, 3);
    grid->setRowStretch(8, 1);

    auto* body = new QHBoxLayout;
    body->addLayout(departments, 1);
    body->addLayout(rates, 1);
    body->addWidget(selected, 2);

    auto* save = button(editor_.Command1, this);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(save);

    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(menu);
    layout->addLayout(body, 1);
    layout->addLayout(bottom);

    // "Salvataggio Tabelle" has written both files: the window closes as saved.
    connect(&editor_, &DepartmentEditor::closeRequested, this, &QDialog::accept);
    resize(sizeHint().width(), 420);
}

FrmConfigurazioneReparti::~FrmConfigurazioneReparti() {
    if (loaded_) {
        editor_.unload(); // destroyed while open: the edits go as on any close
    }
}

void FrmConfigurazioneReparti::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!loaded_) {
        loaded_ = true;
        editor_.load();
    }
}

void FrmConfigurazioneReparti::reject() {
    // The close box and Esc: changes not saved are not lost without a word.
    if (editor_.mayClose()) {
        QDialog::reject();
    }
}

void FrmConfigurazioneReparti::done(int result) {
    // However the window closes, the documents go: edits not saved are lost,
    // and the converter's next lookup reads the files again.
    editor_.unload();
    loaded_ = false;
    QDialog::done(result);
}

} // namespace velmar
