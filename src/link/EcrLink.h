#pragma once
// The register link, put together: the two register lines (serial, TCP), the
// dialogue that plays a receipt over the line the settings choose, and the
// operator's link actions; and TransmitFile, which carries one job to the
// register with them. Everything runs on one thread; every wait serves
// events through the runtime, so the reply timer, the socket events and the
// operator's clicks are handled while the link waits.

#include "channel/JobState.h"
#include "channel/TraceLog.h"
#include "common/OperatorUi.h"
#include "common/Runtime.h"
#include "convert/SlConverter.h"
#include "link/EcrDialogue.h"
#include "link/LineTrace.h"
#include "link/LinkActions.h"
#include "link/LinkSettings.h"
#include "link/LinkState.h"
#include "link/LinkStatus.h"
#include "link/ReplyTimer.h"
#include "link/SerialLine.h"
#include "link/TcpLine.h"

#include <QObject>

namespace velmar {

struct LinkContext {
    Runtime& runtime;
    const LinkSettingsSource& settings;
    LinkStatus& status;
    JobState& job;
    LinkState& link;
    TraceLog& trace;
    SerialControl& serial;
    SocketControl& socket;
    SlConverter& converter;
    OperatorUi& ui;
    ProgramExit& exit;
    RuntimeTimer& Timer21; // the poll timer, armed and disarmed by the operating modes
};

class EcrLink : public QObject {
    Q_OBJECT
public:
    explicit EcrLink(LinkContext context, QObject* parent = nullptr);
    ~EcrLink() override;

    // Carries the job of iCurrentCom to the register: 0 printed, -4 the register
    // did not answer or refused, -11 conversion failed, -12 serial port not
    // available, -100 receipt file missing; and the codes below.
    std::int16_t TransmitFile();

    // Results Velmar adds to those of the transmission.
    static constexpr std::int16_t kOutcomeUnknown = EcrDialogue::kOutcomeUnknown; // may have printed
    static constexpr std::int16_t kDataDirFault = -14;   // the job's files could not be written; nothing sent
    static constexpr std::int16_t kReceiptChanged = -15; // the receipt changed while it was converted; nothing sent

    // The line the settings choose now.
    RegisterLine& line();

    // What the engine's other parts call, by the names they know.
    bool SendString(const QByteArray& s) { return line().SendString(s); }
    bool SendRequest(const QByteArray& s) { return line().SendRequest(s); }
    bool ProbeSerialPort(std::int16_t port) { return serialLine.ProbeSerialPort(port); }
    void CloseSerialPort() { serialLine.CloseSerialPort(); }
    void ConnectSocket(bool showProgress) { tcpLine.ConnectSocket(showProgress); }
    std::int16_t settleInterrupted(TransmitObserver::Stage stage) {
        return dialogue.settleInterrupted(stage);
    }
    bool sendPendingVoid() { return dialogue.sendPendingVoid(); }
    void cmdResetConn_Click() { actions.cmdResetConn_Click(); }
    void EnterServiceMode() { actions.EnterServiceMode(); }
    void EnterConfigMode() { actions.EnterConfigMode(); }
    void setProgramFolder(const QString& folder) { actions.setProgramFolder(folder); }

signals:
    // A receipt the converter refused (-11): which line and why, for the log.
    void conversionRefused(const QString& reason);
    // A file of the job could not be written or read: what happened, which, why.
    void jobFileFault(const QString& what);
    // The serial port is held by another program (who, where it can be told).
    void portInUse(const QString& what);

private:
    LinkContext ctx_;
    LineTrace trace_;

public:
    ReplyTimer Timer1;
    SerialLine serialLine;
    TcpLine tcpLine;
    EcrDialogue dialogue;
    LinkActions actions;
};

} // namespace velmar
