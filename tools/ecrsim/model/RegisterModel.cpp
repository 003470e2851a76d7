#include "RegisterModel.h"

#include "Answers.h"
#include "CommandParser.h"
#include "FaultPlan.h"
#include "FiscalState.h"
#include "Journal.h"
#include "PrintBuffer.h"
#include "Wire.h"

#include <algorithm>
#include <deque>
#include <random>

// How the model runs: bytes from the driver wait in the input line until their
// arrival time; advanceTo() then handles every timed event in time order (a
// byte arriving, a footer whose printing is done, XON when the print buffer has
// drained, a stall or a dead line ending, an ACK that did not come). Handling
// an event queues the register's answers on the output line, which gives each
// byte its time; takeDue() hands out the bytes whose time has come.

namespace velmar::sim {

namespace {

// A closing answer waiting for its document's printing to end.
struct PendingFooter {
    std::int64_t readyUs = 0;
    QByteArray bytes;
    bool expectsAck = false;
    bool split = false; // sent in two parts 100 ms apart
    FinishedDocument document; // journalled when the ACK question is settled
};

// A footer that was sent, waiting for the driver's ACK.
struct PendingAck {
    FinishedDocument document;
    std::int64_t windowOpensUs = 0; // when the footer's last byte has arrived
    std::int64_t deadlineUs = 0;
};

// The kinds of timed event, in the order they are handled when due at the
// same microsecond.
enum class Event { Footer, StallEnd, Revive, HangEnd, Xon, Byte, AckDeadline, None };

constexpr std::int64_t kSplitGapUs = 100000;
constexpr int kPowerOffMs = 3000; // a power cycle without a duration of its own

// The error answer of a fault that stands for the register's own state; 0
// for other faults.
int errorCode(FaultRule::Kind kind) {
    switch (kind) {
    case FaultRule::Kind::PaperOut: return 1;
    case FaultRule::Kind::CoverOpen: return 2;
    case FaultRule::Kind::JournalFull: return 3;
    case FaultRule::Kind::JournalNearlyFull: return 4;
    default: return 0;
    }
}

const char* errorReason(int code) {
    switch (code) {
    case 1: return "paper out";
    case 2: return "printer cover open";
    case 3: return "electronic journal full";
    default: return "electronic journal nearly full";
    }
}

} // namespace

struct RegisterModel::State {
    explicit State(RegisterConfig c)
        : config(std::move(c)), byteUs(byteTimeUs(config.serial, config.baud)), in(byteUs),
          out(byteUs), print(config.bufferSize, config.printBytesPerSecond),
          fiscal(config.family, config.firstReceiptNumber, config.presetPriceCents),
          faults(config.faults, config.seed), junk(config.seed ^ 0x9E3779B97F4A7C15ULL) {}

    RegisterConfig config;
    std::int64_t byteUs;
    InputLine in;
    OutputLine out;
    PrintBuffer print;
    CommandParser parser;
    FiscalState fiscal;
    FaultPlan faults;
    std::mt19937_64 junk; // garbled bytes; apart from the fault draws
    QList<QByteArray> journal;

    std::int64_t now = 0; // handled up to here
    int commands = 0;
    std::optional<FaultRule> fault; // of the command being read
    bool firstByteOfCommand = false;
    std::int64_t lastByteUs = 0; // arrival of the last byte read

    bool xoffSent = false;
    bool stalled = false;
    std::optional<std::int64_t> stallEndsUs;
    bool dead = false;
    std::optional<std::int64_t> reviveUs;
    bool poweredOff = false; // dead because of a power cycle: TCP connections refused
    bool hung = false;
    std::optional<std::int64_t> hangEndsUs;
    std::deque<PendingFooter> footers;
    std::deque<PendingAck> acks;

    QDateTime clock(std::int64_t us) const { return config.clockAtZero.addMSecs(us / 1000); }
    bool serial() const { return config.serial; }

    std::pair<std::int64_t, Event> nextEvent() const;
    void handle(Event e, std::int64_t t);
    void onByte(char b, std::int64_t t);
    bool strikes(FaultRule::Kind kind) const;
    void onAck(std::int64_t t);
    void dropLine(std::int64_t t);
    void powerCycle(std::int64_t t);
    // Sends `bytes` at `t`, in two parts when the command's fault splits answers.
    std::int64_t sendAnswer(std::int64_t t, const QByteArray& bytes);
    // What the command that `step` ended amounts to; nullopt while it goes on.
    // A refusal is journalled here.
    std::optional<Outcome> judge(const CommandParser::Step& step, std::int64_t t);
    void stall(std::int64_t t);
    void echo(char b, std::int64_t t);
    void finish(const FinishedDocument& doc, std::int64_t printedUs);
    void answer(Outcome::Request r, std::int64_t t);
    void refused(const QByteArray& command, const QByteArray& reason, std::int64_t t);
    void settleAck(bool came);
    void reset();
};

std::pair<std::int64_t, Event> RegisterModel::State::nextEvent() const {
    std::pair<std::int64_t, Event> best{0, Event::None};
    auto consider = [&best](std::optional<std::int64_t> t, Event e) {
        if (t && (best.second == Event::None || *t < best.first ||
                  (*t == best.first && e < best.second))) {
            best = {*t, e};
        }
    };
    if (!footers.empty()) {
        consider(footers.front().readyUs, Event::Footer);
    }
    if (stalled) {
        consider(stallEndsUs, Event::StallEnd);
    }
    if (dead) {
        consider(reviveUs, Event::Revive);
    }
    if (hung) {
        consider(hangEndsUs, Event::HangEnd);
    }
    if (xoffSent && !stalled) {
        consider(print.timeBelowLowWater(now), Event::Xon);
    }
    consider(in.nextArrival(), Event::Byte);
    if (!acks.empty()) {
        consider(acks.front().deadlineUs, Event::AckDeadline);
    }
    return best;
}

void RegisterModel::State::handle(Event e, std::int64_t t) {
    switch (e) {
    case Event::Footer: {
        PendingFooter f = footers.front();
        footers.pop_front();
        if (dead) {
            if (f.expectsAck) {
                journal.append(journalDocumentLine(f.document, false));
            }
            break;
        }
        std::int64_t end = out.send(t, f.bytes.left(f.split ? f.bytes.size() / 2 : f.bytes.size()));
        if (f.split) {
            end = out.send(t + kSplitGapUs, f.bytes.mid(f.bytes.size() / 2));
        }
        if (f.expectsAck) {
            acks.push_back(PendingAck{f.document, end, end + config.ackTimeoutMs * 1000LL});
        }
        break;
    }
    case Event::StallEnd:
        stalled = false;
        stallEndsUs.reset();
        break;
    case Event::Revive:
        dead = false;
        poweredOff = false;
        reviveUs.reset();
        break;
    case Event::HangEnd:
        hung = false;
        hangEndsUs.reset();
        break;
    case Event::Xon:
        if (!dead) {
            out.send(t, QByteArray(1, XON));
        }
        xoffSent = false;
        // The pause the register asked for is not the driver's silence: the
        // input time-out counts from here.
        lastByteUs = std::max(lastByteUs, t);
        break;
    case Event::Byte: {
        const char b = in.take().first;
        onByte(b, t);
        break;
    }
    case Event::AckDeadline:
        settleAck(false);
        break;
    case Event::None:
        break;
    }
}

void RegisterModel::State::settleAck(bool came) {
    journal.append(journalDocumentLine(acks.front().document, came));
    acks.pop_front();
}

void RegisterModel::State::refused(const QByteArray& command, const QByteArray& reason,
                                   std::int64_t t) {
    journal.append(journalRefusalLine(commands, command, reason, clock(t)));
}

void RegisterModel::State::echo(char b, std::int64_t t) {
    if (!serial()) {
        return;
    }
    std::int64_t ready = t;
    if (fault) {
        switch (fault->kind) {
        case FaultRule::Kind::NoEcho:
            return;
        case FaultRule::Kind::WrongEcho:
            if (firstByteOfCommand) {
                b = b == '?' ? '!' : '?';
            }
            break;
        case FaultRule::Kind::LateEcho:
            ready = t + fault->delayMs * 1000LL;
            break;
        case FaultRule::Kind::Garble:
            b = static_cast<char>(0xA0 + junk() % 0x60);
            break;
        default:
            break;
        }
    }
    out.send(ready, QByteArray(1, b));
}

bool RegisterModel::State::strikes(FaultRule::Kind kind) const {
    return fault && fault->kind == kind;
}

void RegisterModel::State::onAck(std::int64_t t) {
    if (!acks.empty() && t >= acks.front().windowOpensUs) {
        settleAck(true);
    }
}

void RegisterModel::State::dropLine(std::int64_t t) {
    dead = true;
    out.drop(t);
    if (serial() && fault->durationMs > 0) {
        reviveUs = t + fault->durationMs * 1000LL;
    }
    parser.reset();
    fault.reset();
}

void RegisterModel::State::powerCycle(std::int64_t t) {
    const int offMs = fault->durationMs > 0 ? fault->durationMs : kPowerOffMs;
    reset(); // whatever was on the line or waiting to be sent is gone
    if (const auto voided = fiscal.powerLoss(clock(t))) {
        journal.append(journalDocumentLine(*voided, std::nullopt));
    }
    dead = true;
    poweredOff = true;
    reviveUs = t + offMs * 1000LL;
    if (!serial()) {
        out.drop(t); // the TCP client is disconnected
    }
}

std::int64_t RegisterModel::State::sendAnswer(std::int64_t t, const QByteArray& bytes) {
    if (!strikes(FaultRule::Kind::Split)) {
        return out.send(t, bytes);
    }
    out.send(t, bytes.left(bytes.size() / 2));
    return out.send(t + kSplitGapUs, bytes.mid(bytes.size() / 2));
}

std::optional<Outcome> RegisterModel::State::judge(const CommandParser::Step& step,
                                                   std::int64_t t) {
    Outcome o;
    switch (step.kind) {
    case CommandParser::Step::More:
        return std::nullopt;
    case CommandParser::Step::Error:
        o.accepted = false;
        o.reason = "syntax: " + step.reason;
        break;
    case CommandParser::Step::Done:
        if (strikes(FaultRule::Kind::Refuse)) {
            o.accepted = false;
            o.reason = "refused by the fault " + fault->toString().toLatin1();
        } else if (fault && errorCode(fault->kind) != 0) {
            o.accepted = false;
            o.reason = errorReason(errorCode(fault->kind));
        } else {
            o = fiscal.apply(step.command, clock(t));
        }
        break;
    }
    if (!o.accepted) {
        refused(step.command.raw, o.reason, t);
    }
    return o;
}

void RegisterModel::State::stall(std::int64_t t) {
    if (!xoffSent) {
        out.send(t, QByteArray(1, XOFF));
        xoffSent = true;
    }
    stalled = true;
    stallEndsUs.reset();
    if (fault->durationMs > 0) {
        stallEndsUs = t + fault->durationMs * 1000LL;
    }
}

void RegisterModel::State::onByte(char b, std::int64_t t) {
    if (dead || hung) {
        return; // lost on a dead line, or by a register that stopped reading
    }
    if (b == ACK) {
        onAck(t); // a protocol byte: not echoed, not printed
        return;
    }
    while (!acks.empty() && acks.front().windowOpensUs <= t) {
        settleAck(false); // the driver went on without acknowledging
    }

    // A command left half-keyed for longer than the input time-out is
    // dropped, as a register's keyboard buffer is: the driver gave up on it.
    // Not while the register itself holds the line with XOFF.
    if (!parser.idle() && !xoffSent && t - lastByteUs > config.inputTimeoutMs * 1000LL) {
        refused(parser.pendingBytes(), "incomplete command dropped after the input time-out", t);
        parser.reset();
        fault.reset();
    }
    lastByteUs = t;

    const bool begins = parser.idle() && b != ' ';
    if (begins) {
        ++commands;
        fault = faults.decide(commands);
        firstByteOfCommand = true;
    }
    if (serial() && print.level(t) >= print.size()) {
        // No room: the byte is lost and the command with it.
        refused(parser.pendingBytes() + b, "print buffer full", t);
        parser.reset();
        fault.reset();
        return;
    }
    if (begins && strikes(FaultRule::Kind::Drop)) {
        dropLine(t);
        return;
    }
    if (begins && strikes(FaultRule::Kind::PowerCycle)) {
        powerCycle(t);
        return;
    }
    if (begins && strikes(FaultRule::Kind::Hang)) {
        hung = true;
        hangEndsUs.reset();
        if (fault->durationMs > 0) {
            hangEndsUs = t + fault->durationMs * 1000LL;
        }
        parser.reset();
        fault.reset();
        return;
    }

    const std::int64_t printedUs = print.push(t);
    const CommandParser::Step step = parser.feed(b);
    const std::optional<Outcome> outcome = judge(step, t);
    const bool answerLost = outcome && strikes(FaultRule::Kind::LostAnswer);
    if ((!outcome || outcome->accepted) && !answerLost) {
        echo(b, t); // a refused command's last byte gets none
    }
    if (outcome && !outcome->accepted && fault && errorCode(fault->kind) != 0) {
        sendAnswer(t, errorAnswer(errorCode(fault->kind))); // in place of the echo
    }
    firstByteOfCommand = false;
    if (serial() && !xoffSent && print.level(t) > print.highWater()) {
        out.send(t, QByteArray(1, XOFF));
        xoffSent = true;
    }
    if (!outcome) {
        return; // the command goes on
    }
    if (outcome->accepted) {
        if (outcome->finished) {
            finish(*outcome->finished, printedUs);
        }
        if (!answerLost) {
            answer(outcome->request, t);
        }
    }
    if (serial() && strikes(FaultRule::Kind::XoffStall)) {
        stall(t);
    }
    fault.reset();
}

void RegisterModel::State::finish(const FinishedDocument& doc, std::int64_t printedUs) {
    const std::int64_t doneUs = print.addWork(printedUs, config.closingPrintMs * 1000LL);
    const bool closes = !doc.voided && doc.document.kind != Document::Kind::NonFiscal;
    const bool receipt = closes && doc.document.kind == Document::Kind::Receipt;
    const int family = config.family;

    PendingFooter f;
    f.readyUs = doneUs;
    f.document = doc;
    f.split = strikes(FaultRule::Kind::Split);
    if (!serial() && closes) {
        f.bytes = footer(FooterLayout::Plain, doc.document.closedAt, doc.document.number);
    } else if (serial() && receipt && (family == 5 || family == 6)) {
        f.bytes = footer(family == 6 ? FooterLayout::WithRt : FooterLayout::Plain,
                         doc.document.closedAt, doc.document.number);
        f.expectsAck = true;
    }
    if (strikes(FaultRule::Kind::LostAnswer)) {
        f.bytes.clear(); // printed, but its answer never leaves
        f.expectsAck = false;
    }
    if (!f.expectsAck) {
        journal.append(journalDocumentLine(doc, std::nullopt));
    }
    if (!f.bytes.isEmpty()) {
        footers.push_back(f);
    }
}

void RegisterModel::State::answer(Outcome::Request r, std::int64_t t) {
    if (r == Outcome::Request::LastReceipt && config.family == 1) {
        const QDateTime at =
            fiscal.lastReceiptTime().isValid() ? fiscal.lastReceiptTime() : clock(t);
        sendAnswer(t, footer(FooterLayout::Plain, at, fiscal.lastReceiptNumber()));
    } else if (r == Outcome::Request::Identity) {
        const QByteArray a = identityAnswer(config.family, config.matricola,
                                            fiscal.lastReceiptNumber(), clock(t));
        if (!a.isEmpty()) {
            sendAnswer(t, a);
        }
    }
}

void RegisterModel::State::reset() {
    parser.reset();
    fault.reset();
    in.clear();
    out.clear();
    dead = false;
    reviveUs.reset();
    poweredOff = false;
    hung = false;
    hangEndsUs.reset();
    stalled = false;
    stallEndsUs.reset();
    xoffSent = false;
    for (const PendingFooter& f : footers) {
        if (f.expectsAck) {
            journal.append(journalDocumentLine(f.document, false));
        }
    }
    footers.clear();
    while (!acks.empty()) {
        settleAck(false);
    }
}

RegisterModel::RegisterModel(RegisterConfig config)
    : d(std::make_unique<State>(std::move(config))) {}

RegisterModel::~RegisterModel() = default;

const RegisterConfig& RegisterModel::config() const {
    return d->config;
}

void RegisterModel::receive(const QByteArray& bytes, std::int64_t atUs) {
    d->in.write(bytes, std::max(atUs, d->now));
}

void RegisterModel::advanceTo(std::int64_t nowUs) {
    for (;;) {
        const auto [t, e] = d->nextEvent();
        if (e == Event::None || t > nowUs) {
            break;
        }
        d->now = std::max(d->now, t);
        d->handle(e, d->now);
    }
    d->now = std::max(d->now, nowUs);
}

QList<Emission> RegisterModel::takeDue(std::int64_t nowUs) {
    advanceTo(nowUs);
    return d->out.takeDue(nowUs);
}

std::optional<std::int64_t> RegisterModel::nextWakeUs() const {
    std::optional<std::int64_t> wake = d->out.nextEmission();
    const auto [t, e] = d->nextEvent();
    if (e != Event::None && (!wake || t < *wake)) {
        wake = t;
    }
    return wake;
}

bool RegisterModel::acceptConnection(std::int64_t nowUs) {
    advanceTo(nowUs);
    if (d->faults.refusesEverything() || d->poweredOff) {
        return false;
    }
    d->reset();
    return true;
}

bool RegisterModel::refusesConnections() const {
    return d->faults.refusesEverything();
}

void RegisterModel::lineReset() {
    d->reset();
}

QList<QByteArray> RegisterModel::takeJournal() {
    QList<QByteArray> lines;
    lines.swap(d->journal);
    return lines;
}

bool RegisterModel::receiptOpen() const {
    return d->fiscal.receiptOpen();
}

int RegisterModel::lastReceiptNumber() const {
    return d->fiscal.lastReceiptNumber();
}

int RegisterModel::commandsReceived() const {
    return d->commands;
}

} // namespace velmar::sim
