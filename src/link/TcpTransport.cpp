// The TCP side of the link: one connection to the register held across jobs,
// its events, the sends that wait for the answer to a receipt's last payment
// line, closing, reconnecting and the operator's two network buttons.
//
// Velmar chose bounded outcomes for the cases a register outside family 5
// gives no answer to (docs/PROTOCOL.md, "TCP outcomes"):
//  - a line that is not a payment line is accepted once the socket took it;
//  - a payment line beyond the receipt's count of payment lines is treated as
//    the last one: it waits for the register's answer, never resends;
//  - a line the socket refused (not connected) is sent again once the
//    connection is back, never reported as sent when it was not;
//  - a refused connection does not start another reset from inside the reset
//    action's own connect.

#include "link/EcrLink.h"

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

void EcrLink::WSResetReceive() {
    LinkState& l = ctx_.link;
    l.SocketError = false;
    l.SocketRxBuffer.clear();
    l.SocketRxReady = false;
    l.SocketRxArmed = true;
}

void EcrLink::onDataArrival(int bytesTotal) {
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

void EcrLink::onSocketConnect() {
    ctx_.panel.ShapeConn.setColor(LampControl::kGreen);
    ctx_.trace.line(" -> Connection OK");
}

void EcrLink::onSocketError(int number, const QString& description, int scode) {
    LinkState& l = ctx_.link;
    CloseSocketConnection();
    const QString text = QStringLiteral("WS_Error n.%1 - %2 - %3").arg(number).arg(description).arg(scode);
    if (isLost(number)) {
        l.SocketError = false;
        l.SocketLost = true;
    } else {
        l.SocketError = true;
        l.SocketLost = false;
        ctx_.panel.Text2.setText(text);
    }
    ctx_.trace.line(" -> " + cp1252::encode(text));
    // A refused connection starts the reset action, unless this error comes
    // from inside that action's own connect: the register may refuse for
    // minutes, and each refusal would otherwise nest one more reset.
    if (number == 10061 && !resettingConnection_) {
        cmdResetConn_Click();
    }
}

bool EcrLink::CloseSocketConnection() {
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
                ctx_.panel.Text2.setText(QStringLiteral("ERRORE NELLA CHIUSURA DELLA CONNESSIONE"));
                return false;
            }
        }
        ctx_.panel.ShapeConn.setColor(LampControl::kRed);
    } catch (const Fault& f) {
        traceFault(f, "CloseSocketConnection");
    }
    return true;
}

void EcrLink::ConnectSocket(bool showProgress) {
    try {
        SocketControl& sock = ctx_.socket;
        if (sock.state() != SocketControl::Closed) {
            sock.close();
            WaitMs(ctx_.runtime, 200);
            if (showProgress) {
                ctx_.panel.cmdResetConn.setCaption(QStringLiteral("In Chiusura ..."));
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
                ctx_.panel.Text2.setText(QStringLiteral("ERRORE NELLA CHIUSURA DELLA CONNESSIONE"));
                return;
            }
        }
        if (ctx_.panel.TcpPort.text().isEmpty()) {
            ctx_.panel.TcpPort.setText(
                QString::number(ecrFamily(ctx_.panel.ecrVariant()).defaultTcpPort));
        }
        sock.setRemoteHost(ctx_.panel.TxtRemoteIP.text());
        if (sock.state() == SocketControl::Closed && !sock.remoteHost().isEmpty()) {
            sock.setRemotePort(static_cast<int>(
                text::leadingNumber(cp1252::encode(ctx_.panel.TcpPort.text()).toStdString())));
            sock.connectTo(sock.remoteHost());
        } else if (sock.state() != SocketControl::Closed) {
            ctx_.trace.line(" -> SOCKET CONNECTION FAILURE");
        }
    } catch (const Fault& f) {
        traceFault(f, "ConnectSocket");
    }
}

bool EcrLink::ResetReStartConnection(std::int16_t MaxSecTout) {
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

EcrLink::Answer EcrLink::waitSocketAnswer() {
    LinkState& l = ctx_.link;
    l.ReplyTimedOut = false;
    startReplyTimer(l.SocketReplyTimeoutMs);
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
    stopReplyTimer();
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

bool EcrLink::takeClosingAnswer() {
    takeSocketAnswer();
    LinkState& l = ctx_.link;
    if (const std::int16_t error = registerErrorCode(l.ReplyBuffer)) {
        l.RegisterError = error; // refused: the document is not closed
        return false;
    }
    return true;
}

void EcrLink::takeSocketAnswer() {
    LinkState& l = ctx_.link;
    l.ReplyBuffer = l.SocketRxBuffer;
    if (l.ReplyBuffer.contains(l.XoffChar)) {
        WaitMs(ctx_.runtime, 200);
    }
    traceReply(false);
    WSResetReceive();
}

bool EcrLink::SendStringWinsock(const QByteArray& s) {
    LinkState& l = ctx_.link;
    // A connection lost before this send is not news for it: the send finds
    // the socket's state itself. Left set, it failed the first answer wait
    // after a reconnection at once, and a printed receipt was reported E504.
    l.SocketLost = false;
    if (l.RegisterError != 0) {
        return false; // the register refused the line before this one
    }
    try {
        stopReplyTimer();
        l.ReplyBuffer.clear();
        WSResetReceive();
        ctx_.socket.sendData(s);
        l.LineStarted = true;
        l.LineFinished = true;
        traceSent(s);
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
        traceFault(f, "SendStringWinsock");
        ctx_.ui.message(QStringLiteral("Error %1 (%2) in procedure SendStringWinsock of Modulo Module1")
                            .arg(f.number())
                            .arg(QString::fromUtf8(f.description())));
        return false;
    }
}

bool EcrLink::sendStringTcp(const QByteArray& s) {
    LinkState& l = ctx_.link;
    l.SocketLost = false; // as in SendStringWinsock: only a loss during this send counts
    traceSent(s);
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
            traceFault(f, "SendString");
            ctx_.ui.message(text);
            // Not connected: reconnect within 3 s and send again, once.
            if (f.number() != faultno::WrongSocketState || !ResetReStartConnection(3)) {
                return false;
            }
            try {
                ctx_.socket.sendData(s);
                sent = true;
            } catch (const Fault& again) {
                traceFault(again, "SendString");
                return false;
            }
        }
    }
    startReplyTimer(l.SocketReplyTimeoutMs);
    WSResetReceive();

    if (!isPaymentLine(s)) {
        stopReplyTimer();
        return true; // taken by the socket: accepted
    }
    --l.TotalLinesLeft;
    if (l.TotalLinesLeft < 0) {
        stopReplyTimer();
        return false;
    }
    if (l.TotalLinesLeft > 0) {
        stopReplyTimer();
        return true; // not the last payment line: nothing to wait for
    }
    switch (waitSocketAnswer()) {
    case Answer::Received: return takeClosingAnswer();
    case Answer::Failed: return false;
    case Answer::TimedOut: WaitMs(ctx_.runtime, 300); return false;
    }
    return false;
}

bool EcrLink::SendRequest(const QByteArray& s) {
    LinkState& l = ctx_.link;
    const auto begunNotEnded = [&l] {
        const qsizetype stx = l.ReplyBuffer.indexOf(STX);
        return stx >= 0 && l.ReplyBuffer.indexOf(ETX, stx) < 0;
    };
    if (ctx_.panel.serialMode()) {
        // The answer follows the echo; a frame begun is read to its end.
        const bool echoed = SendString(s);
        if (echoed && begunNotEnded()) {
            collectFrame(1000);
        }
        return echoed;
    }
    // Over TCP the socket taking the request says nothing: the answer does.
    if (!sendStringTcp(s)) {
        return false;
    }
    if (waitSocketAnswer() != Answer::Received) {
        return false;
    }
    takeSocketAnswer();
    return true;
}

bool EcrLink::IsValidIp(const QString& text) {
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

void EcrLink::cmdResetConn_Click() {
    ButtonControl& button = ctx_.panel.cmdResetConn;
    const QString caption = button.caption();
    const bool outer = !resettingConnection_;
    resettingConnection_ = true;
    try {
        ConnectSocket(true);
        WaitMs(ctx_.runtime, 2000);
    } catch (const Fault&) {
        ctx_.ui.message(QStringLiteral(" Errore di connessione Winsock "));
    }
    button.setCaption(caption);
    ctx_.panel.Text2.setText(QString());
    if (outer) {
        resettingConnection_ = false;
    }
}

void EcrLink::cmdValidateIP_Click() {
    ButtonControl& button = ctx_.panel.cmdValidateIP;
    const QString caption = button.caption();
    button.setCaption(IsValidIp(ctx_.panel.TxtRemoteIP.text()) ? QStringLiteral("IP OK")
                                                               : QStringLiteral("IP non Valido"));
    ctx_.runtime.sleepBlind(2000);
    button.setCaption(caption);
}

} // namespace velmar
