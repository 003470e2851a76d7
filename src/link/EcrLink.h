#pragma once
// The register link: one job carried to the register (TransmitFile), the
// dialogue that plays a translated receipt (RunEcrDialogue), the serial and
// TCP sends with their echo and answer checks, connection recovery, and the
// operator's link actions. Everything runs on one thread; every wait serves
// events through the runtime, so the reply timer, the socket events and the
// operator's clicks are handled while the link waits.

#include "channel/JobState.h"
#include "channel/TraceLog.h"
#include "common/Fault.h"
#include "common/LineFile.h"
#include "common/OperatorUi.h"
#include "common/Runtime.h"
#include "convert/SlConverter.h"
#include "link/LinkState.h"
#include "link/ReceiptPlan.h"
#include "link/SerialControl.h"
#include "link/SocketControl.h"
#include "panel/OperatorPanel.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace velmar {

struct LinkContext {
    Runtime& runtime;
    OperatorPanel& panel;
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
    static constexpr char STX = 2;
    static constexpr char ETX = 3;
    static constexpr char ACK = 6;

    explicit EcrLink(LinkContext context, QObject* parent = nullptr);
    ~EcrLink() override;

    // --- The transmission driver -------------------------------------------
    // Carries the job of iCurrentCom to the register: 0 printed, -4 the register
    // did not answer or refused, -11 conversion failed, -12 serial port not
    // available, -100 receipt file missing; and the codes below.
    std::int16_t TransmitFile();

    // Results Velmar adds to those of the transmission.
    static constexpr std::int16_t kOutcomeUnknown = -13; // may have printed: look at the register
    static constexpr std::int16_t kDataDirFault = -14;   // the job's files could not be written; nothing sent
    static constexpr std::int16_t kReceiptChanged = -15; // the receipt changed while it was converted; nothing sent
    // The result code of a register's error answer (STX "ERR" nn ETX) in
    // `bytes`; 0 when there is none.
    static std::int16_t registerErrorCode(const QByteArray& bytes);

signals:
    // A receipt the converter refused (-11): which line and why, for the log.
    void conversionRefused(const QString& reason);
    // A file of the job could not be written or read: what happened, which, why.
    void jobFileFault(const QString& what);
    // The serial port is held by another program (who, where it can be told).
    void portInUse(const QString& what);

public:

    // --- Serial transport --------------------------------------------------
    bool OpenComPort(std::int16_t port);   // configures, does not open
    bool ProbeSerialPort(std::int16_t port);
    void OpenSerialPort();
    void CloseSerialPort();
    // Sends one protocol string and checks the register's acknowledgement:
    // the echo (serial) or the answer to the last payment line (TCP).
    bool SendString(const QByteArray& s);
    // The reply timer Timer1.
    void startReplyTimer(int ms);
    void stopReplyTimer();
    bool replyTimerActive() const;

    // --- The dialogue ------------------------------------------------------
    bool RunEcrDialogue(const QString& path);
    // Plays `lines` into the register (SR_OUT open as output_): true when
    // the register took every one.
    bool playLines(const std::vector<QByteArray>& lines);
    bool SendStringByChar(const QByteArray& s);
    bool QueryReceiptNumber();

    // --- TCP transport -----------------------------------------------------
    void WSResetReceive();
    bool SendStringWinsock(const QByteArray& s);
    void ConnectSocket(bool showProgress);
    bool CloseSocketConnection();
    bool ResetReStartConnection(std::int16_t MaxSecTout);
    static bool IsValidIp(const QString& text);

    // --- After a job --------------------------------------------------------
    // What the job left on the register, from the dialogue's report: printed
    // (0), not printed with nothing left open (the failure's code), or not
    // known (kOutcomeUnknown). Voids a receipt left open when the link lets it.
    std::int16_t settleReceipt(bool played);
    // Cancels the receipt in progress (the family's cancel); false when the
    // register did not take it.
    bool voidOpenReceipt();
    // The register's last receipt number, where the family can be asked.
    std::optional<int> askReceiptNumber();
    // A job Velmar stopped in the middle of (killed, power lost), answered
    // from how far its record says it went: the register is reset, asked
    // where the family can tell, and an open receipt voided.
    std::int16_t settleInterrupted(TransmitObserver::Stage stage);
    // Opens the channel's serial port (serial mode) and sends the reset: false
    // when the register did not answer it.
    bool resetRegister();
    // Closes what resetRegister opened; the link is free again.
    void releasePort();
    // An idle channel whose register may still hold a receipt open: reset,
    // cancel. True when the cancel was delivered.
    bool sendPendingVoid();
    // Sends a request ("89F") and waits for the register's STX..ETX answer,
    // left in ReplyBuffer; false when none came.
    bool SendRequest(const QByteArray& s);

    // --- Operator actions --------------------------------------------------
    void cmdResetConn_Click();
    void cmdValidateIP_Click();
    void AnnullaSco_Click(); // sends "Kk": clear, then void the open receipt
    // Something is talking to the register (a job, a dump): an operator's
    // action that sends bytes waits, or it would land inside the receipt.
    bool linkBusy() const;
    void Command1_Click();   // applies the line speed of cmbBaude
    void EnterServiceMode();
    void EnterConfigMode();

    // The folder of the settings files (VMChkBd.txt).
    void setProgramFolder(const QString& folder) { programFolder_ = folder; }

private:
    // Serial answer collection: clears ReplyBuffer (unless appending), arms the
    // reply timer, then serves events and appends the port's input until
    // `done` or the timer runs out.
    void collect(int ms, const std::function<bool()>& done, bool append = false);
    void traceSent(const QByteArray& s);
    void traceReply(bool withLength);
    void traceFault(const Fault& fault, const char* procedure);
    std::optional<int> askReceiptNumberOnce();
    // The register's flow control: XOFF held since the last XON.
    void noteFlow(const QByteArray& bytes);
    // Before sending: while the register holds XOFF, up to 20 s for its XON.
    bool waitWhileXoff();
    // Serial: collects until `done` and XON (when XOFF came), allowing 20 s
    // more while XOFF is held.
    void collectWithFlow(int ms, const std::function<bool()>& done, bool append = false);
    // Serial: appends the port's input until a whole STX..ETX frame is in
    // ReplyBuffer, for up to `ms`.
    bool collectFrame(int ms);
    // Reads a footer in ReplyBuffer into ClosingNumber (and the observer).
    void noteClosingAnswer(int etx);
public:
    // The receipt number in a register's answer to the family's number request.
    std::optional<int> numberInAnswer(const QByteArray& answer) const;

private:
    // After a failure: the register's closing answer, where the family sends
    // one, for up to `ms`.
    bool listenForClosingAnswer(int ms);
    std::int16_t reachStage(TransmitObserver::Stage stage);
    bool sendStringSerial(const QByteArray& s);
    bool sendStringTcp(const QByteArray& s);
    // Waits once for the TCP answer to the receipt's last payment line.
    enum class Answer { Received, Failed, TimedOut };
    Answer waitSocketAnswer();
    void takeSocketAnswer();
    // The answer to a closing line: false when it is the register's error answer.
    bool takeClosingAnswer();
    // The TIME and DATE lines of SR_OUT from a footer in ReplyBuffer.
    bool writeInfoLinesFromFooter(int stx, int etx, bool family6Time);
    void writeInfoLines(const QByteArray& time, const QByteArray& date, const QByteArray& number,
                        bool blankBeforeComma);
    void onSocketConnect();
    void onDataArrival(int bytesTotal);
    void onSocketError(int number, const QString& description, int scode);
    // Ends the program for a closed port (rethrows); shows any other fault.
    void dialogueFault(const Fault& fault);
    // Families 1, 3, 5 and 6: the TIME and DATE lines from the register's
    // answer after the receipt.
    void closingAnswer(int variant, bool serial);

    LinkContext ctx_;
    ReceiptPlan plan_;        // of the receipt being played
    bool askingNumber_ = false; // the frame now awaited answers a number request
    std::unique_ptr<RuntimeTimer> Timer1_;
    LineWriter* output_ = nullptr; // SR_OUT, while a dialogue runs
    bool resettingConnection_ = false; // inside cmdResetConn_Click
    QString programFolder_;
};

} // namespace velmar
