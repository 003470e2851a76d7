// The dialogue: a translated receipt played to the register line by line, and
// the closing answer that gives the host the receipt's time, date and number
// in SR_OUT.
// It reports how far the register took the receipt (LinkState), which
// settleReceipt reads once the dialogue is over.

#include "link/EcrDialogue.h"

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

// How long a footer may still take after the closing collection: a long
// receipt is still printing, and the register answers when it is done.
constexpr int kLateFooterMs = 12000;

} // namespace

void EcrDialogue::writeInfoLines(const QByteArray& time, const QByteArray& date,
                                 const QByteArray& number, bool blankBeforeComma) {
    if (output_ == nullptr) {
        return;
    }
    output_->writeLine("TIME,CASS. 1 " + time + " CASSA   1 ,E,A1;");
    output_->writeLine("DATE," + date + "  SCONTR. N." + number +
                       (blankBeforeComma ? " ,E,A1;" : ",E,A1;"));
}

bool EcrDialogue::writeInfoLinesFromFooter(int s, int e, bool family6Time) {
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

void EcrDialogue::noteClosingAnswer(int etx) {
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

std::int16_t EcrDialogue::reachStage(TransmitObserver::Stage stage) {
    return ctx_.link.Observer != nullptr ? ctx_.link.Observer->reached(stage) : std::int16_t(0);
}

bool EcrDialogue::closedByFrame(int stx, int etx) {
    if (!writeInfoLinesFromFooter(stx, etx, false)) {
        return false;
    }
    noteClosingAnswer(etx);
    ctx_.link.InfoLinesWritten = true;
    return true;
}

bool EcrDialogue::sendReceiptLine(const QByteArray& s) {
    return line().sendReceiptLine(s, [this](int stx, int etx) { return closedByFrame(stx, etx); });
}

bool EcrDialogue::QueryReceiptNumber() {
    LinkState& l = ctx_.link;
    ctx_.serial.exchange("89F", 42, 3000, "QueryReceiptNumber");

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

bool EcrDialogue::dialogueFault(const Fault& fault) {
    if (fault.number() == faultno::PortNotOpen) {
        ctx_.exit.endProgram(QStringLiteral("porta seriale chiusa durante la trasmissione"));
        return true;
    }
    ctx_.ui.message(QStringLiteral("ERRORE = ") + QString::fromUtf8(fault.description()) +
                    QStringLiteral(" - ") + QString::number(fault.number()));
    return false;
}

bool EcrDialogue::RunEcrDialogue(const QString& path) {
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
        if (dialogueFault(f)) {
            ctx_.trace.fault(f, "RunEcrDialogue");
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
        ctx_.trace.fault(f, "RunEcrDialogue");
    }
    return played;
}

bool EcrDialogue::playLines(const std::vector<QByteArray>& lines) {
    LinkState& l = ctx_.link;
    const LinkSettings now = settings();
    const bool serial = now.serialMode;
    const int variant = now.ecrVariant;
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

    const auto sendLine = [&](const QByteArray& command) {
        const bool voidKey = command == "25F" && !family.receiptVoid.isEmpty();
        const QByteArray& sent = voidKey ? family.receiptVoid : command;
        if (family.echo == EcrFamily::Echo::WholeCommand) {
            return line().SendString(sent);
        }
        return sendReceiptLine(sent);
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
        if (dialogueFault(f)) {
            ctx_.trace.fault(f, "playLines");
            return false;
        }
    }

    // The closing phase: the register's answer after the receipt.
    const bool closing = count > 1 || (last != "K" && last != "25F" && !last.isEmpty() && !first25F);
    if (closing && !(!last.isEmpty() && last.endsWith('%'))) {
        // A fault ends the program for a closed port; any other is shown.
        const auto stops = [this](const Fault& f) {
            askingNumber_ = false;
            if (!dialogueFault(f)) {
                return false;
            }
            ctx_.trace.fault(f, "playLines");
            return true;
        };
        try {
            if (serial && family.serialAnswer == SerialAnswer::AskedAfterClosingKey &&
                last == "1F" && !l.NonFiscalOpen && !l.RawFileMode) {
                askingNumber_ = true; // asks for the receipt's date, time and number
                sendReceiptLine(family.numberRequest);
                askingNumber_ = false;
            }
            line().awaitClosing(3000);
            ctx_.trace.reply(true);
            if (const LineFault fault = closingAnswer(variant, serial)) {
                return !stops(*fault);
            }
            // A receipt still printing answers when it is done: keep listening.
            if (serial && family.serialAnswer == SerialAnswer::Footer && !l.ClosingAnswerSeen &&
                plan_.after(count).receiptsClosed > 0) {
                listenForClosingAnswer(kLateFooterMs);
            }
        } catch (const Fault& f) {
            return !stops(f);
        }
    }
    return true;
}

bool EcrDialogue::listenForClosingAnswer(int ms) {
    LinkState& l = ctx_.link;
    if (l.ClosingAnswerSeen) {
        return true;
    }
    const LinkSettings now = settings();
    const int variant = now.ecrVariant;
    const bool serial = now.serialMode;
    if (serial && ecrFamily(variant).serialAnswer != EcrFamily::SerialAnswer::Footer) {
        return false;
    }
    const LineFault fault = line().listen(
        ms, [&l] { return l.ClosingAnswerSeen; }, [&] { return closingAnswer(variant, serial); });
    if (fault) {
        ctx_.trace.fault(*fault, "listenForClosingAnswer");
        return false;
    }
    return l.ClosingAnswerSeen;
}

LineFault EcrDialogue::closingAnswer(int variant, bool serial) {
    LinkState& l = ctx_.link;
    using SerialAnswer = EcrFamily::SerialAnswer;
    const EcrFamily& family = ecrFamily(variant);
    if (serial && family.serialAnswer == SerialAnswer::StatusAfterReceipt) {
        QueryReceiptNumber();
        return std::nullopt;
    }
    if (!l.ReplyBuffer.contains(RegisterLine::STX)) {
        return std::nullopt;
    }
    auto [stx, etx] = frameIn(l.ReplyBuffer);
    if (etx == 0) {
        line().readRestOfFrame();
        std::tie(stx, etx) = frameIn(l.ReplyBuffer);
    }
    if (etx == 0 || registerErrorCode(l.ReplyBuffer) != 0) {
        return std::nullopt;
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
        return std::nullopt;
    }
    const QByteArray ack(1, RegisterLine::ACK);
    if (family.footerWithRt) {
        if (l.ReplyBuffer.size() < 28) {
            return std::nullopt;
        }
        if (footerOverSerial) {
            if (LineFault f = line().write(ack)) {
                return f;
            }
        }
        writeInfoLinesFromFooter(stx, etx, true);
        return std::nullopt;
    }
    if (footerOverSerial) {
        if (LineFault f = line().write(ack)) {
            return f;
        }
        WaitMs(ctx_.runtime, 200);
    }
    const bool written = writeInfoLinesFromFooter(stx, etx, false);
    if (family.serialAnswer == SerialAnswer::Footer && written) {
        l.InfoLinesWritten = true;
    }
    return std::nullopt;
}

} // namespace velmar
