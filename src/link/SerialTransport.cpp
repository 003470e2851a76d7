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
    } catch (const Fault&) {
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
    l.ReplyBuffer.clear();
    traceSent(s);
    step([&] { ctx_.serial.output(s); });
    step([&] { WaitMs(ctx_.runtime, double(s.size()) + 300); });
    step([&] { collect(3500, [&] { return l.ReplyBuffer.size() >= s.size(); }); });
    traceReply(true);

    if (l.ReplyBuffer.isEmpty()) {
        return false;
    }
    if (l.ReplyBuffer.size() == s.size()) {
        return l.ReplyBuffer == s;
    }
    return l.ReplyBuffer.contains(s);
}

} // namespace velmar
