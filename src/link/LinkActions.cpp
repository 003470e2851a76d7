// The operator's link actions: cancel the open receipt, reset the connection,
// check the address, apply the line speed, and the two operating modes the
// channel ticks switch between.

#include "link/LinkActions.h"

#include "common/Cp1252.h"
#include "common/Fault.h"
#include "common/LineFile.h"
#include "common/TextRules.h"

#include <QDir>

namespace velmar {

bool LinkActions::linkBusy() const {
    return ctx_.link.ExchangeDepth > 0 || ctx_.job.bJobRunning || ctx_.job.bDumpConfActive;
}

void LinkActions::AnnullaSco_Click() {
    const bool serial = ctx_.settings.linkSettings().serialMode;
    if (serial) {
        ctx_.link.ComPortNo = ctx_.job.iCurrentCom;
        if (!ctx_.serial.connected()) {
            if (!ctx_.serial.OpenComPort(ctx_.link.ComPortNo)) {
                // Nothing can be sent; a hung transmission no longer blocks closing.
                ctx_.link.TransmitBusy = false;
                return;
            }
            if (const LineFault f = ctx_.serial.openPort()) {
                ctx_.trace.fault(*f, "AnnullaSco_Click");
            }
        }
    } else if (ctx_.tcp.connectionClosed()) {
        ctx_.tcp.ConnectSocket(true);
    }
    // Clear, then void the receipt; the port stays open.
    serial ? ctx_.serial.SendString("Kk") : ctx_.tcp.SendString("Kk");
}

void LinkActions::cmdResetConn_Click() {
    const QString caption = ctx_.status.caption(LinkButton::ResetConnection);
    const bool outer = !resettingConnection_;
    resettingConnection_ = true;
    try {
        ctx_.tcp.ConnectSocket(true);
        WaitMs(ctx_.runtime, 2000);
    } catch (const Fault&) {
        ctx_.ui.message(QStringLiteral(" Errore di connessione Winsock "));
    }
    ctx_.status.setCaption(LinkButton::ResetConnection, caption);
    ctx_.status.showLinkError(QString());
    if (outer) {
        resettingConnection_ = false;
    }
}

void LinkActions::connectionRefused() {
    if (!resettingConnection_) {
        cmdResetConn_Click();
    }
}

void LinkActions::cmdValidateIP_Click() {
    const QString caption = ctx_.status.caption(LinkButton::ValidateIp);
    ctx_.status.setCaption(LinkButton::ValidateIp,
                           TcpLine::IsValidIp(ctx_.settings.linkSettings().remoteIp)
                               ? QStringLiteral("IP OK")
                               : QStringLiteral("IP non Valido"));
    ctx_.runtime.sleepBlind(2000);
    ctx_.status.setCaption(LinkButton::ValidateIp, caption);
}

void LinkActions::Command1_Click() {
    const QString speed = ctx_.settings.linkSettings().lineSpeed;
    ctx_.link.BaudRate = static_cast<std::int32_t>(
        text::leadingNumber(cp1252::encode(speed).toStdString()));
    // The speed applies now; the operator is told when it will not survive
    // a restart.
    QString why;
    if (!writeLines(QDir(programFolder_).filePath(QStringLiteral("VMChkBd.txt")),
                    {cp1252::encode(speed).toStdString()}, &why)) {
        ctx_.ui.message(QStringLiteral("VMChkBd.txt non scritto: ") + why);
    }
}

void LinkActions::EnterServiceMode() {
    ctx_.status.showOperatingMode(true);
    ctx_.job.bShowStatus = true;
    if (!ctx_.Timer21.isActive()) { // enabling a running timer changes nothing
        ctx_.Timer21.start();
    }
}

void LinkActions::EnterConfigMode() {
    ctx_.status.showOperatingMode(false);
    ctx_.job.bShowStatus = false;
    ctx_.Timer21.stop();
}

} // namespace velmar
