// The serial line: the channel's port, sends acknowledged by the register's
// echo (whole, or one character at a time), its XON/XOFF flow, and answers
// collected against the reply timer.

#include "link/SerialLine.h"

#include "common/Fault.h"

namespace velmar {

namespace {
constexpr int kXonWaitMs = 20000;    // how long the register may hold XOFF
constexpr int kNumberWaitMs = 3000;  // for the frame that answers a request

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

bool SerialLine::OpenComPort(std::int16_t port) {
    try {
        ctx_.serial.setCommPort(port);
        ctx_.serial.setSettings(QString::number(ctx_.link.BaudRate) + QStringLiteral(",N,8,1"));
        ctx_.serial.setInputLen(0);
        ctx_.serial.setHandshaking(3);
        return true;
    } catch (const Fault& f) {
        ctx_.trace.fault(f, "OpenComPort");
        return false;
    }
}

void SerialLine::OpenSerialPort() {
    // Ports already open or not there are no news here; anything else is.
    if (!OpenComPort(static_cast<std::int16_t>(ctx_.job.iCurrentCom))) {
        return;
    }
    try {
        if (!ctx_.serial.portOpen()) {
            ctx_.serial.setPortOpen(true);
        }
    } catch (const Fault& f) {
        if (f.number() == faultno::PortAlreadyOpen && !ctx_.serial.portOpen()) {
            ctx_.portInUse(QString::fromUtf8(f.description())); // held by another program
        }
        if (f.number() != faultno::PortAlreadyOpen && f.number() != faultno::InvalidPort) {
            ctx_.ui.message(QString::fromUtf8(f.description()) + QStringLiteral(" - ") +
                            QString::number(f.number()));
        }
    }
}

void SerialLine::CloseSerialPort() {
    if (const LineFault f = close();
        f && f->number() != faultno::PortAlreadyOpen && f->number() != faultno::InvalidPort) {
        ctx_.ui.message(QString::fromUtf8(f->description()) + QStringLiteral(" - ") +
                        QString::number(f->number()));
    }
}

LineFault SerialLine::openPort() {
    try {
        if (!ctx_.serial.portOpen()) {
            ctx_.serial.setPortOpen(true);
        }
    } catch (const Fault& f) {
        return f;
    }
    return std::nullopt;
}

LineFault SerialLine::open() {
    LineFault fault = openPort();
    if (!fault) {
        ctx_.link.XoffHeld = false; // a pause asked on an earlier opening is over
    }
    return fault;
}

LineFault SerialLine::close() {
    try {
        if (ctx_.serial.portOpen()) {
            ctx_.serial.setPortOpen(false);
        }
    } catch (const Fault& f) {
        return f;
    }
    return std::nullopt;
}

LineFault SerialLine::write(const QByteArray& bytes) {
    try {
        ctx_.serial.output(bytes);
    } catch (const Fault& f) {
        return f;
    }
    return std::nullopt;
}

void SerialLine::collect(int ms, const std::function<bool()>& done, bool append) {
    LinkState& l = ctx_.link;
    l.ReplyTimedOut = false;
    l.ReplyExtraTicks = 0;
    ctx_.Timer1.start(ms);
    if (!append) {
        l.ReplyBuffer.clear();
    }
    try {
        ctx_.runtime.serveEvents(false);
        for (;;) {
            l.ReplyBuffer += ctx_.serial.input();
            if (done() || l.ReplyTimedOut) {
                break;
            }
            ctx_.runtime.serveEvents(true); // sleeps until the port or the timer has news
        }
    } catch (...) {
        ctx_.Timer1.stop();
        l.ReplyExtraTicks = 0;
        throw;
    }
    ctx_.Timer1.stop();
    l.ReplyExtraTicks = 0;
}

bool SerialLine::collectFrame(int ms) {
    LinkState& l = ctx_.link;
    collect(ms, [&l] { return frameIn(l.ReplyBuffer).second != 0; }, true);
    return frameIn(l.ReplyBuffer).second != 0;
}

void SerialLine::noteFlow(const QByteArray& bytes) {
    LinkState& l = ctx_.link;
    const qsizetype on = bytes.lastIndexOf(l.XonChar);
    const qsizetype off = bytes.lastIndexOf(l.XoffChar);
    if (off > on) {
        l.XoffHeld = true;
    } else if (on > off) {
        l.XoffHeld = false;
    }
}

void SerialLine::collectWithFlow(int ms, const std::function<bool()>& done, bool append) {
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

bool SerialLine::waitWhileXoff() {
    LinkState& l = ctx_.link;
    if (!l.XoffHeld) {
        return true;
    }
    try {
        collect(kXonWaitMs, [&] {
            noteFlow(l.ReplyBuffer);
            return !l.XoffHeld;
        });
    } catch (const Fault& f) {
        ctx_.trace.fault(f, "SendString");
    }
    return !l.XoffHeld;
}

bool SerialLine::SendString(const QByteArray& s) {
    LinkState& l = ctx_.link;
    // A fault is traced and the next step runs; the echo check decides.
    const auto step = [this](const std::function<void()>& fn) {
        try {
            fn();
        } catch (const Fault& f) {
            ctx_.trace.fault(f, "SendString");
        }
    };
    // Nothing goes out while the register holds XOFF.
    if (!waitWhileXoff()) {
        ctx_.trace.reply(true);
        return false;
    }
    l.ReplyBuffer.clear();
    ctx_.trace.sent(s);
    l.LineStarted = true;
    l.LineFinished = true;
    step([&] { ctx_.serial.output(s); });
    step([&] { WaitMs(ctx_.runtime, double(s.size()) + 300); });
    step([&] {
        collectWithFlow(3500, [&] {
            return withoutFlow(l.ReplyBuffer, l.XonChar, l.XoffChar).size() >= s.size();
        });
    });
    ctx_.trace.reply(true);

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

bool SerialLine::SendStringByChar(const QByteArray& s, const FrameHandler& closed) {
    LinkState& l = ctx_.link;
    // A character is answered by a byte of the register's own: an XON or XOFF
    // alone may be left over from an earlier stall and answers nothing (taking
    // one for an echo once reported a refused payment as printed).
    const auto answered = [&l] {
        for (char b : l.ReplyBuffer) {
            if (b != l.XonChar && b != l.XoffChar) {
                return true;
            }
        }
        return false;
    };
    const auto paused = [&l] {
        return l.ReplyBuffer.lastIndexOf(l.XoffChar) > l.ReplyBuffer.lastIndexOf(l.XonChar);
    };
    if (!waitWhileXoff()) {
        return false;
    }
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char c = s.at(i);
        const QByteArray one(1, c);
        try {
            l.LineStarted = true;
            l.LineFinished = i + 1 == s.size();
            ctx_.serial.output(one);
        } catch (const Fault& f) {
            ctx_.trace.fault(f, "SendStringByChar");
        }
        ctx_.trace.sent(one);
        try {
            collect(3000, [this, &answered] { return ctx_.serial.inBufferCount() == 0 && answered(); });
            // A register may answer XOFF first and the character only after
            // its XON: up to 20 s for that XON, then the answer.
            if (!answered() && paused()) {
                collect(20000, [&] { return !paused() && answered(); }, true);
            }
        } catch (const Fault& f) {
            ctx_.trace.fault(f, "SendStringByChar");
        }
        if (!answered() && l.ReplyTimedOut) {
            noteFlow(l.ReplyBuffer);
            return false;
        }
        ctx_.trace.reply(true);

        try {
            if (l.ReplyBuffer.contains(l.XoffChar)) {
                // The register's buffer is full: give it a second, then up to
                // 20 s more for its XON.
                collect(1000, [] { return false; }, true);
                if (!l.ReplyBuffer.contains(l.XonChar)) {
                    collect(20000, [&l] { return l.ReplyBuffer.contains(l.XonChar); }, true);
                    if (!l.ReplyBuffer.contains(l.XonChar)) {
                        l.XoffHeld = true;
                        WaitMs(ctx_.runtime, 2000);
                        return false;
                    }
                }
            }
            noteFlow(l.ReplyBuffer);
            if (l.ReplyBuffer.contains(STX)) {
                auto [stx, etx] = frameIn(l.ReplyBuffer);
                if (etx == 0) {
                    readRestOfFrame();
                    std::tie(stx, etx) = frameIn(l.ReplyBuffer);
                }
                if (const std::int16_t error = registerErrorCode(l.ReplyBuffer)) {
                    l.RegisterError = error; // the register could not take the command
                    return false;
                }
                if (etx != 0 && closed(stx, etx)) {
                    return true; // the register has closed: the rest is not sent
                }
            }
        } catch (const Fault& f) {
            ctx_.trace.fault(f, "SendStringByChar");
        }
    }
    return true;
}

bool SerialLine::SendRequest(const QByteArray& s) {
    LinkState& l = ctx_.link;
    // The answer follows the echo; a frame begun is read to its end.
    const bool echoed = SendString(s);
    const auto [stx, etx] = frameIn(l.ReplyBuffer);
    if (echoed && stx != 0 && etx == 0) {
        collectFrame(1000);
    }
    return echoed;
}

std::pair<bool, LineFault> SerialLine::askFrame(const QByteArray& request) {
    LinkState& l = ctx_.link;
    try {
        ctx_.serial.input(); // what is left of earlier answers is no answer to this
        ctx_.trace.sent(request);
        ctx_.serial.output(request);
        l.ReplyBuffer.clear();
        collectFrame(kNumberWaitMs);
        ctx_.trace.reply(true);
    } catch (const Fault& f) {
        return {false, f};
    }
    return {true, std::nullopt};
}

void SerialLine::exchange(const QByteArray& request, int size, int ms, const char* procedure) {
    LinkState& l = ctx_.link;
    try {
        do { // empty the port first
            ctx_.runtime.serveEvents(false);
        } while (!ctx_.serial.input().isEmpty());
    } catch (const Fault& f) {
        ctx_.trace.fault(f, procedure);
    }
    if (const LineFault f = write(request)) {
        ctx_.trace.fault(*f, procedure);
    }
    try {
        collect(ms, [&l, size] { return l.ReplyBuffer.size() >= size; });
    } catch (const Fault& f) {
        ctx_.trace.fault(f, procedure);
    }
    ctx_.trace.reply(true);
}

void SerialLine::awaitClosing(int ms) {
    collect(ms, [] { return false; });
}

void SerialLine::readRestOfFrame() {
    WaitMs(ctx_.runtime, 200);
    ctx_.link.ReplyBuffer += ctx_.serial.input();
}

LineFault SerialLine::listen(int ms, const std::function<bool()>& /*enough*/,
                             const std::function<LineFault()>& frame) {
    // The register answers a receipt with one frame.
    try {
        ctx_.link.ReplyBuffer.clear();
        if (!collectFrame(ms)) {
            return std::nullopt;
        }
        ctx_.trace.reply(true);
        return frame();
    } catch (const Fault& f) {
        return f;
    }
}

} // namespace velmar

