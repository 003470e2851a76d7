#pragma once
// The operator's link actions: cancel the open receipt, reset the TCP
// connection, check the register's address, apply the line speed, and the
// two operating modes the channel ticks switch between. The app connects
// them to its buttons.

#include "channel/JobState.h"
#include "common/OperatorUi.h"
#include "common/Runtime.h"
#include "link/LineTrace.h"
#include "link/LinkSettings.h"
#include "link/LinkState.h"
#include "link/LinkStatus.h"
#include "link/SerialLine.h"
#include "link/TcpLine.h"

#include <QString>

namespace velmar {

struct LinkActionsContext {
    Runtime& runtime;
    LinkState& link;
    JobState& job;
    LineTrace& trace;
    SerialLine& serial;
    TcpLine& tcp;
    OperatorUi& ui;
    const LinkSettingsSource& settings;
    LinkStatus& status;
    RuntimeTimer& Timer21; // the poll timer, armed and disarmed by the operating modes
};

class LinkActions {
public:
    explicit LinkActions(LinkActionsContext context) : ctx_(context) {}

    void AnnullaSco_Click(); // sends "Kk": clear, then void the open receipt
    void cmdResetConn_Click();
    void cmdValidateIP_Click();
    void Command1_Click(); // applies the line speed of cmbBaude
    void EnterServiceMode();
    void EnterConfigMode();
    // Something is talking to the register (a job, a dump): an operator's
    // action that sends bytes waits, or it would land inside the receipt.
    bool linkBusy() const;
    // The register refused the connection: the reset action, unless this
    // comes from inside that action's own connect (the register may refuse
    // for minutes, and each refusal would otherwise nest one more reset).
    void connectionRefused();

    // The folder of the settings files (VMChkBd.txt).
    void setProgramFolder(const QString& folder) { programFolder_ = folder; }

private:
    LinkActionsContext ctx_;
    bool resettingConnection_ = false; // inside cmdResetConn_Click
    QString programFolder_;
};

} // namespace velmar
