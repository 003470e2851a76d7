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
enum class Event { Footer, StallEnd, Revive, Xon, Byte, AckDeadline, None };

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
        const std::int64_t end = out.send(t, f.bytes);
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
        reviveUs.reset();
        break;
    case Event::Xon:
        if (!dead) {
            out.send(t, QByteArray(1, XON));
        }
        xoffSent = false;
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
    if (dead) {
        return; // lost on a dead line
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
    if (!parser.idle() && t - lastByteUs > config.inputTimeoutMs * 1000LL) {
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

    const std::int64_t printedUs = print.push(t);
    const CommandParser::Step step = parser.feed(b);
    const std::optional<Outcome> outcome = judge(step, t);
    if (!outcome || outcome->accepted) {
        echo(b, t); // a refused command's last byte gets none
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
        answer(outcome->request, t);
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
    if (!serial() && closes) {
        f.bytes = footer(FooterLayout::Plain, doc.document.closedAt, doc.document.number);
    } else if (serial() && receipt && (family == 5 || family == 6)) {
        f.bytes = footer(family == 6 ? FooterLayout::WithRt : FooterLayout::Plain,
                         doc.document.closedAt, doc.document.number);
        f.expectsAck = true;
    }
    if (!f.expectsAck) {
        journal.append(journalDocumentLine(doc, std::nullopt));
    }
    if (!f.bytes.isEmpty()) {
        footers.push_back(f);
    }
}

void RegisterModel::State::answer(Outcome::Request r, std::int64_t t) {
    if (!serial() || r == Outcome::Request::None) {
        return; // over TCP only a document's closing is answered
    }
    if (r == Outcome::Request::LastReceipt && config.family == 1) {
        const QDateTime at =
            fiscal.lastReceiptTime().isValid() ? fiscal.lastReceiptTime() : clock(t);
        out.send(t, footer(FooterLayout::Plain, at, fiscal.lastReceiptNumber()));
    } else if (r == Outcome::Request::Identity) {
        out.send(t, identityAnswer(config.family, config.matricola, fiscal.lastReceiptNumber(),
                                   clock(t)));
    }
}

void RegisterModel::State::reset() {
    parser.reset();
    fault.reset();
    in.clear();
    out.clear();
    dead = false;
    reviveUs.reset();
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

bool RegisterModel::acceptConnection() {
    if (d->faults.refusesEverything()) {
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
