#include "app/OperatorHandlers.h"

#include "app/Engine.h"
#include "app/SettingsFiles.h"
#include "common/Cp1252.h"
#include "common/EcrFamily.h"
#include "common/LineFile.h"
#include "common/TextRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace velmar {

OperatorHandlers::OperatorHandlers(Engine& engine, SettingsFiles& settings, QObject* parent)
    : QObject(parent), e_(engine), settings_(settings) {
    OperatorPanel& p = e_.panel;
    connect(&p.OptionRete, &OptionControl::clicked, this, &OperatorHandlers::OptionRete_Click);
    connect(&p.OptionRS232, &OptionControl::clicked, this, &OperatorHandlers::OptionRS232_Click);
    connect(&p.cmdChgTimer, &ButtonControl::clicked, this, &OperatorHandlers::cmdChgTimer_Click);
    connect(&p.CMBFile, &ButtonControl::clicked, this, &OperatorHandlers::CMBFile_Click);
    // The link fields follow the link choice from the first moment, not only
    // after a click on the other option.
    p.OptionRete.value() ? OptionRete_Click() : OptionRS232_Click();
    // Runs after the link's own tick handler, which switches the mode.
    for (int n = 1; n <= 4; ++n) {
        CheckControl& tick = p.check(n);
        connect(&tick, &CheckControl::clicked, this, [this, &tick] {
            if (tick.value() != 1 && e_.job.bDumpInProgress) {
                // The identification of a register takes the other channels
                // out of service; Velmar stays in service on that register.
                e_.ecr.EnterServiceMode();
            }
            showTimerState();
        });
    }
}

void OperatorHandlers::showTimerState() {
    if (!e_.Timer21->isActive() && !e_.job.bShowStatus) {
        e_.panel.Text3.setText(QStringLiteral("Timer OFF"));
    } else if (e_.panel.Text3.text() == QLatin1String("Timer OFF") || e_.panel.Text3.text().isEmpty()) {
        e_.panel.Text3.setText(QStringLiteral("Timer ON"));
    }
}

void OperatorHandlers::OptionRete_Click() {
    OperatorPanel& p = e_.panel;
    for (PanelControl* c : std::initializer_list<PanelControl*>{&p.TxtRemoteIP, &p.TcpPort, &p.cmdResetConn,
                                                               &p.cmdValidateIP}) {
        c->setEnabled(true);
    }
    p.Command1.setEnabled(false);
    p.cmbBaude.setEnabled(false);
    p.TcpPort.setText(QStringLiteral("6660"));
}

void OperatorHandlers::OptionRS232_Click() {
    OperatorPanel& p = e_.panel;
    for (PanelControl* c : std::initializer_list<PanelControl*>{&p.TxtRemoteIP, &p.TcpPort, &p.cmdResetConn,
                                                               &p.cmdValidateIP}) {
        c->setEnabled(false);
    }
    p.Command1.setEnabled(true);
    p.cmbBaude.setEnabled(true);
    p.TcpPort.setText(QStringLiteral("6660"));
}

void OperatorHandlers::cmdChgTimer_Click() {
    if (e_.job.bJobRunning) {
        e_.ui.message(QStringLiteral("Connessione in corso, valore non accettato"));
        return;
    }
    double typed = 0;
    try {
        typed = text::leadingNumber(cp1252::encode(e_.panel.txtTimerVal.text()).toStdString());
    } catch (const Fault&) {
        typed = 1e300;
    }
    if (typed == 0) {
        e_.ui.message(QStringLiteral("Valore non ammesso"));
    }
    const bool armed = e_.Timer21->isActive();
    e_.Timer21->stop();
    settings_.CalculateTimer(QString::fromStdString(text::numberText(typed)), true);
    e_.Timer21->setInterval(e_.job.nPollInterval);
    if (armed) {
        e_.Timer21->start();
    }
}

void OperatorHandlers::CMBFile_Click() {
    JobState& job = e_.job;
    OperatorPanel& p = e_.panel;
    if (!job.bShowStatus) {
        return;
    }
    e_.link.RawFileMode = true;
    if (job.bDumpConf[1] && job.bDumpConf[2] && job.bDumpConf[3] && job.bDumpConf[4]) {
        p.Text1.setText(QStringLiteral("DUMP NON ANCORA ESEGUITO"));
        e_.link.RawFileMode = false;
        return;
    }
    int channel = 0;
    for (int n = 4; n >= 1 && channel == 0; --n) {
        if (p.check(n).value() == 1 && job.bPortAvailable[static_cast<std::size_t>(n)] &&
            !job.bDumpConf[static_cast<std::size_t>(n)]) {
            channel = n;
        }
    }
    if (channel == 0) {
        e_.link.RawFileMode = false; // never left set for the host's next job
        p.Text1.setText(QStringLiteral("TEST NON ESEGUITO: NESSUN CANALE IN SERVIZIO"));
        return;
    }
    // A host's receipt waiting on the channel is never overwritten.
    if (e_.files.exists("SR_DATI", channel) || e_.files.exists("SR_START", channel)) {
        p.Text1.setText(QStringLiteral("TEST NON ESEGUITO: SCONTRINO IN ATTESA SU COM%1").arg(channel));
        e_.link.RawFileMode = false;
        return;
    }
    std::vector<std::string> lines;
    const QByteArray& documentStart = ecrFamily(p.ecrVariant()).documentStart;
    if (!documentStart.isEmpty()) {
        lines.push_back(documentStart.toStdString());
    }
    lines.push_back("K\"PROVA\"10H1R0M10H1R1T");
    // No start file without its receipt (the job would only be refused), and
    // no test receipt left behind to block the next test.
    QString why;
    const QString receipt = e_.files.path("SR_DATI", channel);
    const QString start = e_.files.path("SR_START", channel);
    const bool receiptWritten = writeLines(receipt, lines, &why);
    if (!receiptWritten || !writeLines(start, {"00000000"}, &why)) {
        QFile::remove(receipt);
        const QString failed = QFileInfo(receiptWritten ? start : receipt).fileName();
        p.Text1.setText(QStringLiteral("TEST NON ESEGUITO: %1 non scritto: %2").arg(failed, why));
        e_.link.RawFileMode = false;
        return;
    }
    e_.link.TotalLinesLeft = 1;
    if (!e_.Timer21->isActive()) {
        e_.Timer21->start();
    }
    p.CMBFile.setEnabled(false); // until the job ends
}

void OperatorHandlers::trayDoubleClicked() {
    e_.dump.ShowDumpStatus();
}

void OperatorHandlers::windowMinimised() {
    e_.job.bShowStatus = false;
}

QString OperatorHandlers::manualPath(const QString& manualFolder) {
    return QDir(manualFolder).filePath(QStringLiteral("manvelmar.pdf"));
}

} // namespace velmar
