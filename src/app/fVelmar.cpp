#include "app/fVelmar.h"

#include "app/Form1.h"
#include "app/Modulo1.h"
#include "app/PanelBinding.h"
#include "app/TrayIcon.h"
#include "common/ProgramIdentity.h"
#include "support/frmAbout.h"
#include "tables/FrmConfigurazioneReparti.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFont>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

namespace velmar {

namespace {

template <typename W> W* named(W* widget, const QString& name, const QString& tip = {}) {
    widget->setObjectName(name);
    if (!tip.isEmpty()) {
        widget->setToolTip(tip);
    }
    return widget;
}

QGroupBox* frame(const char* name, const QString& title) {
    return named(new QGroupBox(title), QLatin1String(name));
}

// Room for `text` in a line edit: the text's width in the field's font and
// the frame and margins around it.
int roomFor(const QLineEdit* edit, const QString& text) {
    return edit->fontMetrics().horizontalAdvance(text) + 16;
}

// A text field the engine writes and the operator only reads; `longest` is
// the longest text it can hold, which it shows whole.
QLineEdit* shownText(TextControl& control, const QString& tip = {}, const QString& longest = {}) {
    auto* edit = named(new QLineEdit, control.name(), tip);
    ui::bind(edit, control, true);
    if (!longest.isEmpty()) {
        edit->setMinimumWidth(roomFor(edit, longest));
    }
    return edit;
}

// A field whose text may be longer than the room it has: its tip shows it whole.
QLineEdit* shownTextWithTip(TextControl& control, const QString& longest) {
    QLineEdit* edit = shownText(control, {}, longest);
    QObject::connect(&control, &TextControl::changed, edit, [edit](const QString& text) { edit->setToolTip(text); });
    return edit;
}

// A field the operator types in, wide enough for `longest`.
QLineEdit* typedText(TextControl& control, const QString& longest, const QString& tip = {}) {
    auto* edit = named(new QLineEdit, control.name(), tip);
    ui::bind(edit, control);
    edit->setMinimumWidth(roomFor(edit, longest));
    return edit;
}

QPushButton* button(ButtonControl& control, const QString& tip = {}) {
    auto* b = named(new QPushButton, control.name(), tip);
    ui::bind(b, control);
    return b;
}

QComboBox* list(ListControl& control, bool editable) {
    auto* combo = named(new QComboBox, control.name());
    combo->setEditable(editable);
    ui::bind(combo, control);
    return combo;
}

} // namespace

fVelmar::fVelmar(VelmarProgram& program, QWidget* parent)
    : QMainWindow(parent), program_(program) {
    setObjectName(QStringLiteral("fVelmar"));
    setWindowTitle(QLatin1String(identity::kTitle));
    setWindowIcon(ui::programIcon());

    auto* central = new QWidget;
    auto* columns = new QHBoxLayout;
    columns->setSpacing(10);
    auto* left = new QVBoxLayout;
    left->addWidget(buildMessages(), 1);
    left->addWidget(buildLineSpeed());
    auto* right = new QVBoxLayout;
    right->addWidget(buildPollSettings());
    right->addWidget(buildConverterOptions());
    right->addWidget(buildLinkSettings(), 1);
    columns->addLayout(left, 3);
    columns->addLayout(right, 2);
    auto* page = new QVBoxLayout(central);
    page->setContentsMargins(10, 8, 10, 10);
    page->addWidget(buildChannels());
    page->addLayout(columns, 1);
    page->addWidget(buildProgramSettings());
    setCentralWidget(central);

    // The busy picture the tray shows while a receipt is printed.
    image1_ = named(new QLabel(central), QStringLiteral("Image1"));
    image1_->setPixmap(ui::programPicture(32, true));
    image1_->hide();

    buildMenus();

    OperatorPanel& p = program_.engine.panel;
    auto* fileMenu = findChild<QMenu*>(QStringLiteral("m_file"));
    auto* esci = findChild<QAction*>(QStringLiteral("m_esci"));
    tray_ = new ui::TrayIcon(p.tray, ui::programIcon(), QIcon(image1_->pixmap()), fileMenu, esci,
                             [this] { program_.handlers.trayDoubleClicked(); }, this);
    form1_ = new Form1(p.Form1, this);

    connect(&program_.engine.dump, &ConfigDump::showWindowRequested, this, &fVelmar::showRestored);
    connect(&program_, &VelmarProgram::ended, this, [this] { ended_ = true; });
}

fVelmar::~fVelmar() = default;

void fVelmar::buildMenus() {
    QMenuBar* bar = menuBar();
    QMenu* file = named(bar->addMenu(QStringLiteral("&File")), QStringLiteral("m_file"));
    QAction* esci = named(file->addAction(QStringLiteral("T&ermina Velmar")), QStringLiteral("m_esci"));
    connect(esci, &QAction::triggered, this, &fVelmar::requestShutDown);

    QAction* manual = named(bar->addAction(QStringLiteral("&Manuale Velmar")), QStringLiteral("m_Manual"));
    connect(manual, &QAction::triggered, this, &fVelmar::openManual);

    QAction* configura = named(bar->addAction(QStringLiteral("&Configurazione Reparti IVA")),
                               QStringLiteral("m_Configura"));
    ui::bindState(configura, program_.engine.panel.m_Configura);
    connect(configura, &QAction::triggered, this, &fVelmar::openTableEditor);

    QMenu* help = named(bar->addMenu(QStringLiteral("&?")), QStringLiteral("m_help"));
    QAction* info = named(help->addAction(QStringLiteral("&Informazioni  su  Velmar")),
                          QStringLiteral("m_info"));
    connect(info, &QAction::triggered, this, &fVelmar::openAbout);
}

QGroupBox* fVelmar::buildChannels() {
    OperatorPanel& p = program_.engine.panel;
    QGroupBox* box = frame("Frame1", QStringLiteral("Porte di comunicazione"));
    auto* grid = new QGridLayout(box);
    grid->setHorizontalSpacing(10);
    const auto header = [box](const QString& text, const char* name) {
        auto* l = named(new QLabel(text, box), QLatin1String(name));
        QFont small = l->font();
        small.setBold(true);
        l->setFont(small);
        return l;
    };
    grid->addWidget(header(QStringLiteral("Dump"), "lblHeadDump"), 0, 3);
    grid->addWidget(header(QStringLiteral("Registratore"), "lblHeadEcr"), 0, 4);
    grid->addWidget(header(QStringLiteral("Matricola"), "lblHeadMatricola"), 0, 5);
    grid->addWidget(header(QStringLiteral("Ultimo lavoro"), "lblHeadLastJob"), 0, 6);
    for (int n = 1; n <= 4; ++n) {
        CheckControl& tick = p.check(n);
        auto* check = named(new QCheckBox, tick.name(), QStringLiteral("Abilita / disabilita COM%1").arg(n));
        ui::bind(check, tick);
        LampControl& lampControl = p.portLamp(n);
        auto* lamp = named(new ui::LampWidget, lampControl.name(),
                           QStringLiteral("Verde, se COM%1 disponibile").arg(n));
        ui::bind(lamp, lampControl);
        auto* label = named(new QLabel(QStringLiteral("COM %1").arg(n)), QStringLiteral("lblCom%1").arg(n));
        label->setBuddy(check);
        TextControl& dump = p.dumpStatus(n);
        QLineEdit* state = shownText(dump, QStringLiteral("Segnala se DUMP ricevuto su COM%1").arg(n),
                                     QStringLiteral("-1 : DUMP NON ESEGUITO"));
        grid->addWidget(check, n, 0);
        grid->addWidget(lamp, n, 1);
        grid->addWidget(label, n, 2);
        grid->addWidget(state, n, 3);
        grid->addWidget(shownText(p.ecrState(n), QStringLiteral("Stato del registratore su COM%1").arg(n),
                                  QStringLiteral("Porta non disponibile")),
                        n, 4);
        grid->addWidget(shownText(p.registration(n), QStringLiteral("Matricola del registratore su COM%1").arg(n),
                                  QStringLiteral("WWWWWWWWWW")),
                        n, 5);
        grid->addWidget(shownTextWithTip(p.lastJob(n), QStringLiteral("00:00:00  VELMAR TERMINATO : TUTTO OK")),
                        n, 6);
    }
    grid->setColumnStretch(6, 1);
    return box;
}

QGroupBox* fVelmar::buildMessages() {
    OperatorPanel& p = program_.engine.panel;
    QGroupBox* box = frame("Frame4", QStringLiteral("Messaggi"));
    auto* column = new QVBoxLayout(box);
    // The longest status text a job can leave.
    const QString longest = QStringLiteral("VELMAR TERMINATO : GIORNALE ELETTR. IN ESAURIMENTO : SOSTITUIRE");
    column->addWidget(shownText(p.Text1, QStringLiteral("Messaggi ricevuti da ECR"),
                                QStringLiteral("TEST NON ESEGUITO: NESSUN CANALE IN SERVIZIO")));
    column->addWidget(shownText(p.Text2, {}, longest));
    column->addStretch(1);
    // The test print and the cancel stay usable while the settings are locked.
    auto* actions = new QHBoxLayout;
    actions->addWidget(button(p.CMBFile, QStringLiteral("Esegue scontrino di prova per test collegamento")));
    actions->addWidget(button(p.AnnullaSco));
    actions->addStretch(1);
    column->addLayout(actions);
    return box;
}

QGroupBox* fVelmar::buildPollSettings() {
    OperatorPanel& p = program_.engine.panel;
    QGroupBox* box = frame("Frame3", QStringLiteral("Impostazioni "));
    // Service mode locks the interval; the heartbeat beside it stays readable.
    auto* settings = named(new QWidget, QStringLiteral("Frame3Settings"));
    ui::bindState(settings, p.Frame3);
    auto* row = new QHBoxLayout(settings);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(typedText(p.txtTimerVal, QStringLiteral("60000ms"), QStringLiteral("Valore del timer in secondi")), 1);
    row->addWidget(button(p.cmdChgTimer));
    auto* grid = new QGridLayout(box);
    grid->addWidget(settings, 0, 0, 1, 2);
    grid->addWidget(named(new QLabel(QStringLiteral("Stato timer:")), QStringLiteral("lblTimerState")), 1, 0);
    grid->addWidget(shownText(p.Text3, {}, QStringLiteral("Timer OFF")), 1, 1);
    // The tick counter the job step reads; not for the operator's eyes.
    QLineEdit* counter = shownText(p.txtTimer);
    grid->addWidget(counter, 2, 0);
    counter->hide();
    grid->setColumnStretch(1, 1);
    return box;
}

QGroupBox* fVelmar::buildConverterOptions() {
    OperatorPanel& p = program_.engine.panel;
    QGroupBox* box = frame("Frame5", QStringLiteral("Opzioni Aggiuntive"));
    ui::bindState(box, p.Frame5);
    auto* grid = new QGridLayout(box);
    QComboBox* family = list(p.cboAddedFunctions, false);
    QComboBox* length = list(p.cboMaxLenDescr, true);
    length->setMaximumWidth(length->fontMetrics().averageCharWidth() * 6 + 40);
    auto* familyLabel = named(new QLabel(QStringLiteral("Modalità Aggiuntive")), QStringLiteral("lblAddedFunctions"));
    auto* lengthLabel =
        named(new QLabel(QStringLiteral("Max. Lunghezza Descrizione")), QStringLiteral("lblMaxLenDescr"));
    familyLabel->setBuddy(family);
    lengthLabel->setBuddy(length);
    grid->addWidget(familyLabel, 0, 0);
    grid->addWidget(family, 0, 1);
    grid->addWidget(lengthLabel, 1, 0);
    grid->addWidget(length, 1, 1, Qt::AlignLeft);
    auto* trace = named(new QCheckBox(QStringLiteral("Abilita Trace ")), p.chbTrace.name());
    ui::bind(trace, p.chbTrace);
    grid->addWidget(trace, 2, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    return box;
}

QGroupBox* fVelmar::buildLineSpeed() {
    OperatorPanel& p = program_.engine.panel;
    QGroupBox* box = frame("Frame6", QStringLiteral("Velocità di comunicazione"));
    ui::bindState(box, p.Frame6);
    auto* row = new QHBoxLayout(box);
    row->addWidget(list(p.cmbBaude, true), 1);
    row->addWidget(button(p.Command1));
    return box;
}

QGroupBox* fVelmar::buildLinkSettings() {
    OperatorPanel& p = program_.engine.panel;
    QGroupBox* box = frame("Frame7", QStringLiteral("Impostazioni Aggiuntive"));
    ui::bindState(box, p.Frame7);
    auto* grid = new QGridLayout(box);
    auto* serial = named(new QRadioButton(QStringLiteral("Seriale")), p.OptionRS232.name());
    auto* network = named(new QRadioButton(QStringLiteral("Rete")), p.OptionRete.name());
    ui::bind(serial, p.OptionRS232);
    ui::bind(network, p.OptionRete);
    auto* modes = new QHBoxLayout;
    modes->addWidget(serial);
    modes->addWidget(network);
    modes->addStretch(1);
    grid->addLayout(modes, 0, 0, 1, 3);

    QLineEdit* address = typedText(p.TxtRemoteIP, QStringLiteral("255.255.255.255"));
    auto* addressLabel = named(new QLabel(QStringLiteral("Indirizzo IP")), QStringLiteral("lblRemoteIP"));
    addressLabel->setBuddy(address);
    grid->addWidget(addressLabel, 1, 0);
    grid->addWidget(address, 1, 1);
    grid->addWidget(button(p.cmdValidateIP), 1, 2);

    QLineEdit* port = typedText(p.TcpPort, QStringLiteral("65535"));
    auto* portLabel = named(new QLabel(QStringLiteral("Tcp Port")), QStringLiteral("lblTcpPort"));
    portLabel->setBuddy(port);
    grid->addWidget(portLabel, 2, 0);
    grid->addWidget(port, 2, 1);

    auto* lamp = named(new ui::LampWidget, p.ShapeConn.name());
    ui::bind(lamp, p.ShapeConn);
    auto* reset = new QHBoxLayout;
    reset->addWidget(lamp);
    reset->addWidget(button(p.cmdResetConn));
    grid->addLayout(reset, 2, 2);
    grid->setColumnStretch(1, 1);
    return box;
}

QGroupBox* fVelmar::buildProgramSettings() {
    OperatorPanel& p = program_.engine.panel;
    QGroupBox* box = frame("Frame2", QStringLiteral("Configurazione Programma"));
    auto* grid = new QGridLayout(box);
    auto* matricolaLabel = named(new QLabel(QStringLiteral("Matricola")), QStringLiteral("lblMatricola"));
    grid->addWidget(matricolaLabel, 0, 0);
    grid->addWidget(shownText(p.Text8, {}, QStringLiteral("WWWWWWWWWWWWWWWW")), 0, 1, Qt::AlignLeft);
    auto* pathLabel = named(new QLabel(QStringLiteral("Path Dati x Windows  7 / 8 / 10")),
                            p.lblPathVista.name());
    ui::bindState(pathLabel, p.lblPathVista);
    grid->addWidget(pathLabel, 1, 0);
    grid->addWidget(shownText(p.txtAppDataVista), 1, 1);
    grid->setColumnStretch(1, 1);
    return box;
}

void fVelmar::requestShutDown() {
    if (shuttingDown_ || ended_) {
        return;
    }
    shuttingDown_ = true;
    // Refused while a receipt is being sent: the window stays as it is.
    const bool done = program_.requestClose();
    shuttingDown_ = done;
}

void fVelmar::showEvent(QShowEvent* event) {
    // Never smaller than what it holds, with every field filled in: no field
    // or button over another.
    const QSize need = sizeHint();
    setMinimumSize(need);
    if (width() < need.width() || height() < need.height()) {
        resize(size().expandedTo(need));
    }
    QMainWindow::showEvent(event);
}

void fVelmar::closeEvent(QCloseEvent* event) {
    if (ended_) {
        event->accept();
        return;
    }
    // The program ends through its shut-down, never by closing the window.
    event->ignore();
    requestShutDown();
}

void fVelmar::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) {
        return;
    }
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    const bool wasMinimised = change->oldState().testFlag(Qt::WindowMinimized);
    if (isMinimized() && !wasMinimised) {
        program_.handlers.windowMinimised();
        if (trayAvailable && trayAvailable()) {
            QTimer::singleShot(0, this, [this] {
                if (isMinimized()) {
                    hide(); // reachable through the tray icon
                }
            });
            return;
        }
        // Without a notification area the task bar is the only way back.
        minimisedInTaskBar_ = true;
        if (!toldNoTray_ && log) {
            toldNoTray_ = true;
            log(QStringLiteral("velmar: the desktop has no notification area; "
                               "a minimised window stays in the task bar"));
        }
    } else if (!isMinimized() && minimisedInTaskBar_) {
        // Some platforms report the restore with the old state already
        // updated, so our own flag decides, not the event's old state.
        // Restored from the task bar: what the tray's double click does.
        minimisedInTaskBar_ = false;
        program_.handlers.trayDoubleClicked();
    }
}

void fVelmar::showRestored() {
    minimisedInTaskBar_ = false;
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void fVelmar::openManual() {
    const QString path = OperatorHandlers::manualPath(program_.startup.manualFolder());
    OperatorUi& ui = program_.engine.ui;
    if (!QFileInfo(path).isFile()) {
        ui.message(QStringLiteral("File: ") + QDir::toNativeSeparators(path) + QStringLiteral(" non trovato"));
        return;
    }
    if (!openDocument || !openDocument(QUrl::fromLocalFile(path))) {
        ui.message(QStringLiteral("Operazione non eseguita: verificare presenza Reader "));
    }
}

void fVelmar::openTableEditor() {
    FrmConfigurazioneReparti editor(program_.engine.tables, program_.engine.ui, [this] { openManual(); },
                                    this);
    editor.exec();
}

void fVelmar::openAbout() {
    frmAbout about(this);
    about.exec();
}

} // namespace velmar
