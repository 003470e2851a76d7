#include "app/LinkPanel.h"

#include "common/Cp1252.h"

namespace velmar {

LinkSettings LinkPanel::linkSettings() const {
    return {panel_.serialMode(),
            panel_.ecrVariant(),
            panel_.TcpPort.text(),
            panel_.TxtRemoteIP.text(),
            panel_.cmbBaude.text(),
            cp1252::encode(panel_.cboMaxLenDescr.text()).toStdString(),
            panel_.ConfiguredMatricola};
}

void LinkPanel::showConnection(bool up) {
    panel_.ShapeConn.setColor(up ? LampControl::kGreen : LampControl::kRed);
}

void LinkPanel::showOperatingMode(bool service) {
    OperatorPanel& p = panel_;
    for (FrameControl* f : {&p.Frame3, &p.Frame5, &p.Frame6, &p.Frame7}) {
        f->setEnabled(!service);
    }
    p.CMBFile.setEnabled(service);
    p.AnnullaSco.setEnabled(service);
    p.m_Configura.setEnabled(!service);
}

ButtonControl& LinkPanel::button(LinkButton button) const {
    return button == LinkButton::ResetConnection ? panel_.cmdResetConn : panel_.cmdValidateIP;
}

void LinkPanel::connectActions(EcrLink& link, OperatorUi& ui) {
    OperatorPanel& p = panel_;
    LinkActions& actions = link.actions;
    // Actions that send bytes wait for the receipt being printed: "Kk" typed
    // into a receipt's text voids nothing and breaks the receipt.
    const auto unlessBusy = [&actions, &ui](void (LinkActions::*action)()) {
        return [&actions, &ui, action] {
            if (actions.linkBusy()) {
                ui.message(QStringLiteral("Stampa in corso: operazione non eseguita, "
                                          "riprovare al termine"));
                return;
            }
            (actions.*action)();
        };
    };
    QObject::connect(&p.AnnullaSco, &ButtonControl::clicked, &link,
                     unlessBusy(&LinkActions::AnnullaSco_Click));
    QObject::connect(&p.Command1, &ButtonControl::clicked, &link, [&actions] { actions.Command1_Click(); });
    QObject::connect(&p.cmdResetConn, &ButtonControl::clicked, &link,
                     unlessBusy(&LinkActions::cmdResetConn_Click));
    QObject::connect(&p.cmdValidateIP, &ButtonControl::clicked, &link,
                     [&actions] { actions.cmdValidateIP_Click(); });
    // The last clicked channel tick decides the operating mode.
    for (int channel = 1; channel <= 4; ++channel) {
        CheckControl& tick = p.check(channel);
        QObject::connect(&tick, &CheckControl::clicked, &link, [&actions, &tick] {
            tick.value() == 1 ? actions.EnterServiceMode() : actions.EnterConfigMode();
        });
    }
}

} // namespace velmar
