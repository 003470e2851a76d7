// The dialogue: a translated receipt played to the register line by line, the
// per-character serial send with XON/XOFF flow control, and the closing
// answer that gives the host the receipt's time, date and number in SR_OUT.
// It reports how far the register took the receipt (LinkState), which
// settleReceipt reads once the dialogue is over.

#include "link/EcrLink.h"

#include "common/EcrFamily.h"
#include "common/Fault.h"
#include "common/TextRules.h"

#include <QFileInfo>

namespace velmar {

namespace {

// 1-based substring; empty when any part of it lies outside the text.
QByteArray mid(const QByteArray& s, int first, int count) {
    if (first < 1 || first + count - 1 > s.size()) {
        return {};
    }
    return s.mid(first - 1, count);
}

int positionOf(const QByteArray& s, char c) {
    return static_cast<int>(s.indexOf(c)) + 1; // 0 when absent
}

// A whole STX..ETX frame in `s`: the 1-based positions of both, or 0s.
std::pair<int, int> frameIn(const QByteArray& s) {
    const int stx = positionOf(s, EcrLink::STX);
    if (stx == 0) {
        return {0, 0};
    }
    const qsizetype etx = s.indexOf(EcrLink::ETX, stx);
    return {stx, etx < 0 ? 0 : static_cast<int>(etx) + 1};
}

// How long a footer may still take after the closing collection: a long
// receipt is still printing, and the register answers when it is done.
constexpr int kLateFooterMs = 12000;

} // namespace

std::int16_t EcrLink::registerErrorCode(const QByteArray& bytes) {
    const qsizetype at = bytes.indexOf("\x02" "ERR");
    if (at < 0 || at + 6 >= bytes.size() || bytes.at(at + 6) != ETX) {
        return 0;
    }
    switch (bytes.mid(at + 4, 2).toInt()) {
    case 2: return -3;  // printer cover open: E509
    case 3: return -7;  // electronic journal full: E508
    case 4: return -8;  // electronic journal nearly full: E507
    case 5: return -1;  // negative total: E505
    case 6: return -9;  // fiscal memory full: E1
    default: return -5; // anything else (paper out among them): the register's manual
    }
}

void EcrLink::writeInfoLines(const QByteArray& time, const QByteArray& date,
                             const QByteArray& number, bool blankBeforeComma) {
    if (output_ == nullptr) {
        return;
    }
    output_->writeLine("TIME,CASS. 1 " + time + " CASSA   1 ,E,A1;");
    output_->writeLine("DATE," + date + "  SCONTR. N." + number +
                       (blankBeforeComma ? " ,E,A1;" : ",E,A1;"));
}

bool EcrLink::writeInfoLinesFromFooter(int s, int e, bool family6Time) {
    // After STX: DD?MM?YYYY?HH-MM ...; the number ends three before ETX.
    const QByteArray& r = ctx_.link.ReplyBuffer;
    const QByteArray date = mid(r, s + 1, 2) + "/" + mid(r, s + 4, 2) + "/" + mid(r, s + 9, 2);
    QByteArray time = family6Time ? mid(r, s + 12, 2) + ":" + mid(r, s + 15, 2)
                                  : mid(r, s + 12, 5).replace('-', ':');
    const QByteArray number = mid(r, e - 6, 4);
    if (date.size() != 8 || time.size() != 5 || number.size() != 4) {
        return false; // a malformed answer writes nothing
    }
    writeInfoLines(time, date, number, true);
    return true;
}

void EcrLink::noteClosingAnswer(int etx) {
    LinkState& l = ctx_.link;
    bool ok = false;
    const int number = mid(l.ReplyBuffer, etx - 6, 4).toInt(&ok);
    if (askingNumber_) {
        l.QueriedNumber = ok ? number : -1; // the answer to "Y": the last receipt
        return;
    }
    l.ClosingAnswerSeen = true;
    l.ClosingNumber = ok ? number : -1;
    reachStage(TransmitObserver::Stage::Closed);
}

std::int16_t EcrLink::reachStage(TransmitObserver::Stage stage) {
    return ctx_.link.Observer != nullptr ? ctx_.link.Observer->reached(stage) : std::int16_t(0);
}

bool EcrLink::SendStringByChar(const QByteArray& s) {
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
            traceFault(f, "SendStringByChar");
        }
        traceSent(one);
        try {
            collect(3000, [this, &answered] { return ctx_.serial.inBufferCount() == 0 && answered(); });
            // A register may answer XOFF first and the character only after
            // its XON: up to 20 s for that XON, then the answer.
            if (!answered() && paused()) {
                collect(20000, [&] { return !paused() && answered(); }, true);
            }
        } catch (const Fault& f) {
            traceFault(f, "SendStringByChar");
        }
        if (!answered() && l.ReplyTimedOut) {
            noteFlow(l.ReplyBuffer);
            return false;
        }
        traceReply(true);

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
                    WaitMs(ctx_.runtime, 200);
                    l.ReplyBuffer += ctx_.serial.input();
                    std::tie(stx, etx) = frameIn(l.ReplyBuffer);
                }
                if (const std::int16_t error = registerErrorCode(l.ReplyBuffer)) {
                    l.RegisterError = error; // the register could not take the command
                    return false;
                }
                if (etx != 0 && writeInfoLinesFromFooter(stx, etx, false)) {
                    noteClosingAnswer(etx);
                    l.InfoLinesWritten = true;
                    return true; // the register has closed: the rest is not sent
                }
            }
        } catch (const Fault& f) {
            traceFault(f, "SendStringByChar");
        }
    }
    return true;
}

bool EcrLink::QueryReceiptNumber() {
    LinkState& l = ctx_.link;
    try {
        do { // empty the port first
            ctx_.runtime.serveEvents(false);
        } while (!ctx_.serial.input().isEmpty());
    } catch (const Fault& f) {
        traceFault(f, "QueryReceiptNumber");
    }
    try {
        ctx_.serial.output("89F");
    } catch (const Fault& f) {
        traceFault(f, "QueryReceiptNumber");
    }
    try {
        collect(3000, [&l] { return l.ReplyBuffer.size() >= 42; });
    } catch (const Fault& f) {
        traceFault(f, "QueryReceiptNumber");
    }
    traceReply(true);

    // The computer's clock gives the time; the register the number.
    const QDateTime now = ctx_.runtime.currentDateTime();
    const bool told = l.ReplyBuffer.size() >= 42;
    const QByteArray number = told ? l.ReplyBuffer.mid(21, 4) : "0000";
    bool ok = false;
    const int n = number.toInt(&ok);
    l.QueriedNumber = told && ok ? n : -1;
    writeInfoLines(now.toString(QStringLiteral("HH:mm")).toLatin1(),
                   now.toString(QStringLiteral("dd/MM/yyyy")).toLatin1(), number, false);
    return true;
}

void EcrLink::dialogueFault(const Fault& fault) {
    if (fault.number() == faultno::PortNotOpen) {
        ctx_.exit.endProgram(QStringLiteral("porta seriale chiusa durante la trasmissione"));
        throw fault;
    }
    ctx_.ui.message(QStringLiteral("ERRORE = ") + QString::fromUtf8(fault.description()) +
                    QStringLiteral(" - ") + QString::number(fault.number()));
}

bool EcrLink::RunEcrDialogue(const QString& path) {
    // Both files must be at hand before a byte is played: a receipt that
    // cannot be read, or whose answer cannot be written, is not sent at all.
    LineWriter out;
    std::vector<QByteArray> lines;
    try {
        out.create(ctx_.job.OutputFilePath);
        LineReader in;
        if (!in.open(path)) {
            throw Fault(QFileInfo::exists(path) ? faultno::FileAccess : faultno::FileNotFound);
        }
        std::string raw;
        while (in.next(raw)) {
            lines.emplace_back(raw.data(), static_cast<qsizetype>(raw.size()));
        }
    } catch (const Fault& f) {
        try {
            dialogueFault(f);
        } catch (const Fault& fatal) {
            traceFault(fatal, "RunEcrDialogue");
        }
        return false;
    }
    plan_ = ReceiptPlan(lines);
    output_ = &out;
    const bool played = playLines(lines);
    output_ = nullptr;
    try {
        out.close();
    } catch (const Fault& f) {
        traceFault(f, "RunEcrDialogue");
    }
    return played;
}

bool EcrLink::playLines(const std::vector<QByteArray>& lines) {
    LinkState& l = ctx_.link;
    const bool serial = ctx_.panel.serialMode();
    const int variant = ctx_.panel.ecrVariant();
    const EcrFamily& family = ecrFamily(variant);
    using SerialAnswer = EcrFamily::SerialAnswer;
    l.InfoLinesWritten = false;
    l.LinesSent = 0;
    l.LinesAcknowledged = 0;
    l.PartialLine = false;
    l.RegisterError = 0;
    l.ClosingAnswerSeen = false;
    l.ClosingNumber = -1;
    l.QueriedNumber = -1;

    const auto sendLine = [&](const QByteArray& line) {
        const bool voidKey = line == "25F" && !family.receiptVoid.isEmpty();
        const QByteArray& sent = voidKey ? family.receiptVoid : line;
        if (family.echo == EcrFamily::Echo::WholeCommand) {
            return SendString(sent);
        }
        return serial ? SendStringByChar(sent) : SendStringWinsock(sent);
    };

    int count = 0;
    bool firstSent = false;
    bool first25F = false;
    bool firstA = true;
    QByteArray last;
    try {
        for (const QByteArray& line : lines) {
            const int index = count;
            last = line;
            ++count;
            // Before the receipt reaches a point a crash must tell apart, the
            // job's record says so.
            if (index == plan_.firstOpening() || index == plan_.firstPayment()) {
                const std::int16_t stop = reachStage(index == plan_.firstPayment()
                                                         ? TransmitObserver::Stage::Paying
                                                         : TransmitObserver::Stage::DocumentOpening);
                if (stop != 0) {
                    l.RegisterError = stop;
                    return false;
                }
            }
            l.LinesSent = count;
            // A first line that voids a receipt left open: its answer does not count.
            if (!firstSent && text::findNoCase(std::string_view(line.constData(), static_cast<std::size_t>(line.size())), "25F") != 0) {
                sendLine(family.receiptVoid.isEmpty() ? line : family.receiptVoid);
                l.RegisterError = 0;
                l.LinesAcknowledged = count;
                firstSent = true;
                first25F = true;
                continue;
            }
            l.LineStarted = false;
            l.LineFinished = false;
            if (!sendLine(line)) {
                // A command runs when its last byte arrives: a line cut short
                // may have run its first commands, never its last.
                l.LinesSent = l.LineFinished ? count : count - 1;
                l.PartialLine = l.LineStarted && !l.LineFinished;
                return false;
            }
            l.LinesAcknowledged = count;
            firstSent = true;
            if (firstA && !family.documentStart.isEmpty() && line == family.documentStart) {
                WaitMs(ctx_.runtime, 500); // the register opens its document
                firstA = false;
            }
        }
    } catch (const Fault& f) {
        try {
            dialogueFault(f);
        } catch (const Fault& fatal) {
            traceFault(fatal, "playLines");
            return false;
        }
    }

    // The closing phase: the register's answer after the receipt.
    const bool closing = count > 1 || (last != "K" && last != "25F" && !last.isEmpty() && !first25F);
    if (closing && !(!last.isEmpty() && last.endsWith('%'))) {
        try {
            if (serial && family.serialAnswer == SerialAnswer::AskedAfterClosingKey &&
                last == "1F" && !l.NonFiscalOpen && !l.RawFileMode) {
                askingNumber_ = true; // asks for the receipt's date, time and number
                SendStringByChar(family.numberRequest);
                askingNumber_ = false;
            }
            if (serial) {
                collect(3000, [] { return false; });
            }
            traceReply(true);
            closingAnswer(variant, serial);
            // A receipt still printing answers when it is done: keep listening.
            if (serial && family.serialAnswer == SerialAnswer::Footer && !l.ClosingAnswerSeen &&
                plan_.after(count).receiptsClosed > 0) {
                listenForClosingAnswer(kLateFooterMs);
            }
        } catch (const Fault& f) {
            askingNumber_ = false;
            try {
                dialogueFault(f);
            } catch (const Fault& fatal) {
                traceFault(fatal, "playLines");
                return false;
            }
        }
    }
    return true;
}

bool EcrLink::collectFrame(int ms) {
    LinkState& l = ctx_.link;
    collect(ms, [&l] { return frameIn(l.ReplyBuffer).second != 0; }, true);
    return frameIn(l.ReplyBuffer).second != 0;
}

bool EcrLink::listenForClosingAnswer(int ms) {
    LinkState& l = ctx_.link;
    if (l.ClosingAnswerSeen) {
        return true;
    }
    const int variant = ctx_.panel.ecrVariant();
    if (ctx_.panel.serialMode()) {
        if (ecrFamily(variant).serialAnswer != EcrFamily::SerialAnswer::Footer) {
            return false;
        }
        try {
            l.ReplyBuffer.clear();
            if (!collectFrame(ms)) {
                return false;
            }
            traceReply(true);
            closingAnswer(variant, true);
        } catch (const Fault& f) {
            traceFault(f, "listenForClosingAnswer");
            return false;
        }
        return l.ClosingAnswerSeen;
    }
    // TCP: every family answers the command that closes a document.
    if (ctx_.socket.state() != SocketControl::Connected) {
        return false;
    }
    const std::int64_t until = ctx_.runtime.nowMs() + ms;
    while (ctx_.runtime.nowMs() < until && !l.ClosingAnswerSeen) {
        if (waitSocketAnswer() == Answer::Received) {
            takeSocketAnswer();
            closingAnswer(variant, false);
        } else if (l.SocketLost || l.SocketError) {
            break;
        }
    }
    return l.ClosingAnswerSeen;
}

void EcrLink::closingAnswer(int variant, bool serial) {
    LinkState& l = ctx_.link;
    using SerialAnswer = EcrFamily::SerialAnswer;
    const EcrFamily& family = ecrFamily(variant);
    if (serial && family.serialAnswer == SerialAnswer::StatusAfterReceipt) {
        QueryReceiptNumber();
        return;
    }
    if (!l.ReplyBuffer.contains(STX)) {
        return;
    }
    auto [stx, etx] = frameIn(l.ReplyBuffer);
    if (etx == 0 && serial) {
        WaitMs(ctx_.runtime, 200);
        l.ReplyBuffer += ctx_.serial.input();
        std::tie(stx, etx) = frameIn(l.ReplyBuffer);
    }
    if (etx == 0 || registerErrorCode(l.ReplyBuffer) != 0) {
        return;
    }
    // The register closed a document: over TCP every family says so, over
    // serial the families that answer every receipt (a frame that answers
    // the number request tells the receipt's number instead).
    const bool footerOverSerial = serial && family.serialAnswer == SerialAnswer::Footer;
    if ((!serial || footerOverSerial) && !l.ClosingAnswerSeen) {
        noteClosingAnswer(etx);
    } else if (serial && family.serialAnswer == SerialAnswer::AskedAfterClosingKey &&
               l.QueriedNumber < 0) {
        askingNumber_ = true; // the answer to the number request, come after its echo
        noteClosingAnswer(etx);
        askingNumber_ = false;
    }
    if (l.InfoLinesWritten || !family.infoLinesFromFooter) {
        return;
    }
    if (family.footerWithRt) {
        if (l.ReplyBuffer.size() < 28) {
            return;
        }
        if (footerOverSerial) {
            ctx_.serial.output(QByteArray(1, ACK));
        }
        writeInfoLinesFromFooter(stx, etx, true);
        return;
    }
    if (footerOverSerial) {
        ctx_.serial.output(QByteArray(1, ACK));
        WaitMs(ctx_.runtime, 200);
    }
    const bool written = writeInfoLinesFromFooter(stx, etx, false);
    if (family.serialAnswer == SerialAnswer::Footer && written) {
        l.InfoLinesWritten = true;
    }
}

} // namespace velmar
