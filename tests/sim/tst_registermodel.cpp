// The register model on its own, in virtual time: the command reader, the
// fiscal rules and the journal, and every answer with its exact timing on the
// line (echo, XON/XOFF, footers, Y, 89F), over serial and TCP, with faults.

#include "Answers.h"
#include "CommandParser.h"
#include "RegisterModel.h"
#include "common/CaseTable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace velmar::sim;
using velmar::test::addCaseRows;
using velmar::test::caseFields;

namespace {

using Us = qint64;
using Times = QList<qint64>;
using namespace Qt::StringLiterals;

// At 9600 baud a byte takes 10 000 000 / 9600 = 1041.7 us, 1042 rounded; at
// 115200, 86.8 us, 87 rounded.
constexpr Us byte9600 = 1042;
constexpr Us byte115200 = 87;

RegisterConfig config(int family, bool serial = true, const QString& fault = {}) {
    RegisterConfig c;
    c.family = family;
    c.serial = serial;
    c.clockAtZero = QDateTime(QDate(2026, 12, 6), QTime(9, 15), Qt::LocalTime);
    if (!fault.isEmpty()) {
        c.faults = {*FaultRule::parse(fault)};
    }
    return c;
}

// A driver in virtual time: writes bytes at given times and records every
// emission the model makes, stepping from one wake-up to the next. Made with
// a stream, it writes it at 0 and runs until `until`.
struct Bench {
    RegisterModel model;
    QList<Emission> sent;

    explicit Bench(RegisterConfig c, const QByteArray& stream = {}, Us until = 0)
        : model(std::move(c)) {
        write(stream);
        runUntil(until);
    }
    void runUntil(Us until) {
        for (auto wake = model.nextWakeUs(); wake && *wake <= until; wake = model.nextWakeUs()) {
            sent += model.takeDue(*wake);
        }
        sent += model.takeDue(until);
    }
    void write(const QByteArray& bytes, Us at = 0) {
        runUntil(at);
        model.receive(bytes, at);
    }
    QByteArray bytes() const {
        QByteArray all;
        for (const Emission& e : sent) {
            all += e.bytes;
        }
        return all;
    }
    Times times() const {
        Times t;
        for (const Emission& e : sent) {
            t << e.atUs;
        }
        return t;
    }
    // The time of the first emission holding `byte`, or -1.
    Us timeOf(char byte) const {
        for (const Emission& e : sent) {
            if (e.bytes.contains(byte)) {
                return e.atUs;
            }
        }
        return -1;
    }
    QList<QJsonObject> journal() {
        QList<QJsonObject> objects;
        for (const QByteArray& line : model.takeJournal()) {
            objects.append(QJsonDocument::fromJson(line).object());
        }
        return objects;
    }
};

// Times as the case files write them: "2t+10000 3t" is two byte times at
// `baud` and 10000 us, then three byte times.
Times timesOf(const QByteArray& field, int baud = 9600) {
    Times out;
    for (const QByteArray& time : field.split(' ')) {
        Us at = 0;
        for (const QByteArray& term : time.split('+')) {
            at += term.endsWith('t') ? term.chopped(1).toLongLong() * (baud == 9600 ? byte9600 : byte115200)
                                     : term.toLongLong();
        }
        out << at;
    }
    return out;
}

QByteArray frame(const QByteArray& body) {
    return STX + body + ETX;
}

// A command as a short text: "1R t=MILK q=2 a=150", or "error".
QByteArray describe(const CommandParser::Step& s) {
    const Command& c = s.command;
    return s.kind == CommandParser::Step::Error
               ? "error"_ba
               : c.name() + (c.hasText ? " t=" + c.text : QByteArray()) +
                     (c.quantity.isEmpty() ? QByteArray() : " q=" + c.quantity) +
                     (c.amount.isEmpty() ? QByteArray() : " a=" + c.amount);
}

} // namespace

class TestRegisterModel : public QObject {
    Q_OBJECT

private slots:
    // ---- the command reader ----

    void parser_data() { addCaseRows(u"sim/parser.txt"_s, {"stream", "commands"}); }
    void parser() {
        const auto [stream, commands] = caseFields("stream", "commands");
        QByteArrayList got;
        for (const auto& step : CommandParser::parseAll(stream)) {
            got << describe(step);
        }
        QCOMPARE(got.join(" / "), commands);
    }

    // ---- whole documents and their journal lines ----

    void documents_data() { addCaseRows(u"sim/documents.txt"_s, {"family", "stream", "journal"}); }
    void documents() {
        const auto [family, stream, journal] = caseFields("family", "stream", "journal");
        Bench b(config(family.toInt(), false), stream, 10000000);
        QJsonArray got;
        for (QJsonObject o : b.journal()) {
            o.remove(u"datetime"_s);
            got << o;
        }
        QCOMPARE(
            QJsonDocument(got).toJson(QJsonDocument::Compact),
            QJsonDocument::fromJson(journal).toJson(QJsonDocument::Compact));
    }

    // Each row is named by the reason the journal gives: the refusals that
    // follow from the state of a document (range checks are the fake's own
    // business and not tested here). A refusal is silent:
    // over serial the refused command's last byte gets no echo, over TCP
    // nothing is sent anyway.
    void refusals_data() { addCaseRows(u"sim/refusals.txt"_s, {"family", "before", "command"}); }
    void refusals() {
        const auto [family, before, command] = caseFields("family", "before", "command");
        const QByteArray stream = before + command;
        for (bool serial : {true, false}) {
            Bench b(config(family.toInt(), serial), stream, 10000000);
            QCOMPARE(b.bytes(), serial ? stream.chopped(1) : QByteArray());
            const auto j = b.journal();
            QCOMPARE(j.size(), 1);
            QCOMPARE(j[0][u"kind"].toString(), u"refused"_s);
            QCOMPARE(j[0][u"command"].toString().toLatin1(), command);
            QCOMPARE(j[0][u"reason"].toString(), QString::fromLatin1(QTest::currentDataTag()));
            QCOMPARE(j[0][u"sequence"].toInt(), b.model.commandsReceived());
        }
    }

    // A half-received command is dropped after 2 s of silence (journalled as
    // refused) or when the line is reset, so the next job's "KK" and the
    // cancel "k" are read as commands, not as the rest of a text. The journal
    // has the register clock's time (09:15:00 at 0) of the refusal and the void.
    void halfCommandDropped_data() {
        addCaseRows(u"sim/halfcommand.txt"_s, {"pause", "lineReset", "journal"});
    }
    void halfCommandDropped() {
        const auto [pause, lineReset, journal] = caseFields("pause", "lineReset", "journal");
        const Us pauseUs = pause.toLongLong();
        Bench b(config(0, false), "100H1R\"LAT");
        if (lineReset == "1") {
            b.model.lineReset();
        }
        b.write("KKk", pauseUs);
        b.runUntil(pauseUs + 1000000);
        QCOMPARE(b.model.receiptOpen(), journal.isEmpty()); // "k" voided it when it was a command
        QStringList got;
        for (const QJsonObject& o : b.journal()) {
            const QString what = o[u"kind"].toString() + ' ' + o[u"command"].toString();
            got << what.trimmed() + ' ' + o[u"datetime"].toString().mid(11);
        }
        QCOMPARE(got.join(u", "_s).toLatin1(), journal);
    }

    // ---- the serial line: echo timing ----

    void echoTiming_data() {
        addCaseRows(u"sim/echo.txt"_s, {"baud", "first", "second", "secondAt", "echo", "echoTimes"});
    }
    void echoTiming() {
        const auto [baud, first, second, secondAt, echo, echoTimes] =
            caseFields("baud", "first", "second", "secondAt", "echo", "echoTimes");
        const Times times = timesOf(echoTimes, baud.toInt());
        RegisterConfig c = config(0);
        c.baud = baud.toInt();
        Bench b(c, first);
        b.write(second, secondAt.toLongLong());
        b.runUntil(10000000);
        QCOMPARE(b.bytes(), echo);
        QCOMPARE(b.times(), times);
        QVERIFY(!b.model.nextWakeUs()); // idle
        // Nothing is handed out before its time, and the model asks to wake for it.
        RegisterModel m(c);
        m.receive(first, 0);
        QVERIFY(m.takeDue(times[0] - 1).isEmpty());
        QCOMPARE(m.nextWakeUs().value_or(-1), times[0]);
    }

    // ---- flow control ----

    void flowControl_data() {
        addCaseRows(u"sim/flow.txt"_s, {"baud", "printSpeed", "stream", "xoff", "xon"});
    }
    void flowControl() {
        const auto [baud, printSpeed, stream, xoff, xon] =
            caseFields("baud", "printSpeed", "stream", "xoff", "xon");
        const Us xoffAt = timesOf(xoff, baud.toInt())[0], xonAt = timesOf(xon, baud.toInt())[0];
        RegisterConfig c = config(0);
        c.baud = baud.toInt();
        c.bufferSize = 40;
        c.printBytesPerSecond = printSpeed.toInt();
        Bench b(c, stream, 20000000);
        QCOMPARE(b.timeOf(XOFF), xoffAt);
        QCOMPARE(b.timeOf(XON), xonAt);
        const QByteArray out = b.bytes();
        QCOMPARE(out.count(XOFF), xoffAt > 0 ? 1 : 0);
        QCOMPARE(out.count(XON), xonAt > 0 ? 1 : 0);
        QCOMPARE(out.size() - out.count(XOFF) - out.count(XON), qMin(stream.size(), 40));
        const auto j = b.journal();
        QCOMPARE(j.size(), stream.size() > 40 ? 1 : 0);
        QCOMPARE(j.value(0)[u"reason"].toString(),
                 stream.size() > 40 ? u"print buffer full"_s : QString());
    }

    // ---- answers: footers, Y and 89F ----

    void answers_data() {
        addCaseRows(u"sim/answers.txt"_s, {"family", "line", "stream", "answer", "firstByte"});
    }
    void answers() {
        const auto [family, line, stream, answer, firstByte] =
            caseFields("family", "line", "stream", "answer", "firstByte");
        const bool serial = line == "serial";
        RegisterConfig c = config(family.toInt(), serial);
        c.firstReceiptNumber = 42;
        Bench b(c, stream, 10000000);
        QCOMPARE(b.bytes(), (serial ? stream : QByteArray()) + answer);
        QCOMPARE(b.timeOf(STX), timesOf(firstByte)[0]);
        if (serial && !answer.isEmpty()) { // one byte per byte time
            QCOMPARE(b.timeOf(ETX) - b.timeOf(STX), (answer.size() - 1) * byte9600);
        }
        // Only a serial receipt of families 5 and 6 awaits an ACK; none came.
        for (const QJsonObject& o : b.journal()) {
            QCOMPARE(o.contains(u"ack"_s), serial && family.toInt() >= 5 && o[u"kind"] == u"receipt"_s);
            QCOMPARE(o[u"ack"].toBool(false), false);
        }
    }

    void checksumPadsToTwoDigits() { QCOMPARE(checksum(QByteArray("\xff\x02", 2)), "01"_ba); }

    // ---- ACK after the footer ----

    void ack_data() {
        addCaseRows(u"sim/ack.txt"_s, {"family", "after", "delayUs", "settled", "ack"});
    }
    void ack() {
        const auto [family, after, delayUs, settled, ack] =
            caseFields("family", "after", "delayUs", "settled", "ack");
        const Us settledUs = timesOf(settled)[0];
        Bench b(config(family.toInt()), "\"A\"100H1R1T", 2000000);
        const Us etx = b.timeOf(ETX);
        b.write(after, etx + delayUs.toLongLong());
        b.runUntil(etx + settledUs - 1);
        QVERIFY(b.journal().isEmpty());
        b.runUntil(etx + settledUs);
        const auto j = b.journal();
        QCOMPARE(j.size(), 1);
        QCOMPARE(j[0][u"ack"].toBool(ack != "1"), ack == "1");
    }

    // ---- faults ----

    void faultAtCommand_data() { addCaseRows(u"sim/faults.txt"_s, {"out", "times", "receipt"}); }
    void faultAtCommand() {
        const auto [out, times, receipt] = caseFields("out", "times", "receipt");
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        const QString fault = tag == u"none"_s ? QString() : tag;
        Bench b(config(0, true, fault), "K 1R1T", 60000000);
        QByteArray got = b.bytes();
        for (char& c : got) {
            c = static_cast<unsigned char>(c) >= 0xA0 ? '#' : c;
        }
        QCOMPARE(got, out);
        QCOMPARE(b.times(), timesOf(times));
        const bool dropped = fault.startsWith(u"drop"_s);
        QCOMPARE(!b.sent.isEmpty() && b.sent.last().dropLine, dropped);
        const bool deaf = dropped || fault.startsWith(u"power"_s) || fault.startsWith(u"hang"_s);
        QCOMPARE(b.model.commandsReceived(), deaf ? 2 : 3);
        QCOMPARE(b.model.lastReceiptNumber(), receipt.toInt());
    }

    // A command half received while the register holds XOFF is not dropped
    // by the input time-out: the pause is the register's, not the driver's.
    void noInputTimeOutWhileHoldingXoff() {
        RegisterConfig c = config(0);
        c.bufferSize = 8;
        c.printBytesPerSecond = 1;
        Bench b(c, "1234567", 0);    // XOFF after the 7th byte (above 6 of 8)
        b.write("H1R", 5000000);      // 5 s later, XOFF still held
        b.runUntil(20000000);
        QVERIFY(b.bytes().contains(XOFF));
        QVERIFY(b.journal().isEmpty()); // nothing refused
        b.write("1T", 20000000);
        b.runUntil(40000000);
        QCOMPARE(b.model.lastReceiptNumber(), 1);
    }

    void droppedSerialLineComesBack() {
        Bench b(config(0, true, u"drop:1000@1"_s), "K");
        b.write("K", 500000);  // dead: lost
        b.write("K", 1100000); // alive again
        b.runUntil(2000000);
        QCOMPARE(b.bytes(), "K"_ba);
        QCOMPARE(b.timeOf('K'), 1100000 + 2 * byte9600);
    }

    void droppedTcpLineNeedsANewConnection() {
        Bench b(config(5, false, u"drop@2"_s), "100H1R1T", 10000000);
        QCOMPARE(b.sent.size(), 1);
        QVERIFY(b.sent[0].dropLine);
        QVERIFY(b.model.receiptOpen());      // the payment was lost with the line
        QVERIFY(b.model.acceptConnection(0)); // a new client gets a fresh line
        b.write("1T", 11000000);
        b.runUntil(20000000);
        QCOMPARE(b.bytes(), frame("06/12/2026 09-15 0001EE"));
    }


};

QTEST_GUILESS_MAIN(TestRegisterModel)
#include "tst_registermodel.moc"
