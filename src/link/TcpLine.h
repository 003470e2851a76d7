#pragma once
// The register line over TCP: one connection to the register held across
// jobs, its events, sends that wait for the answer to a receipt's last
// payment line, closing and reconnecting.

#include "channel/JobState.h"
#include "common/OperatorUi.h"
#include "common/Runtime.h"
#include "link/LineTrace.h"
#include "link/LinkSettings.h"
#include "link/LinkState.h"
#include "link/LinkStatus.h"
#include "link/RegisterLine.h"
#include "link/ReplyTimer.h"
#include "link/SocketControl.h"

#include <QObject>

namespace velmar {

struct TcpLineContext {
    Runtime& runtime;
    LinkState& link;
    JobState& job;
    LineTrace& trace;
    SocketControl& socket;
    ReplyTimer& Timer1;
    OperatorUi& ui;
    const LinkSettingsSource& settings;
    LinkStatus& status;
    // The register refused the connection (error 10061).
    std::function<void()> refused;
};

class TcpLine : public QObject, public RegisterLine {
public:
    explicit TcpLine(TcpLineContext context);

    bool configure(int /*port*/) override { return true; } // the connection is held across jobs
    LineFault open() override { return std::nullopt; }
    LineFault close() override { return std::nullopt; }
    bool connected() const override { return ctx_.socket.state() == SocketControl::Connected; }
    bool held() const override { return false; }
    bool SendString(const QByteArray& s) override;
    bool sendReceiptLine(const QByteArray& s, const FrameHandler&) override {
        return SendStringWinsock(s); // the closing answer comes with the last payment line
    }
    bool SendRequest(const QByteArray& s) override;
    std::pair<bool, LineFault> askFrame(const QByteArray& request) override;
    LineFault write(const QByteArray& bytes) override;
    void awaitClosing(int) override {}  // the answer came with the last payment line
    void readRestOfFrame() override {}  // a frame is read to its ETX within its wait
    LineFault listen(int ms, const std::function<bool()>& enough,
                     const std::function<LineFault()>& frame) override;

    bool connectionClosed() const { return ctx_.socket.state() == SocketControl::Closed; }
    void WSResetReceive();
    bool SendStringWinsock(const QByteArray& s);
    void ConnectSocket(bool showProgress);
    bool CloseSocketConnection();
    bool ResetReStartConnection(std::int16_t MaxSecTout);
    static bool IsValidIp(const QString& text);

private:
    // Waits once for the answer to the receipt's last payment line.
    enum class Answer { Received, Failed, TimedOut };
    Answer waitSocketAnswer();
    void takeSocketAnswer();
    // The answer to a closing line: false when it is the register's error answer.
    bool takeClosingAnswer();
    void onSocketConnect();
    void onDataArrival(int bytesTotal);
    void onSocketError(int number, const QString& description, int scode);

    TcpLineContext ctx_;
};

} // namespace velmar
