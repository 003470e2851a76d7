#include "Options.h"

#include <QCommandLineParser>
#include <QSet>

namespace velmar::ecrsim {

namespace {

const QSet<int> baudRates = {9600, 19200, 38400, 57600, 115200};

bool readInt(const QString& text, int low, int high, int* out) {
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < low || v > high) {
        return false;
    }
    *out = v;
    return true;
}

} // namespace

std::optional<Options> parseOptions(const QStringList& args, QString* error, bool* help) {
    Options o;
    o.config.clockAtZero = QDateTime::currentDateTime();
    *help = false;

    auto fail = [error](const QString& why) -> std::optional<Options> {
        *error = why;
        return std::nullopt;
    };

    // Every option but --help, --quiet and --fault takes one value; the last
    // one given counts. --help prints helpText(), not Qt's own text.
    QCommandLineParser parser;
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption quiet(QStringLiteral("quiet"));
    parser.addOption(helpOption);
    parser.addOption(quiet);
    const auto valued = [&parser](const char* name) {
        const QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("v"));
        parser.addOption(option);
        return option;
    };
    const QCommandLineOption family = valued("family"), pty = valued("pty"),
                             serial = valued("serial"), tcp = valued("tcp"), baud = valued("baud"),
                             journal = valued("journal"), matricola = valued("matricola"),
                             fault = valued("fault"), seed = valued("seed"),
                             buffer = valued("buffer"), printSpeed = valued("print-speed"),
                             firstReceipt = valued("first-receipt"),
                             closingPrint = valued("closing-print"), clock = valued("clock");
    if (!parser.parse(QStringList{QStringLiteral("ecrsim")} + args)) {
        if (parser.isSet(helpOption)) {
            *help = true;
            return std::nullopt;
        }
        return fail(parser.errorText());
    }
    if (parser.isSet(helpOption)) {
        *help = true;
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return fail(
            QStringLiteral("unknown argument %1").arg(parser.positionalArguments().first()));
    }
    o.quiet = parser.isSet(quiet);

    if (!parser.isSet(family)) {
        return fail(QStringLiteral("--family is required"));
    }
    QString value = parser.value(family);
    if (!readInt(value, 0, 6, &o.config.family)) {
        return fail(QStringLiteral("--family takes 0 to 6, not \"%1\"").arg(value));
    }

    const QStringList ptys = parser.values(pty), serials = parser.values(serial),
                      tcps = parser.values(tcp);
    if (ptys.size() + serials.size() + tcps.size() != 1) {
        return fail(QStringLiteral("give exactly one of --pty, --serial and --tcp"));
    }
    if (!tcps.isEmpty()) {
        o.target = tcps.first();
        int port = 0;
        if (!readInt(o.target, 0, 65535, &port)) {
            return fail(QStringLiteral("--tcp takes a port 0 to 65535, not \"%1\"").arg(o.target));
        }
        o.mode = Options::Mode::Tcp;
        o.port = static_cast<quint16>(port);
    } else {
        o.mode = ptys.isEmpty() ? Options::Mode::Serial : Options::Mode::Pty;
        o.target = ptys.isEmpty() ? serials.first() : ptys.first();
    }

    if (parser.isSet(baud)) {
        value = parser.value(baud);
        if (!readInt(value, 1, 1000000, &o.config.baud) || !baudRates.contains(o.config.baud)) {
            return fail(
                QStringLiteral("--baud takes 9600, 19200, 38400, 57600 or 115200, not \"%1\"")
                    .arg(value));
        }
    }
    o.journalPath = parser.value(journal);
    if (parser.isSet(matricola)) {
        value = parser.value(matricola);
        const QByteArray m = value.toLatin1();
        if (m.size() != 11) {
            return fail(QStringLiteral("--matricola takes 11 characters, not \"%1\"").arg(value));
        }
        o.config.matricola = m;
    }
    for (const QString& text : parser.values(fault)) {
        QString why;
        const auto rule = sim::FaultRule::parse(text, &why);
        if (!rule) {
            return fail(QStringLiteral("--fault %1").arg(why));
        }
        o.config.faults.append(*rule);
    }
    if (parser.isSet(seed)) {
        bool ok = false;
        value = parser.value(seed);
        o.config.seed = value.toULongLong(&ok);
        if (!ok) {
            return fail(QStringLiteral("--seed takes a whole number, not \"%1\"").arg(value));
        }
    }
    // The whole-number options: option, range, where it goes, what the error says.
    struct Ranged {
        const QCommandLineOption& option;
        int low, high;
        int* out;
        const char* takes;
    };
    for (const Ranged& r :
         {Ranged{buffer, 16, 65536, &o.config.bufferSize, "--buffer takes 16 to 65536 bytes"},
          Ranged{printSpeed, 1, 1000000, &o.config.printBytesPerSecond,
                 "--print-speed takes bytes a second from 1"},
          Ranged{firstReceipt, 1, 9999, &o.config.firstReceiptNumber,
                 "--first-receipt takes 1 to 9999"},
          Ranged{closingPrint, 0, 60000, &o.config.closingPrintMs,
                 "--closing-print takes 0 to 60000 ms"}}) {
        if (parser.isSet(r.option)) {
            value = parser.value(r.option);
            if (!readInt(value, r.low, r.high, r.out)) {
                return fail(QStringLiteral("%1, not \"%2\"").arg(QLatin1String(r.takes), value));
            }
        }
    }
    if (parser.isSet(clock)) {
        value = parser.value(clock);
        const QDateTime t = QDateTime::fromString(value, Qt::ISODate);
        if (!t.isValid()) {
            return fail(
                QStringLiteral("--clock takes a date and time like 2026-12-06T09:15, not \"%1\"")
                    .arg(value));
        }
        o.config.clockAtZero = t;
    }
    o.config.serial = o.mode != Options::Mode::Tcp;
    return o;
}

QString helpText() {
    return QStringLiteral(
        R"(Usage: ecrsim --family N (--pty LINK | --serial DEVICE | --tcp PORT) [options]

A fiscal cash register for trying and testing Velmar without one. It reads
the register command stream, keeps the fiscal state, prints into a buffer at
a fixed speed and answers like a register of family N: echo and XON/XOFF on a
serial line, closing answers (footers), Y and 89F, and a journal of every
document it printed.

Where it listens (exactly one):
  --pty LINK          make a pseudo-terminal and a symbolic link LINK to it;
                      the driver opens LINK as its serial port. The link is
                      removed when ecrsim ends.
  --serial DEVICE     use a real serial device (8N1, no flow control).
  --tcp PORT          listen on 127.0.0.1:PORT, one client at a time
                      (0: any free port, shown in the ready line).

The register:
  --family N          0 Standard, 1 Custom Eng., 2 Ditron, 3 3I,
                      4 SystemConnection, 5 Emotiq, 6 Asem SF85. Required.
  --baud N            serial line speed: 9600 (default), 19200, 38400, 57600
                      or 115200. Every byte takes 10 bits each way.
  --matricola TEXT    the registration number, 11 characters
                      (default 99MEX012345); families 3 and 6 tell it on 89F.
  --buffer BYTES      print buffer size (default 256): XOFF when more than
                      three quarters are used, XON below one quarter.
  --print-speed BPS   bytes printed a second (default 400).
  --closing-print MS  time to print a closing document's totals and trailer
                      (default 800); its footer comes after it.
  --first-receipt N   number of the first receipt (default 1).
  --clock DATETIME    the register's clock at start, e.g. 2026-12-06T09:15
                      (default: the computer's clock).

Faults (repeatable; at most one strikes a command):
  --fault RULE        RULE is kind[:ms][@N|%P]
                        @N   at the N-th command (1 is the first)
                        %P   each command with probability P (0 < P <= 1)
                        neither: every command
  --seed N            seed of the %P draws (default 1): one draw per command,
                      so the same seed and commands strike the same commands.
  kinds:
    no-echo           the command gets no echo at all (serial)
    wrong-echo        the first byte of its echo is changed (serial)
    late-echo[:ms]    its echo comes ms late (default 1000) (serial)
    xoff-stall[:ms]   XOFF after the command and no XON for ms (default:
                      until the line is reset) (serial)
    drop[:ms]         the line goes dead at the command: TCP closes the
                      client; serial stops answering for ms (default: for good)
    refuse            the command is refused: its terminator gets no echo and
                      it is not carried out; without @N or %P over TCP, every
                      connection is refused
    garble            its echo is replaced by as many junk bytes (serial)
    lost-answer       carried out, but its acknowledgement is lost: no echo of
                      its last byte, no closing answer or request answer
    paper-out, cover-open, journal-full, journal-near-full
                      refused with the error answer STX ERR01..ERR04 ETX
    power-cycle[:ms]  the register loses power: an open receipt is voided, it
                      answers nothing for ms (default 3000), TCP refused
    split             its answer comes in two parts 100 ms apart (TCP: two
                      segments)
    hang[:ms]         from the command on it reads and answers nothing for ms
                      (default: until the line is reset); TCP stays open
  examples:
    --fault no-echo@5            no echo for the 5th command
    --fault late-echo:800@3      the 3rd command's echo comes 800 ms late
    --fault wrong-echo%0.1 --seed 7   about one command in ten, repeatably
    --fault drop@12              the line dies at the 12th command
    --fault refuse               refuse everything (TCP: no connections)

Output:
  --journal FILE      append one JSON line per finished document or refused
                      command to FILE, flushed as it is written.
  --quiet             do not copy the journal lines to standard output.

  Journal objects have "kind": receipt, void, nonfiscal, cash-in, cash-out or
  refused. Documents carry "number", "datetime" (ISO), and as they apply
  "items" (dept, qty as text, amount in cents, text, return), "modifiers",
  "payments" (form, amount), "total", "change", "lines", "reference", and
  "ack" (families 5 and 6 over serial: whether ACK followed the footer).
  Refusals carry "sequence", "command" and "reason". Example:
  {"change":200,"datetime":"2026-12-06T09:15:03","items":[{"amount":300,"dept":1,"qty":"2","return":false,"text":"MILK"}],"kind":"receipt","modifiers":[],"number":1,"payments":[{"amount":500,"form":1}],"total":300}

When it is ready, ecrsim writes one line to standard error:
  ecrsim: family N listening on WHERE
SIGTERM or SIGINT end it cleanly. Exit status: 0 after a signal, 1 when the
line cannot be opened, 2 for a wrong command line.

Example:
  ecrsim --family 5 --pty /tmp/ecr --journal /tmp/ecr.jsonl --fault no-echo@7
)");
}

} // namespace velmar::ecrsim
