// The TCP line: one connection to the register held across jobs, its
// events, the sends that wait for the answer to a receipt's last payment
// line, closing and reconnecting.
//
// Velmar chose bounded outcomes for the cases a register outside family 5
// gives no answer to (docs/PROTOCOL.md, "TCP outcomes"):
//  - a line that is not a payment line is accepted once the socket took it;
//  - a payment line beyond the receipt's count of payment lines is treated as
//    the last one: it waits for the register's answer, never resends;
//  - a line the socket refused (not connected) is sent again once the
//    connection is back, never reported as sent when it was not;
//  - a refused connection does not start another reset from inside the reset
//    action's own connect (LinkActions).

#include "link/TcpLine.h"

#include "common/Cp1252.h"
#include "common/EcrFamily.h"
#include "common/Fault.h"
#include "common/TextRules.h"
#include "convert/CommandFixes.h"

#include <QStringList>

namespace velmar {

namespace {
constexpr int kLost[] = {10053, 10060, 10061};
bool isPaymentLine(const QByteArray& s) {
    return velmar::isPaymentLine(std::string_view(s.constData(), static_cast<std::size_t>(s.size())));
}
bool isLost(int number) {
    return std::find(std::begin(kLost), std::end(kLost), number) != std::end(kLost);
}
} // namespace

TcpLine::TcpLine(TcpLineContext context) : ctx_(std::move(context)) {
    connect(&ctx_.socket, &SocketControl::connectEvent, this, &TcpLine::onSocketConnect);
    connect(&ctx_.socket, &SocketControl::dataArrival, this, &TcpLine::onDataArrival);
    connect(&ctx_.socket, &SocketControl::errorEvent, this, &TcpLine::onSocketError);
}

void TcpLine::WSResetReceive() {
    LinkState& l = ctx_.link;
    l.SocketError = false;
    l.SocketRxBuffer.clear();
    l.SocketRxReady = false;
    l.SocketRxArmed = true;
}

void TcpLine::onDataArrival(int bytesTotal) {
    const QByteArray chunk = ctx_.socket.getData(bytesTotal); // always taken
    LinkState& l = ctx_.link;
    // The register's error answer to a command that needs no answer arrives
    // unasked: remembered for the sender, whatever the receiver's state.
    if (const std::int16_t error = registerErrorCode(chunk)) {
        l.RegisterError = error;
    }
    if (l.SocketRxArmed) { // one armed wait sees exactly one chunk
        l.SocketRxBuffer += chunk;
        l.SocketRxReady = true;
        l.SocketRxArmed = false;
    }
}

void TcpLine::onSocketConnect() {
    ctx_.status.showConnection(true);
    ctx_.trace.line(" -> Connection OK");
}

void TcpLine::onSocketError(int number, const QString& description, int scode) {
    LinkState& l = ctx_.link;
    CloseSocketConnection();
    const QString text = QStringLiteral("WS_Error n.%1 - %2 - %3").arg(number).arg(description).arg(scode);
    if (isLost(number)) {
        l.SocketError = false;
        l.SocketLost = true;
    } else {
        l.SocketError = true;
        l.SocketLost = false;
        ctx_.status.showLinkError(text);
    }
    ctx_.trace.line(" -> " + cp1252::encode(text));
    // A refused connection starts the reset action (unless it is that
    // action's own connect that was refused).
    if (number == 10061) {
        ctx_.refused();
    }
}

bool TcpLine::CloseSocketConnection() {
    try {
        if (ctx_.socket.state() != SocketControl::Closed) {
            ctx_.socket.close();
            ctx_.runtime.sleepBlind(200);
        }
        int polls = 0;
        while (ctx_.socket.state() != SocketControl::Closed) {
            ctx_.runtime.sleepBlind(200);
            ctx_.runtime.serveEvents(false);
            if (++polls >= 31) {
                ctx_.status.showLinkError(QStringLiteral("ERRORE NELLA CHIUSURA DELLA CONNESSIONE"));
                return false;
            }
        }
        ctx_.status.showConnection(false);
    } catch (const Fault& f) {
        ctx_.trace.fault(f, "CloseSocketConnection");
    }
    return true;
}

void TcpLine::ConnectSocket(bool showProgress) {
    try {
        SocketControl& sock = ctx_.socket;
        if (sock.state() != SocketControl::Closed) {
            sock.close();
            WaitMs(ctx_.runtime, 200);
            if (showProgress) {
                ctx_.status.setCaption(LinkButton::ResetConnection, QStringLiteral("In Chiusura ..."));
                WaitMs(ctx_.runtime, 2000);
                // A dump left waiting by an unanswered reset may run again.
                ctx_.job.bDumpInProgress = false;
            }
        }
        int polls = 0;
        while (sock.state() != SocketControl::Closed) {
            WaitMs(ctx_.runtime, 1000);
            ctx_.runtime.serveEvents(false);
            ++polls;
            ctx_.trace.line(" -> Retry n." + QByteArray::number(polls) +
                            " -> ERRORE NELLA CHIUSURA DELLA CONNESSIONE");
            if (polls > 20) {
                ctx_.status.showLinkError(QStringLiteral("ERRORE NELLA CHIUSURA DELLA CONNESSIONE"));
                return;
            }
        }
        LinkSettings settings = ctx_.settings.linkSettings();
        if (settings.tcpPort.isEmpty()) {
            settings.tcpPort = QString::number(ecrFamily(settings.ecrVariant).defaultTcpPort);
            ctx_.status.showTcpPort(settings.tcpPort);
        }
        sock.setRemoteHost(settings.remoteIp);
        if (sock.state() == SocketControl::Closed && !sock.remoteHost().isEmpty()) {
            sock.setRemotePort(static_cast<int>(
                text::leadingNumber(cp1252::encode(settings.tcpPort).toStdString())));
            sock.connectTo(sock.remoteHost());
        } else if (sock.state() != SocketControl::Closed) {
            ctx_.trace.line(" -> SOCKET CONNECTION FAILURE");
        }
    } catch (const Fault& f) {
        ctx_.trace.fault(f, "ConnectSocket");
    }
}

bool TcpLine::ResetReStartConnection(std::int16_t MaxSecTout) {
    ConnectSocket(false);
    int seconds = 0;
    for (;;) {
        const int state = ctx_.socket.state();
        if (state == SocketControl::Connected) {
            ctx_.link.SocketLost = false;
            ctx_.link.SocketError = false;
            return true;
        }
        // Still connecting, closing, or failed: one second more, within the limit.
        WaitMs(ctx_.runtime, 1000);
        if (++seconds > MaxSecTout) {
            return false;
        }
    }
}

TcpLine::Answer TcpLine::waitSocketAnswer() {
    LinkState& l = ctx_.link;
    l.ReplyTimedOut = false;
    ctx_.Timer1.start(l.SocketReplyTimeoutMs);
    WSResetReceive();
    l.ReplyBuffer.clear();
    // An answer may come in more than one segment: a frame begun (STX) is
    // read on to its ETX within the same wait.
    QByteArray got;
    const auto whole = [&got] {
        const qsizetype stx = got.indexOf(STX);
        return stx < 0 || got.indexOf(ETX, stx) >= 0;
    };
    for (;;) {
        while (!l.ReplyTimedOut && !l.SocketRxReady && !l.SocketError && !l.SocketLost) {
            ctx_.runtime.serveEvents(true);
        }
        if (!l.SocketRxReady) {
            break;
        }
        got += l.SocketRxBuffer;
        if (whole()) {
            break;
        }
        WSResetReceive();
    }
    ctx_.Timer1.stop();
    if (!got.isEmpty()) {
        l.SocketRxBuffer = got;
        l.SocketRxReady = true;
        return Answer::Received;
    }
    if (l.SocketError || l.SocketLost) {
        return Answer::Failed;
    }
    return Answer::TimedOut;
}

bool TcpLine::takeClosingAnswer() {
    takeSocketAnswer();
    LinkState& l = ctx_.link;
    if (const std::int16_t error = registerErrorCode(l.ReplyBuffer)) {
        l.RegisterError = error; // refused: the document is not closed
        return false;
    }
    return true;
}

void TcpLine::takeSocketAnswer() {
    LinkState& l = ctx_.link;
    l.ReplyBuffer = l.SocketRxBuffer;
    if (l.ReplyBuffer.contains(l.XoffChar)) {
        WaitMs(ctx_.runtime, 200);
    }
    ctx_.trace.reply(false);
    WSResetReceive();
}

bool TcpLine::SendStringWinsock(const QByteArray& s) {
    LinkState& l = ctx_.link;
    // A connection lost before this send is not news for it: the send finds
    // the socket's state itself. Left set, it failed the first answer wait
    // after a reconnection at once, and a printed receipt was reported E504.
    l.SocketLost = false;
    if (l.RegisterError != 0) {
        return false; // the register refused the line before this one
    }
    try {
        ctx_.Timer1.stop();
        l.ReplyBuffer.clear();
        WSResetReceive();
        ctx_.socket.sendData(s);
        l.LineStarted = true;
        l.LineFinished = true;
        ctx_.trace.sent(s);
        WaitMs(ctx_.runtime, double(s.size()));
        // A connection the register dropped is noticed before the next line
        // is counted as sent.
        ctx_.runtime.serveEvents(false);
        if (l.SocketLost || l.SocketError) {
            return false;
        }

        if (!isPaymentLine(s)) {
            return true; // taken by the socket: accepted (family 5 and, by choice, the others)
        }
        --l.TotalLinesLeft;
        if (l.TotalLinesLeft > 0) {
            return true;
        }
        l.TotalLinesLeft = 0; // a payment line beyond the count counts as the last one
        for (int attempts = 3; attempts > 0; --attempts) {
            switch (waitSocketAnswer()) {
            case Answer::Received: return takeClosingAnswer();
            case Answer::Failed: return false;
            case Answer::TimedOut: WaitMs(ctx_.runtime, 500); break;
            }
        }
        return false;
    } catch (const Fault& f) {
        ctx_.trace.fault(f, "SendStringWinsock");
        ctx_.ui.message(QStringLiteral("Error %1 (%2) in procedure SendStringWinsock of Modulo Module1")
                            .arg(f.number())
                            .arg(QString::fromUtf8(f.description())));
        return false;
    }
}

bool TcpLine::SendString(const QByteArray& s) {
    LinkState& l = ctx_.link;
    l.SocketLost = false; // as in SendStringWinsock: only a loss during this send counts
    ctx_.trace.sent(s);
    l.ReplyBuffer.clear();
    l.ReplyTimedOut = false;
    bool sent = false;
    while (!sent) {
        try {
            ctx_.socket.sendData(s);
            l.LineStarted = true;
            l.LineFinished = true;
            sent = true;
        } catch (const Fault& f) {
            const QString text = QStringLiteral("Error %1 (%2) in procedure SendString of Modulo Module1")
                                     .arg(f.number())
                                     .arg(QString::fromUtf8(f.description()));
            ctx_.trace.fault(f, "SendString");
            ctx_.ui.message(text);
            // Not connected: reconnect within 3 s and send again, once.
            if (f.number() != faultno::WrongSocketState || !ResetReStartConnection(3)) {
                return false;
            }
            try {
                ctx_.socket.sendData(s);
                sent = true;
            } catch (const Fault& again) {
                ctx_.trace.fault(again, "SendString");
                return false;
            }
        }
    }
    ctx_.Timer1.start(l.SocketReplyTimeoutMs);
    WSResetReceive();

    if (!isPaymentLine(s)) {
        ctx_.Timer1.stop();
        return true; // taken by the socket: accepted
    }
    --l.TotalLinesLeft;
    if (l.TotalLinesLeft < 0) {
        ctx_.Timer1.stop();
        return false;
    }
    if (l.TotalLinesLeft > 0) {
        ctx_.Timer1.stop();
        return true; // not the last payment line: nothing to wait for
    }
    switch (waitSocketAnswer()) {
    case Answer::Received: return takeClosingAnswer();
    case Answer::Failed: return false;
    case Answer::TimedOut: WaitMs(ctx_.runtime, 300); return false;
    }
    return false;
}

bool TcpLine::SendRequest(const QByteArray& s) {
    // The socket taking the request says nothing: the answer does.
    if (!SendString(s)) {
        return false;
    }
    if (waitSocketAnswer() != Answer::Received) {
        return false;
    }
    takeSocketAnswer();
    return true;
}

std::pair<bool, LineFault> TcpLine::askFrame(const QByteArray& request) {
    if (!connected() && !ResetReStartConnection(3)) {
        return {false, std::nullopt};
    }
    try {
        ctx_.trace.sent(request);
        WSResetReceive();
        ctx_.socket.sendData(request);
    } catch (const Fault& f) {
        return {false, f};
    }
    if (waitSocketAnswer() != Answer::Received) {
        return {false, std::nullopt};
    }
    takeSocketAnswer();
    return {true, std::nullopt};
}

LineFault TcpLine::write(const QByteArray& bytes) {
    try {
        ctx_.socket.sendData(bytes);
    } catch (const Fault& f) {
        return f;
    }
    return std::nullopt;
}

LineFault TcpLine::listen(int ms, const std::function<bool()>& enough,
                          const std::function<LineFault()>& frame) {
    // Every family answers the command that closes a document.
    if (!connected()) {
        return std::nullopt;
    }
    const LinkState& l = ctx_.link;
    const std::int64_t until = ctx_.runtime.nowMs() + ms;
    while (ctx_.runtime.nowMs() < until && !enough()) {
        if (waitSocketAnswer() == Answer::Received) {
            takeSocketAnswer();
            if (LineFault f = frame()) {
                return f;
            }
        } else if (l.SocketLost || l.SocketError) {
            break;
        }
    }
    return std::nullopt;
}

bool TcpLine::IsValidIp(const QString& text) {
    if (text.isEmpty()) {
        return false;
    }
    const QStringList fields = text.split(QLatin1Char('.'));
    if (fields.size() < 4) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        const std::string field = cp1252::encode(fields.at(i)).toStdString();
        if (!text::isNumeric(field) || text::leadingNumber(field) > 255) {
            return false;
        }
    }
    return true;
}

} // namespace velmar
