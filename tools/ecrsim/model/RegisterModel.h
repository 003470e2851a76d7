#pragma once
// A fiscal cash register of one of the seven families, seen from its side of
// the line: it reads the command stream, keeps the fiscal state, prints into a
// buffer at a fixed speed, and answers (echo, XON/XOFF, footers, identity).
//
// The model is passive and keeps no clock of its own: the transport tells it
// when bytes arrive and asks it what to send and when. Times are microseconds
// on the transport's clock (0 = when the model was made). The same model runs
// behind ecrsim (real time, pseudo-terminal or TCP) and behind the engine's
// tests (virtual time, in-process).

#include <cstdint>
#include <memory>
#include <optional>
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace velmar::sim {

// One fault to inject: what, and when (at the n-th command, or with a
// probability per command).
struct FaultRule {
    enum class Kind {
        NoEcho,    // the command gets no echo at all (serial)
        WrongEcho, // one byte of the command's echo is changed (serial)
        LateEcho,  // the command's echo comes `delayMs` late (serial)
        XoffStall, // XOFF after the command, no XON for `durationMs` (serial)
        Drop,      // the line goes dead: TCP closes, serial stops answering for `durationMs`
        Refuse,    // the command is refused (not acknowledged); TCP: connections refused
        Garble,    // the command's echo is replaced by the same number of junk bytes
        LostAnswer, // carried out, but its acknowledgement is lost: no echo of its last
                    // byte (serial), no closing or request answer (both links)
        PaperOut,   // refused with an error answer instead of its acknowledgement
        CoverOpen,
        JournalFull,
        JournalNearlyFull,
        PowerCycle, // the register loses power at the command: an open document is
                    // voided, it is off for `durationMs` (3000 when not given)
        Split,      // the command's answer (footer, request or error answer) comes in
                    // two parts 100 ms apart: two TCP segments
        Hang,       // from the command on it reads and answers nothing for `durationMs`
                    // (0: until the line is reset); a TCP connection stays open
    };
    Kind kind = Kind::NoEcho;
    int atCommand = 0;      // 1-based command count; 0 = use `probability`
    double probability = 0; // per command, when atCommand is 0
    int delayMs = 1000;     // LateEcho
    int durationMs = 0;     // XoffStall, Drop, PowerCycle, Hang: how long it lasts; 0 = until lineReset()

    // "no-echo@5", "wrong-echo%0.1", "late-echo:800@3", "drop@12", "refuse" (always)...
    // The probability after % is a fraction (0.1 = one command in ten). The
    // ":ms" is the delay of late-echo and the duration of xoff-stall and drop.
    // nullopt and a reason for a text that is not a fault.
    static std::optional<FaultRule> parse(const QString& text, QString* error = nullptr);
    // "late-echo:800@3": the rule written the way parse() reads it.
    QString toString() const;
};

struct RegisterConfig {
    int family = 0;     // 0-6
    bool serial = true; // serial: echo, XON/XOFF; TCP: neither
    int baud = 9600;    // bytes take 10 bits each way on a serial line
    QByteArray matricola = "99MEX012345";
    int bufferSize = 256;          // print buffer, bytes
    int printBytesPerSecond = 400; // print speed
    int firstReceiptNumber = 1;
    QDateTime clockAtZero = QDateTime(QDate(2026, 12, 6), QTime(9, 15), Qt::LocalTime);
    QList<FaultRule> faults;
    std::uint64_t seed = 1;
    int closingPrintMs = 800;   // totals and fiscal trailer of a closing document
    int ackTimeoutMs = 5000;    // families 5 and 6: how long ACK is awaited after a footer
    int inputTimeoutMs = 2000;  // a half-received command is dropped after this silence
    int presetPriceCents = 100; // every department's preset price (sale without amount)
};

// What the register sends, and when.
struct Emission {
    std::int64_t atUs = 0;
    QByteArray bytes;      // may be empty for a pure event
    bool dropLine = false; // the line goes dead after these bytes
};

class RegisterModel {
public:
    explicit RegisterModel(RegisterConfig config);
    ~RegisterModel();
    RegisterModel(const RegisterModel&) = delete;
    RegisterModel& operator=(const RegisterModel&) = delete;

    const RegisterConfig& config() const;

    // Bytes from the driver, arriving at `atUs` (the model adds the wire time
    // of a serial line itself).
    void receive(const QByteArray& bytes, std::int64_t atUs);

    // Lets the model's own work (printing, footers, XON) run up to `nowUs`.
    void advanceTo(std::int64_t nowUs);

    // Everything to send that is due at or before `nowUs`, in order; the
    // caller writes the bytes out. Calls advanceTo(nowUs) first.
    QList<Emission> takeDue(std::int64_t nowUs);

    // When the model next has something to send or to do; nullopt when idle.
    std::optional<std::int64_t> nextWakeUs() const;

    // A TCP client connects at `nowUs`: false when the register refuses
    // connections (a refuse fault, or switched off by a power cycle).
    bool acceptConnection(std::int64_t nowUs);
    // The line was dropped (by a fault or by the driver): the model forgets any
    // half-received command.
    void lineReset();

    // One JSON object per finished document (receipt, void, non-fiscal
    // document, cash movement, refusal), in order; taken lines are removed.
    QList<QByteArray> takeJournal();

    // True when a fault refuses every TCP connection: a transport then does not
    // listen at all, so a client sees the connection refused.
    bool refusesConnections() const;

    // For tests of the model itself.
    bool receiptOpen() const;
    int lastReceiptNumber() const;
    int commandsReceived() const;

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace velmar::sim
