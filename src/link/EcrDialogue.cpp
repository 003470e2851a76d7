// The dialogue: a translated receipt played to the register line by line, the
// per-character serial send with XON/XOFF flow control, and the closing
// answer that gives the host the receipt's time, date and number in SR_OUT.

#include "link/EcrLink.h"

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

} // namespace

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
    for (char c : s) {
        const QByteArray one(1, c);
        try {
            ctx_.serial.output(one);
        } catch (const Fault&) {
        }
        traceSent(one);
        try {
            collect(3000, [this, &answered] { return ctx_.serial.inBufferCount() == 0 && answered(); });
        } catch (const Fault&) {
        }
        if (!answered() && l.ReplyTimedOut) {
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
                        WaitMs(ctx_.runtime, 2000);
                        return false;
                    }
                }
            }
            if (l.ReplyBuffer.contains(STX)) {
                const int stx = positionOf(l.ReplyBuffer, STX);
                int etx = positionOf(l.ReplyBuffer, ETX);
                if (etx == 0) {
                    WaitMs(ctx_.runtime, 200);
                    l.ReplyBuffer += ctx_.serial.input();
                    etx = positionOf(l.ReplyBuffer, ETX);
                }
                if (etx != 0 && writeInfoLinesFromFooter(stx, etx, false)) {
                    l.InfoLinesWritten = true;
                    return true; // the register has closed: the rest is not sent
                }
            }
        } catch (const Fault&) {
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
    } catch (const Fault&) {
    }
    try {
        ctx_.serial.output("89F");
    } catch (const Fault&) {
    }
    try {
        collect(3000, [&l] { return l.ReplyBuffer.size() >= 42; });
    } catch (const Fault&) {
    }
    traceReply(true);

    // The computer's clock gives the time; the register the number.
    const QDateTime now = ctx_.runtime.currentDateTime();
    const QByteArray number = l.ReplyBuffer.size() >= 42 ? l.ReplyBuffer.mid(21, 4) : "0000";
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
    LinkState& l = ctx_.link;
    const bool serial = ctx_.panel.serialMode();
    const int variant = ctx_.panel.ecrVariant();
    l.InfoLinesWritten = false;

    LineWriter out;
    LineReader in;
    try {
        out.create(ctx_.job.OutputFilePath);
        if (!in.open(path)) {
            throw Fault(QFileInfo::exists(path) ? faultno::FileAccess : faultno::FileNotFound);
        }
    } catch (const Fault& f) {
        try {
            dialogueFault(f);
        } catch (const Fault&) {
            return false;
        }
    }
    output_ = out.isOpen() ? &out : nullptr;
    struct Release {
        LineWriter*& ref;
        ~Release() { ref = nullptr; }
    } release{output_};

    const auto sendLine = [&](const QByteArray& line) {
        if (variant == 6) {
            return SendString(line == "25F" ? QByteArray("k") : line);
        }
        return serial ? SendStringByChar(line) : SendStringWinsock(line);
    };

    int lines = 0;
    bool firstSent = false;
    bool first25F = false;
    bool firstA = true;
    std::string raw;
    QByteArray last;
    try {
        while (in.isOpen() && in.next(raw)) {
            const QByteArray line(raw.data(), static_cast<qsizetype>(raw.size()));
            last = line;
            ++lines;
            // A first line that voids a receipt left open: its answer does not count.
            if (!firstSent && text::findNoCase(raw, "25F") != 0) {
                if (variant == 6) {
                    SendString("k");
                } else if (serial) {
                    SendStringByChar(line);
                } else {
                    SendStringWinsock(line);
                }
                firstSent = true;
                first25F = true;
                continue;
            }
            if (!sendLine(line)) {
                out.close();
                return false;
            }
            firstSent = true;
            if (variant == 4 && firstA && line == "A") {
                WaitMs(ctx_.runtime, 500); // the register opens its document
                firstA = false;
            }
        }
    } catch (const Fault& f) {
        try {
            dialogueFault(f);
        } catch (const Fault&) {
            return false;
        }
    }

    // The closing phase: the register's answer after the receipt.
    const bool closing = lines > 1 || (last != "K" && last != "25F" && !last.isEmpty() && !first25F);
    if (closing && !(!last.isEmpty() && last.endsWith('%'))) {
        try {
            if (variant == 1 && serial && last == "1F" && !l.NonFiscalOpen && !l.RawFileMode) {
                SendStringByChar("Y"); // asks for the receipt's date, time and number
            }
            if (serial) {
                collect(3000, [] { return false; });
            }
            traceReply(true);
            closingAnswer(variant, serial);
        } catch (const Fault& f) {
            try {
                dialogueFault(f);
            } catch (const Fault&) {
                return false;
            }
        }
    }
    try {
        out.close();
    } catch (const Fault&) {
    }
    return true;
}

void EcrLink::closingAnswer(int variant, bool serial) {
    LinkState& l = ctx_.link;
    if (variant == 3) {
        if (serial) {
            QueryReceiptNumber();
        }
        return;
    }
    if (variant != 1 && variant != 5 && variant != 6) {
        return;
    }
    if (!l.ReplyBuffer.contains(STX) || l.InfoLinesWritten) {
        return;
    }
    const int stx = positionOf(l.ReplyBuffer, STX);
    int etx = positionOf(l.ReplyBuffer, ETX);
    if (etx == 0 && serial) {
        WaitMs(ctx_.runtime, 200);
        l.ReplyBuffer += ctx_.serial.input();
        etx = positionOf(l.ReplyBuffer, ETX);
    }
    if (etx == 0) {
        return;
    }
    if (variant == 6) {
        if (l.ReplyBuffer.size() < 28) {
            return;
        }
        if (serial) {
            ctx_.serial.output(QByteArray(1, ACK));
        }
        writeInfoLinesFromFooter(stx, etx, true);
        return;
    }
    if (variant == 5 && serial) {
        ctx_.serial.output(QByteArray(1, ACK));
        WaitMs(ctx_.runtime, 200);
    }
    const bool written = writeInfoLinesFromFooter(stx, etx, false);
    if (variant == 5 && written) {
        l.InfoLinesWritten = true;
    }
}

} // namespace velmar
