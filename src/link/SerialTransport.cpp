// The serial side of the link: setting up and opening the channel's port, and
// the serial SendString, whose acknowledgement is the register's echo.

#include "link/EcrLink.h"

#include "common/Cp1252.h"
#include "common/Fault.h"

namespace velmar {

bool EcrLink::OpenComPort(std::int16_t port) {
    try {
        ctx_.serial.setCommPort(port);
        ctx_.serial.setSettings(QString::number(ctx_.link.BaudRate) + QStringLiteral(",N,8,1"));
        ctx_.serial.setInputLen(0);
        ctx_.serial.setHandshaking(3);
        return true;
    } catch (const Fault& f) {
        traceFault(f, "OpenComPort");
        return false;
    }
}

bool EcrLink::ProbeSerialPort(std::int16_t port) {
    return OpenComPort(port);
}

void EcrLink::OpenSerialPort() {
    // Ports already open or not there are no news here; anything else is.
    const auto step = [this](const std::function<void()>& fn) {
        try {
            fn();
            return true;
        } catch (const Fault& f) {
            if (f.number() == faultno::PortAlreadyOpen && !ctx_.serial.portOpen()) {
                emit portInUse(QString::fromUtf8(f.description())); // held by another program
            }
            if (f.number() == faultno::PortAlreadyOpen || f.number() == faultno::InvalidPort) {
                return true;
            }
            ctx_.ui.message(QString::fromUtf8(f.description()) + QStringLiteral(" - ") +
                            QString::number(f.number()));
            return false;
        }
    };
    if (!OpenComPort(ctx_.job.iCurrentCom)) {
        return;
    }
    step([this] {
        if (!ctx_.serial.portOpen()) {
            ctx_.serial.setPortOpen(true);
        }
    });
}

void EcrLink::CloseSerialPort() {
    try {
        if (ctx_.serial.portOpen()) {
            ctx_.serial.setPortOpen(false);
        }
    } catch (const Fault& f) {
        if (f.number() != faultno::PortAlreadyOpen && f.number() != faultno::InvalidPort) {
            ctx_.ui.message(QString::fromUtf8(f.description()) + QStringLiteral(" - ") +
                            QString::number(f.number()));
        }
    }
}

bool EcrLink::SendString(const QByteArray& s) {
    return ctx_.panel.serialMode() ? sendStringSerial(s) : sendStringTcp(s);
}

namespace {
constexpr int kXonWaitMs = 20000; // how long the register may hold XOFF

// The echo in what the register sent, without its flow-control bytes: XON
// and XOFF may come between the echoed bytes.
QByteArray withoutFlow(const QByteArray& reply, char xon, char xoff) {
    QByteArray echo;
    echo.reserve(reply.size());
    for (char c : reply) {
        if (c != xon && c != xoff) {
            echo += c;
        }
    }
    return echo;
}
} // namespace

void EcrLink::noteFlow(const QByteArray& bytes) {
    LinkState& l = ctx_.link;
    const qsizetype on = bytes.lastIndexOf(l.XonChar);
    const qsizetype off = bytes.lastIndexOf(l.XoffChar);
    if (off > on) {
        l.XoffHeld = true;
    } else if (on > off) {
        l.XoffHeld = false;
    }
}

void EcrLink::collectWithFlow(int ms, const std::function<bool()>& done, bool append) {
    LinkState& l = ctx_.link;
    qsizetype seen = append ? l.ReplyBuffer.size() : 0;
    const auto seeing = [&] {
        noteFlow(l.ReplyBuffer.mid(seen));
        seen = l.ReplyBuffer.size();
        return done();
    };
    collect(ms, seeing, append);
    // A register that asked for a pause (XOFF, its printer catching up) may
    // answer only after its XON: up to 20 s for the XON, then the usual wait.
    for (int pauses = 0; !done() && l.XoffHeld && pauses < 3; ++pauses) {
        collect(kXonWaitMs, [&] { return seeing() || !l.XoffHeld; }, true);
        if (l.XoffHeld) {
            break; // no XON within its wait: the register is stuck
        }
        if (!done()) {
            collect(ms, seeing, true);
        }
    }
}

bool EcrLink::waitWhileXoff() {
    LinkState& l = ctx_.link;
    if (!l.XoffHeld || !ctx_.panel.serialMode()) {
        return true;
    }
    try {
        collect(kXonWaitMs, [&] {
            noteFlow(l.ReplyBuffer);
            return !l.XoffHeld;
        });
    } catch (const Fault& f) {
        traceFault(f, "SendString");
    }
    return !l.XoffHeld;
}

bool EcrLink::sendStringSerial(const QByteArray& s) {
    LinkState& l = ctx_.link;
    // A fault is traced and the next step runs; the echo check decides.
    const auto step = [this](const std::function<void()>& fn) {
        try {
            fn();
        } catch (const Fault& f) {
            traceFault(f, "SendString");
        }
    };
    // Nothing goes out while the register holds XOFF.
    if (!waitWhileXoff()) {
        traceReply(true);
        return false;
    }
    l.ReplyBuffer.clear();
    traceSent(s);
    l.LineStarted = true;
    l.LineFinished = true;
    step([&] { ctx_.serial.output(s); });
    step([&] { WaitMs(ctx_.runtime, double(s.size()) + 300); });
    step([&] {
        collectWithFlow(3500, [&] {
            return withoutFlow(l.ReplyBuffer, l.XonChar, l.XoffChar).size() >= s.size();
        });
    });
    traceReply(true);

    if (const std::int16_t error = registerErrorCode(l.ReplyBuffer)) {
        l.RegisterError = error;
        return false;
    }
    const QByteArray echo = withoutFlow(l.ReplyBuffer, l.XonChar, l.XoffChar);
    if (echo.isEmpty()) {
        return false;
    }
    if (echo.size() == s.size()) {
        return echo == s;
    }
    return echo.contains(s);
}

} // namespace velmar
