#pragma once
// The state the register link shares with the rest of the engine: what the
// converter hands over, the reply timer's flags, the socket receive state.

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace velmar {

// The job around a transmission, told as the receipt reaches the points a
// crash must be able to tell apart, so it can keep a durable record. An
// answer other than 0 stops the job before its next byte is sent; it is the
// job's result code.
class TransmitObserver {
public:
    enum class Stage {
        Sending,         // converted, nothing sent yet
        DocumentOpening, // the next line opens a receipt or a cash movement
        Paying,          // the next line keys the first payment
        Closed,          // the register answered that it closed the receipt
    };
    virtual ~TransmitObserver() = default;
    virtual std::int16_t reached(Stage stage) = 0;
};

struct LinkState;

// While one lives, something talks to the register: the operator's actions
// that send bytes wait.
class ExchangeGuard {
public:
    explicit ExchangeGuard(int& depth) : depth_(depth) { ++depth_; }
    ~ExchangeGuard() { --depth_; }
    ExchangeGuard(const ExchangeGuard&) = delete;
    ExchangeGuard& operator=(const ExchangeGuard&) = delete;

private:
    int& depth_;
};

struct LinkState {
    // From the converter.
    QString ConvertedFilePath; // XON.txt; set only by a conversion that reached its end
    bool NonFiscalOpen = false; // the receipt opened a non-fiscal document
    std::int16_t TotalLinesLeft = 0; // payment lines ("<digit>T") still to send

    // The transmission.
    QByteArray ResetString = "KK"; // sent before every job and dump
    bool RawFileMode = false;      // the next job's file is sent unchanged (test print)
    bool TransmitBusy = false;     // a transmission runs: the window may not close
    std::int16_t ComPortNo = 0;    // the port handed to OpenComPort
    bool InfoLinesWritten = false; // TIME/DATE written in this dialogue

    // Answers and the reply timer.
    QByteArray ReplyBuffer;
    bool ReplyTimedOut = false;
    std::uint8_t ReplyExtraTicks = 0;

    // Line.
    std::int32_t BaudRate = 9600;
    char XonChar = 17;
    char XoffChar = 19;
    std::int32_t SocketReplyTimeoutMs = 3500;

    // The receipt being played, as the register answered it.
    int LinesSent = 0;            // lines whose bytes (some or all) left
    bool LineStarted = false;     // a byte of the line being sent has left
    bool LineFinished = false;    // its last byte has left: its last command may have run
    bool PartialLine = false;     // the failed line was cut short: its last command did not run
    int LinesAcknowledged = 0;    // lines the register took, counted from the first
    std::int16_t RegisterError = 0; // the result code of the register's error answer
    bool ClosingAnswerSeen = false; // the register's closing answer came
    int ClosingNumber = -1;         // the receipt number it carried
    int QueriedNumber = -1;         // the last receipt number the register told when asked
    // What the job leaves behind.
    bool ReceiptVoided = false;   // Velmar voided a receipt the job left open
    bool PendingVoid = false;     // a receipt may still be open: void it before the next job
    int LastReceiptNumber = -1;   // the register's last receipt number as Velmar expects it
    bool XoffHeld = false;        // the register's last flow-control byte was XOFF
    TransmitObserver* Observer = nullptr;
    int ExchangeDepth = 0; // a job or a dump is talking to the register

    // Socket receive state, written only by the socket events and WSResetReceive.
    QByteArray SocketRxBuffer;
    bool SocketRxReady = false;
    bool SocketRxArmed = false;
    bool SocketError = false;
    bool SocketLost = false;
};

} // namespace velmar
