// The operator's link actions: cancel the open receipt, apply the line speed,
// and the two operating modes the channel ticks switch between.

#include "link/EcrLink.h"

#include "common/Cp1252.h"
#include "common/LineFile.h"
#include "common/TextRules.h"

#include <QDir>

namespace velmar {

void EcrLink::AnnullaSco_Click() {
    if (ctx_.panel.serialMode()) {
        ctx_.link.ComPortNo = ctx_.job.iCurrentCom;
        if (!ctx_.serial.portOpen()) {
            if (!OpenComPort(ctx_.link.ComPortNo)) {
                // Nothing can be sent; a hung transmission no longer blocks closing.
                ctx_.link.TransmitBusy = false;
                return;
            }
            try {
                ctx_.serial.setPortOpen(true);
            } catch (const Fault& f) {
                traceFault(f, "AnnullaSco_Click");
            }
        }
    } else if (ctx_.socket.state() == SocketControl::Closed) {
        ConnectSocket(true);
    }
    SendString("Kk"); // clear, then void the receipt; the port stays open
}

void EcrLink::Command1_Click() {
    const QString speed = ctx_.panel.cmbBaude.text();
    ctx_.link.BaudRate = static_cast<std::int32_t>(
        text::leadingNumber(cp1252::encode(speed).toStdString()));
    writeLines(QDir(programFolder_).filePath(QStringLiteral("VMChkBd.txt")),
               {cp1252::encode(speed).toStdString()});
}

void EcrLink::EnterServiceMode() {
    OperatorPanel& p = ctx_.panel;
    for (FrameControl* f : {&p.Frame3, &p.Frame5, &p.Frame6, &p.Frame7}) {
        f->setEnabled(false);
    }
    p.CMBFile.setEnabled(true);
    p.AnnullaSco.setEnabled(true);
    ctx_.job.bShowStatus = true;
    if (!ctx_.Timer21.isActive()) { // enabling a running timer changes nothing
        ctx_.Timer21.start();
    }
    p.m_Configura.setEnabled(false);
}

void EcrLink::EnterConfigMode() {
    OperatorPanel& p = ctx_.panel;
    for (FrameControl* f : {&p.Frame3, &p.Frame5, &p.Frame6, &p.Frame7}) {
        f->setEnabled(true);
    }
    p.CMBFile.setEnabled(false);
    p.AnnullaSco.setEnabled(false);
    ctx_.job.bShowStatus = false;
    ctx_.Timer21.stop();
    p.m_Configura.setEnabled(true);
}

} // namespace velmar
