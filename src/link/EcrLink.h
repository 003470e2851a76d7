#pragma once
// The register link: one job carried to the register (TransmitFile), the
// dialogue that plays a translated receipt (RunEcrDialogue), the serial and
// TCP sends with their echo and answer checks, connection recovery, and the
// operator's link actions. Everything runs on one thread; every wait serves
// events through the runtime, so the reply timer, the socket events and the
// operator's clicks are handled while the link waits.

#include "app/OperatorPanel.h"
#include "common/LineFile.h"
#include "common/Fault.h"
#include "common/OperatorUi.h"
#include "common/Runtime.h"
#include "convert/SlConverter.h"
#include "jobs/JobState.h"
#include "jobs/TraceLog.h"
#include "link/LinkState.h"
#include "link/SerialControl.h"
#include "link/SocketControl.h"

#include <QObject>
#include <functional>
#include <memory>

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
    // available, -100 receipt file missing.
    std::int16_t TransmitFile();

signals:
    // A receipt the converter refused (-11): which line and why, for the log.
    void conversionRefused(const QString& reason);

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
    bool SendStringByChar(const QByteArray& s);
    bool QueryReceiptNumber();

    // --- TCP transport -----------------------------------------------------
    void WSResetReceive();
    bool SendStringWinsock(const QByteArray& s);
    void ConnectSocket(bool showProgress);
    bool CloseSocketConnection();
    bool ResetReStartConnection(std::int16_t MaxSecTout);
    static bool IsValidIp(const QString& text);

    // --- Operator actions --------------------------------------------------
    void cmdResetConn_Click();
    void cmdValidateIP_Click();
    void AnnullaSco_Click(); // sends "Kk": clear, then void the open receipt
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
    bool sendStringSerial(const QByteArray& s);
    bool sendStringTcp(const QByteArray& s);
    // Waits once for the TCP answer to the receipt's last payment line.
    enum class Answer { Received, Failed, TimedOut };
    Answer waitSocketAnswer();
    void takeSocketAnswer();
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
    std::unique_ptr<RuntimeTimer> Timer1_;
    LineWriter* output_ = nullptr; // SR_OUT, while a dialogue runs
    bool resettingConnection_ = false; // inside cmdResetConn_Click
    QString programFolder_;
};

} // namespace velmar
