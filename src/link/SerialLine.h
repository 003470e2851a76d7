#pragma once
// The register line over the serial port: the port set up and opened for
// the channel, every send acknowledged by the register's echo, the XON/XOFF
// flow the register paces it with, and the answers collected against the
// reply timer.

#include "channel/JobState.h"
#include "common/OperatorUi.h"
#include "common/Runtime.h"
#include "link/LineTrace.h"
#include "link/LinkState.h"
#include "link/RegisterLine.h"
#include "link/ReplyTimer.h"
#include "link/SerialControl.h"

#include <QString>

namespace velmar {

struct SerialLineContext {
    Runtime& runtime;
    LinkState& link;
    JobState& job;
    LineTrace& trace;
    SerialControl& serial;
    ReplyTimer& Timer1;
    OperatorUi& ui;
    // The port is held by another program (who, where it can be told).
    std::function<void(const QString&)> portInUse;
};

class SerialLine : public RegisterLine {
public:
    explicit SerialLine(SerialLineContext context) : ctx_(std::move(context)) {}

    bool configure(int port) override { return OpenComPort(static_cast<std::int16_t>(port)); }
    LineFault open() override;
    LineFault close() override;
    bool connected() const override { return ctx_.serial.portOpen(); }
    bool held() const override { return ctx_.link.XoffHeld; }
    bool SendString(const QByteArray& s) override;
    bool sendReceiptLine(const QByteArray& s, const FrameHandler& closed) override {
        return SendStringByChar(s, closed);
    }
    bool SendRequest(const QByteArray& s) override;
    std::pair<bool, LineFault> askFrame(const QByteArray& request) override;
    // Empties the port, sends `request` and collects up to `size` bytes of
    // answer for up to `ms`; faults are traced under `procedure`. Only the
    // serial families ask their status after a receipt.
    void exchange(const QByteArray& request, int size, int ms, const char* procedure);
    LineFault write(const QByteArray& bytes) override;
    void awaitClosing(int ms) override;
    void readRestOfFrame() override;
    LineFault listen(int ms, const std::function<bool()>& enough,
                     const std::function<LineFault()>& frame) override;

    bool OpenComPort(std::int16_t port); // configures, does not open
    // Opens the port as it is (open() also forgets an earlier XOFF).
    LineFault openPort();
    bool ProbeSerialPort(std::int16_t port) { return OpenComPort(port); }
    // Opens the channel's port, telling the operator what went wrong.
    void OpenSerialPort();
    void CloseSerialPort();
    bool SendStringByChar(const QByteArray& s, const FrameHandler& closed);

private:
    // Clears ReplyBuffer (unless appending), arms the reply timer, then
    // serves events and appends the port's input until `done` or the timer
    // runs out.
    void collect(int ms, const std::function<bool()>& done, bool append = false);
    // Collects until `done` and XON (when XOFF came), allowing 20 s more
    // while XOFF is held.
    void collectWithFlow(int ms, const std::function<bool()>& done, bool append = false);
    // Appends the port's input until a whole STX..ETX frame is in
    // ReplyBuffer, for up to `ms`.
    bool collectFrame(int ms);
    // The register's flow control: XOFF held since the last XON.
    void noteFlow(const QByteArray& bytes);
    // Before sending: while the register holds XOFF, up to 20 s for its XON.
    bool waitWhileXoff();

    SerialLineContext ctx_;
};

} // namespace velmar
