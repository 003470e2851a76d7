// After the dialogue: what the job left on the register. A receipt is
// reported printed only when the register closed it; a receipt left open is
// voided before the host is answered, so a resend can never land in it; and
// where a failure leaves the question open, the register is asked for its
// last receipt number and the answer is compared with the number Velmar
// expects. Only when the register cannot tell is the outcome "not known".

#include "link/EcrDialogue.h"

#include "common/EcrFamily.h"
#include "common/Fault.h"

#include <QRegularExpression>

namespace velmar {

namespace {

constexpr int kLateFooterMs = 8000;     // for a closing answer after a failure
constexpr int kReceiptNumbers = 10000;  // receipt numbers have four digits

int nextNumber(int number, int receipts) {
    return (number + receipts) % kReceiptNumbers;
}

// Receipts a state may hold printed: those closed for sure, and one more
// when a payment was keyed on sums Velmar could not do.
int mostClosed(const ReceiptPlan::State& s) {
    return s.receiptsClosed + (s.fiscalOpen && !s.sumsKnown && s.paymentKeyed ? 1 : 0);
}

} // namespace

std::optional<int> EcrDialogue::numberInAnswer(const QByteArray& answer) const {
    const qsizetype stx = answer.indexOf(RegisterLine::STX);
    const qsizetype etx = stx < 0 ? -1 : answer.indexOf(RegisterLine::ETX, stx);
    if (etx < 0 || registerErrorCode(answer) != 0) {
        return std::nullopt;
    }
    const QByteArray frame = answer.mid(stx, etx - stx + 1);
    bool ok = false;
    int number = -1;
    if (ecrFamily(settings().ecrVariant).numberAsInFooter) {
        number = frame.mid(frame.size() - 7, 4).toInt(&ok); // ends three before ETX
    } else {
        static const QRegularExpression told(QStringLiteral(" N(\\d{4})"));
        const auto m = told.match(QString::fromLatin1(frame));
        if (m.hasMatch()) {
            number = m.captured(1).toInt(&ok);
        }
    }
    return ok ? std::optional<int>(number) : std::nullopt;
}

std::optional<int> EcrDialogue::askReceiptNumber() {
    // Twice: a register coming back from a power cut may miss the first.
    std::optional<int> told = askReceiptNumberOnce();
    return told ? told : askReceiptNumberOnce();
}

std::optional<int> EcrDialogue::askReceiptNumberOnce() {
    const QByteArray request = ecrFamily(settings().ecrVariant).numberRequest;
    if (request.isEmpty()) {
        return std::nullopt; // this family cannot be asked
    }
    if (line().held()) {
        return std::nullopt; // a register that holds XOFF this long takes nothing
    }
    const auto [answered, fault] = line().askFrame(request);
    if (fault) {
        ctx_.trace.fault(*fault, "askReceiptNumber");
    }
    return answered ? numberInAnswer(ctx_.link.ReplyBuffer) : std::nullopt;
}

bool EcrDialogue::voidOpenReceipt() {
    LinkState& l = ctx_.link;
    bool taken = false;
    try {
        // A register that still holds XOFF after the dialogue's wait takes
        // nothing: the cancel goes before the next job instead.
        if (!line().held()) {
            taken = line().SendString(ecrFamily(settings().ecrVariant).cancel);
        }
    } catch (const Fault& f) {
        ctx_.trace.fault(f, "voidOpenReceipt");
    }
    // Over TCP nothing acknowledges the cancel: it goes again before the
    // next job, so that job can never land in a receipt left open.
    l.PendingVoid = !taken || !settings().serialMode;
    return taken;
}

std::int16_t EcrDialogue::settleReceipt(bool played) {
    LinkState& l = ctx_.link;
    const ReceiptPlan& plan = plan_;
    const int all = plan.lines();
    const LinkSettings now = settings();
    const bool serial = now.serialMode;
    const EcrFamily& family = ecrFamily(now.ecrVariant);
    const std::int16_t failure = l.RegisterError != 0 ? l.RegisterError : std::int16_t(-4);

    // Where the register may be: after every line it took, or also after the
    // line that failed, whose answer may have been lost once it ran (not
    // when the register refused it outright).
    const int sure = played ? all : l.LinesAcknowledged;
    const int maybe = played ? all : (l.RegisterError != 0 ? sure : l.LinesSent);
    const ReceiptPlan::State& low = plan.after(sure);
    const ReceiptPlan::State& high = plan.after(maybe);
    const int expected = plan.after(all).receiptsClosed;
    // A line cut short may have opened a document with its first commands.
    const bool mayBeOpen = low.fiscalOpen || high.fiscalOpen ||
                           (l.PartialLine && plan.after(maybe + 1).fiscalOpen);
    // Lines keyed before a document opens (texts, codes, a reference) belong
    // to the next one: they are cancelled too, or the resend would carry them.
    const bool keyedSomething = maybe > 0 || l.PartialLine;
    const int expectedNumber = l.LastReceiptNumber; // -1: not known

    const auto printed = [&]() -> std::int16_t {
        if (l.ClosingAnswerSeen && l.ClosingNumber >= 0 && expected > 0 &&
            plan.after(all).movementsClosed == 0) {
            l.LastReceiptNumber = l.ClosingNumber;
        } else if (l.QueriedNumber >= 0) {
            l.LastReceiptNumber = l.QueriedNumber;
        } else if (l.LastReceiptNumber >= 0) {
            l.LastReceiptNumber = nextNumber(l.LastReceiptNumber, expected);
        }
        if (played) {
            l.PendingVoid = false; // the register took every command after the void
        }
        return 0;
    };
    const auto notPrinted = [&](std::int16_t code) -> std::int16_t {
        if (low.nonFiscalOpen || high.nonFiscalOpen) {
            // A non-fiscal document left open would refuse every sale after
            // it: it is closed (what it holds is printed; it is not fiscal).
            try {
                line().SendString("J");
            } catch (const Fault& f) {
                ctx_.trace.fault(f, "settleReceipt");
            }
        }
        if (mayBeOpen) {
            l.ReceiptVoided = voidOpenReceipt();
        } else if (keyedSomething) {
            voidOpenReceipt();
        }
        if (l.QueriedNumber >= 0) {
            l.LastReceiptNumber = l.QueriedNumber;
        }
        return code;
    };
    const auto unknown = [&]() -> std::int16_t {
        // Whatever it was, nothing may stay open for the next receipt to land in.
        voidOpenReceipt();
        l.LastReceiptNumber = l.QueriedNumber; // the register's count, when it told it
        return kOutcomeUnknown;
    };
    // The register's own count decides between printed and not printed.
    const auto byNumber = [&](int closedIfPrinted, int closedIfNot) -> std::int16_t {
        const std::optional<int> told = askReceiptNumber();
        if (!told) {
            return unknown();
        }
        l.QueriedNumber = *told;
        if (expectedNumber >= 0 && closedIfPrinted == expected &&
            *told == nextNumber(expectedNumber, closedIfPrinted)) {
            return printed();
        }
        if (expectedNumber >= 0 && closedIfNot == 0 && *told == expectedNumber) {
            return notPrinted(played ? std::int16_t(-2) : failure);
        }
        return unknown();
    };

    if (played) {
        const ReceiptPlan::State& end = plan.after(all);
        if (l.ClosingAnswerSeen) {
            return printed();
        }
        if (expected == 0 && end.movementsClosed == 0 && !end.fiscalOpen) {
            return printed(); // nothing fiscal: a drawer, a text, a non-fiscal document
        }
        const bool leftOpen = end.fiscalOpen && end.sumsKnown;
        if (l.QueriedNumber >= 0 && expectedNumber >= 0 && expected > 0) {
            // The number the family tells after a receipt (its status request, or
            // its number request after the closing key).
            if (l.QueriedNumber == expectedNumber) {
                return notPrinted(-2);
            }
            if (!leftOpen) {
                return printed();
            }
        }
        if (leftOpen) {
            return notPrinted(-2); // paid short, or not paid at all: the register keeps it open
        }
        const bool answersEveryReceipt =
            !serial || family.serialAnswer == EcrFamily::SerialAnswer::Footer;
        if (!answersEveryReceipt) {
            return printed(); // the register tells nothing: its sums are Velmar's
        }
        // A family that answers every receipt did not: the answer was lost,
        // or the receipt is still open.
        return byNumber(expected, 0);
    }

    // The job failed.
    if (mostClosed(high) == 0 && !l.ClosingAnswerSeen) {
        return notPrinted(failure); // no receipt can have been printed
    }
    if (low.receiptsClosed == expected && expected > 0 && !low.fiscalOpen) {
        return printed(); // printed before a later line failed
    }
    if (listenForClosingAnswer(kLateFooterMs) && expected == 1) {
        return printed();
    }
    return byNumber(mostClosed(high), low.receiptsClosed);
}

bool EcrDialogue::resetRegister() {
    LinkState& l = ctx_.link;
    RegisterLine& to = line();
    if (!to.configure(ctx_.job.iCurrentCom)) {
        return false;
    }
    if (const LineFault f = to.open()) {
        ctx_.trace.fault(*f, "resetRegister");
        return false;
    }
    return to.SendString(l.ResetString);
}

void EcrDialogue::releasePort() {
    if (const LineFault f = line().close()) {
        ctx_.trace.fault(*f, "releasePort");
    }
    ctx_.link.TransmitBusy = false;
}

bool EcrDialogue::sendPendingVoid() {
    LinkState& l = ctx_.link;
    l.TransmitBusy = true;
    const ExchangeGuard exchange(l.ExchangeDepth);
    if (resetRegister() && voidOpenReceipt() && !settings().serialMode) {
        // Over TCP nothing answers the cancel: a connection that stays up
        // has delivered it.
        WaitMs(ctx_.runtime, 1000);
        l.PendingVoid = !line().connected();
    }
    releasePort();
    return !l.PendingVoid;
}

std::int16_t EcrDialogue::settleInterrupted(TransmitObserver::Stage stage) {
    using Stage = TransmitObserver::Stage;
    LinkState& l = ctx_.link;
    l.ReceiptVoided = false;
    l.QueriedNumber = -1;
    if (stage == Stage::Closed) {
        // The register had answered that it closed the receipt.
        if (l.ClosingNumber >= 0) {
            l.LastReceiptNumber = l.ClosingNumber;
        }
        return 0;
    }
    l.TransmitBusy = true;
    const ExchangeGuard exchange(l.ExchangeDepth);
    // The reset ends whatever command was half sent when Velmar stopped.
    const bool alive = resetRegister();
    // Before the first payment nothing can have printed; what was keyed is
    // cancelled (now, or before the next job when the register is back).
    std::int16_t result = kOutcomeUnknown;
    if (!alive) {
        l.PendingVoid = true;
        result = stage == Stage::Paying ? kOutcomeUnknown : std::int16_t(-4);
    } else if (stage != Stage::Paying) {
        const bool voided = voidOpenReceipt();
        l.ReceiptVoided = voided && stage == Stage::DocumentOpening;
        result = -4;
    } else {
        const std::optional<int> told = askReceiptNumber();
        const int expected = l.LastReceiptNumber;
        if (told && expected >= 0 && *told == nextNumber(expected, 1)) {
            result = 0;
        } else if (told && expected >= 0 && *told == expected) {
            l.ReceiptVoided = voidOpenReceipt();
            result = -4;
        } else {
            voidOpenReceipt();
        }
        l.LastReceiptNumber = told ? *told : -1;
    }
    releasePort();
    return result;
}

} // namespace velmar
