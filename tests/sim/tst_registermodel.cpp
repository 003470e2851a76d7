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

namespace {

using Us = qint64;
using Times = QList<qint64>;
using namespace Qt::StringLiterals;

// At 9600 baud a byte takes 10 000 000 / 9600 = 1041.7 us, 1042 rounded; at
// 115200, 86.8 us, 87 rounded. At 400 bytes a second a byte prints in 2500 us.
constexpr Us byte9600 = 1042;
constexpr Us byte115200 = 87;
constexpr Us print400 = 2500;
constexpr Us closing = 800000; // the default closing print, 800 ms

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

    void parser_data() {
        addCaseRows(u"sim/parser.txt"_s, {"stream", "commands"});
        const QByteArray x128(CommandParser::maxTextLength, 'x');
        QTest::newRow("text of 128 bytes") << '"' + x128 + "\"@" << "@ t=" + x128;
        QTest::newRow("text of 129 bytes") << '"' + x128 + 'x' << "error"_ba;
    }
    void parser() {
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, commands);
        QByteArrayList got;
        for (const auto& step : CommandParser::parseAll(stream)) {
            got << describe(step);
        }
        QCOMPARE(got.join(" / "), commands);
    }

    // ---- whole documents and their journal lines ----

    void documents_data() {
        addCaseRows(u"sim/documents.txt"_s, {"family", "stream", "journal"});
    }
    void documents() {
        QFETCH(QByteArray, family);
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, journal);
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
    void refusals_data() {
        addCaseRows(u"sim/refusals.txt"_s, {"family", "before", "command"});
    }
    void refusals() {
        QFETCH(QByteArray, family);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, command);
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
        QTest::addColumn<Us>("pauseUs");
        QTest::addColumn<bool>("lineReset");
        QTest::addColumn<QByteArray>("journal"); // kinds and times
        QTest::newRow("2.5 s of silence")
            << Us(2500000) << false << "refused \"LAT 09:15:02, void 09:15:02"_ba;
        QTest::newRow("1.5 s of silence") << Us(1500000) << false << QByteArray();
        QTest::newRow("line reset") << Us(1000) << true << "void 09:15:00"_ba;
    }
    void halfCommandDropped() {
        QFETCH(Us, pauseUs);
        QFETCH(bool, lineReset);
        QFETCH(QByteArray, journal);
        Bench b(config(0, false), "100H1R\"LAT");
        if (lineReset) {
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
        QTest::addColumn<int>("baud");
        QTest::addColumn<QByteArray>("first"); // written at 0
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<qint64>("secondAt");
        QTest::addColumn<QByteArray>("echo");
        QTest::addColumn<Times>("echoTimes");
        auto row = [](const char* name, int baud, const QByteArray& first, const QByteArray& second,
                      Us secondAt, const QByteArray& echo, const Times& times) {
            QTest::newRow(name) << baud << first << second << secondAt << echo << times;
        };
        // Each byte arrives one byte time after it was written (or after the
        // byte before it), and its echo one byte time after that.
        const Us t = byte9600;
        row("KK at 115200", 115200, "KK", "", 0, "KK", {2 * byte115200, 3 * byte115200});
        row("one byte at a time, apart", 9600, "1", "F", 10000, "1F", {2 * t, 10000 + 2 * t});
        row("a write while the line is busy queues", 9600, "KK", "K", 500, "KKK",
            {2 * t, 3 * t, 4 * t});
        row("ACK is not echoed", 9600, "\x06K", "", 0, "K", {3 * t});
    }
    void echoTiming() {
        QFETCH(int, baud);
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(qint64, secondAt);
        QFETCH(QByteArray, echo);
        QFETCH(Times, echoTimes);
        RegisterConfig c = config(0);
        c.baud = baud;
        Bench b(c, first);
        b.write(second, secondAt);
        b.runUntil(10000000);
        QCOMPARE(b.bytes(), echo);
        QCOMPARE(b.times(), echoTimes);
        QVERIFY(!b.model.nextWakeUs()); // idle
        // Nothing is handed out before its time, and the model asks to wake for it.
        RegisterModel m(c);
        m.receive(first, 0);
        QVERIFY(m.takeDue(echoTimes[0] - 1).isEmpty());
        QCOMPARE(m.nextWakeUs().value_or(-1), echoTimes[0]);
    }

    // ---- flow control ----

    void flowControl_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("printSpeed");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<qint64>("xoffAt"); // -1: none
        QTest::addColumn<qint64>("xonAt");
        // Buffer 40: XOFF above 30 bytes, XON below 10. The printer takes its
        // first byte when it arrives; byte j is printed 1 / speed later than
        // byte j - 1. Nothing is printed while the bytes arrive.
        // XOFF follows the echo of the 31st byte: 31 + 1 + 1 byte times.
        // XON comes when 9 are left, one byte time on.
        const QByteArray line31 = '"' + QByteArray(28, 'X') + "\"@", line30 = '"' + line31.mid(2);
        QTest::newRow("9600, 10 B/s")
            << 9600 << 10 << line31 << 33 * byte9600 << byte9600 + 22 * 100000 + byte9600;
        QTest::newRow("115200, 20 B/s")
            << 115200 << 20 << line31 << 33 * byte115200 << byte115200 + 22 * 50000 + byte115200;
        QTest::newRow("30 bytes stay below the mark") << 9600 << 10 << line30 << Us(-1) << Us(-1);
        // The driver ignores XOFF: the 41st byte finds the 40 before it still
        // in the buffer and is lost, with its command.
        QTest::newRow("the 41st byte is lost")
            << 9600 << 10 << '"' + QByteArray(40, 'X') << 33 * byte9600
            << byte9600 + 31 * 100000 + byte9600;
    }
    void flowControl() {
        QFETCH(int, baud);
        QFETCH(int, printSpeed);
        QFETCH(QByteArray, stream);
        QFETCH(qint64, xoffAt);
        QFETCH(qint64, xonAt);
        RegisterConfig c = config(0);
        c.baud = baud;
        c.bufferSize = 40;
        c.printBytesPerSecond = printSpeed;
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

    // Every row's register counts receipts from 42. A footer comes when the
    // receipt's printing is done; Y and 89F are answered right after their echo.
    void answers_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<bool>("serial");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArray>("answer"); // after the echo; empty: none
        QTest::addColumn<qint64>("firstByteAt");
        auto row = [](const char* name, int family, bool serial, const QByteArray& stream,
                      const QByteArray& answer,
                      Us at) { QTest::newRow(name) << family << serial << stream << answer << at; };
        // "A"100H1R1T: 11 bytes. Serial at 9600: byte j arrives at j x 1042
        // and is printed 2500 us after the one before (the first 2500 us after
        // it arrives), so the 11th is printed at 1042 + 11 x 2500; then 800 ms
        // of closing print, then one byte time on the wire.
        // TCP: no wire time, the 11th byte is printed at 11 x 2500.
        const QByteArray receipt = "\"A\"100H1R1T";
        const QByteArray plain = frame("06/12/2026 09-15 0042F3");
        const Us t = byte9600, serialAt = t + 11 * print400 + closing + t;
        row("family 5 serial", 5, true, receipt, plain, serialAt);
        row("family 6 serial", 6, true, receipt, frame("06/12/2026 09-15 RT 0042B9"), serialAt);
        for (int f : {0, 1, 2, 3, 4}) {
            QTest::addRow("family %d serial: none", f)
                << f << true << receipt << QByteArray() << Us(-1);
        }
        // Over TCP the closing is answered when its printing is done; Y and
        // 89F at once, where the family knows them; ACK is not answered.
        const QByteArray told[7] = {{}, plain, {}, frame("ID: 99MEX012345 N0042 06/12/2026 09:15"),
                                    {}, {}, frame("ID:99MEX012345 N0042")};
        for (int f = 0; f <= 6; ++f) {
            QTest::addRow("family %d TCP", f)
                << f << false << receipt + "Y89F\x06" << told[f] + plain
                << (told[f].isEmpty() ? 11 * print400 + closing : Us(0));
        }
        // A cash movement, with its own series: answered over TCP only.
        row("cash movement, TCP", 0, false, "10M500H1T", frame("06/12/2026 09-15 0001EE"),
            9 * print400 + closing);
        row("cash movement, family 5 serial: none", 5, true, "10M500H1T", "", -1);
        row("Y, family 1", 1, true, receipt + "Y", plain, 14 * t);
        row("Y, family 1, no receipt yet", 1, true, "Y", frame("06/12/2026 09-15 0041F2"), 3 * t);
        row("Y, family 5: echo only", 5, true, "Y", "", -1);
        // The receipt query reads the number at 22-25 counted from the echo's 8.
        row("89F, family 3", 3, true, receipt + "89F",
            frame("ID: 99MEX012345 N0042 06/12/2026 09:15"), 16 * t);
        // The dump takes the 8 characters after STX and "ID:".
        row("89F, family 6", 6, true, "89F", frame("ID:99MEX012345 N0041"), 5 * t);
        row("89F, family 0: echo only", 0, true, "89F", "", -1);
    }
    void answers() {
        QFETCH(int, family);
        QFETCH(bool, serial);
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, answer);
        QFETCH(qint64, firstByteAt);
        RegisterConfig c = config(family, serial);
        c.firstReceiptNumber = 42;
        Bench b(c, stream, 10000000);
        QCOMPARE(b.bytes(), (serial ? stream : QByteArray()) + answer);
        QCOMPARE(b.timeOf(STX), firstByteAt);
        if (serial && !answer.isEmpty()) { // one byte per byte time
            QCOMPARE(b.timeOf(ETX) - b.timeOf(STX), (answer.size() - 1) * byte9600);
        }
        // Only a serial receipt of families 5 and 6 awaits an ACK; none came.
        for (const QJsonObject& o : b.journal()) {
            QCOMPARE(o.contains(u"ack"_s), serial && family >= 5 && o[u"kind"] == u"receipt"_s);
            QCOMPARE(o[u"ack"].toBool(false), false);
        }
    }

    void checksumPadsToTwoDigits() { QCOMPARE(checksum(QByteArray("\xff\x02", 2)), "01"_ba); }

    // ---- ACK after the footer ----

    // The model waits 5 s for ACK after the footer's last byte: ACK settles
    // it as acknowledged, any other byte or the time running out as not. The
    // receipt's journal line is held until then.
    void ack_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<QByteArray>("after"); // what the driver sends after the footer
        QTest::addColumn<qint64>("delayUs");   // ... this long after its last byte
        QTest::addColumn<qint64>("settledUs"); // after the footer's last byte
        QTest::addColumn<bool>("ack");
        QTest::newRow("family 5 ACK")
            << 5 << "\x06"_ba << Us(3000000) << 3000000 + byte9600 << true;
        QTest::newRow("family 5 silence") << 5 << QByteArray() << Us(0) << Us(5000000) << false;
        QTest::newRow("family 6 goes on without ACK")
            << 6 << "KK"_ba << Us(1500000) << 1500000 + byte9600 << false;
    }
    void ack() {
        QFETCH(int, family);
        QFETCH(QByteArray, after);
        QFETCH(qint64, delayUs);
        QFETCH(qint64, settledUs);
        QFETCH(bool, ack);
        Bench b(config(family), "\"A\"100H1R1T", 2000000);
        const Us etx = b.timeOf(ETX);
        b.write(after, etx + delayUs);
        b.runUntil(etx + settledUs - 1);
        QVERIFY(b.journal().isEmpty());
        b.runUntil(etx + settledUs);
        const auto j = b.journal();
        QCOMPARE(j.size(), 1);
        QCOMPARE(j[0][u"ack"].toBool(!ack), ack);
    }

    // ---- faults ----


    void faultAtCommand_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("out"); // '#': a junk byte, 0xA0 to 0xFF
        QTest::addColumn<Times>("times");
        QTest::addColumn<int>("receipt"); // the last receipt's number at the end
        // Commands K, 1R (after a blank, which is no command) and 1T written at
        // once: byte j arrives at j byte times, its echo one later.
        const Us t = byte9600;
        const Times plain{2 * t, 3 * t, 4 * t, 5 * t, 6 * t, 7 * t};
        const Us late = 100000;
        const QByteArray off(1, XOFF), on(1, XON);
        auto row = [](const char* fault, const QByteArray& out, const Times& times, int receipt) {
            QTest::newRow(*fault ? fault : "none")
                << QString::fromLatin1(fault) << out << times << receipt;
        };
        row("", "K 1R1T", plain, 1);
        row("no-echo@2", "K 1T", {2 * t, 3 * t, 6 * t, 7 * t}, 1); // carried out all the same
        row("wrong-echo@2", "K ?R1T", plain, 1);
        row("garble@2", "K ##1T", plain, 1);
        // The late echo holds up the line: what follows queues behind it.
        row("late-echo:100@2", "K 1R1T",
            {2 * t, 3 * t, 4 * t + late, 5 * t + late, 6 * t + late, 7 * t + late}, 1);
        // The payment that follows a refused sale has nothing to pay.
        row("refuse@2", "K 11", {2 * t, 3 * t, 4 * t, 6 * t}, 0);
        row("xoff-stall@2", "K 1R" + off + "1T", {2 * t, 3 * t, 4 * t, 5 * t, 6 * t, 7 * t, 8 * t},
            1);
        // XON when the stall ends (the buffer is nearly empty), one byte time on.
        row("xoff-stall:100@2", "K 1R" + off + "1T" + on,
            {2 * t, 3 * t, 4 * t, 5 * t, 6 * t, 7 * t, 8 * t, 4 * t + late + t}, 1);
        // The line dies at the sale's first byte; the rest is lost.
        row("drop@2", "K ", {2 * t, 3 * t, 3 * t}, 0);
        // Carried out, but the terminator's echo never comes.
        row("lost-answer@2", "K 11T", {2 * t, 3 * t, 4 * t, 6 * t, 7 * t}, 1);
        // Refused with an error answer in place of the terminator's echo.
        row("paper-out@2", "K 1" + frame("ERR01") + "1",
            {2 * t, 3 * t, 4 * t, 5 * t, 6 * t, 7 * t, 8 * t, 9 * t, 10 * t, 11 * t, 12 * t}, 0);
        // Off from the sale's first byte: nothing more is read or answered,
        // and what was on its way out is lost with the power.
        row("power-cycle@2", "K", {2 * t}, 0);
        row("hang@2", "K ", {2 * t, 3 * t}, 0);
    }
    void faultAtCommand() {
        QFETCH(QString, fault);
        QFETCH(QByteArray, out);
        QFETCH(Times, times);
        QFETCH(int, receipt);
        Bench b(config(0, true, fault), "K 1R1T", 60000000);
        QByteArray got = b.bytes();
        for (char& c : got) {
            c = static_cast<unsigned char>(c) >= 0xA0 ? '#' : c;
        }
        QCOMPARE(got, out);
        QCOMPARE(b.times(), times);
        const bool dropped = fault.startsWith(u"drop"_s);
        QCOMPARE(!b.sent.isEmpty() && b.sent.last().dropLine, dropped);
        const bool deaf = dropped || fault.startsWith(u"power"_s) || fault.startsWith(u"hang"_s);
        QCOMPARE(b.model.commandsReceived(), deaf ? 2 : 3);
        QCOMPARE(b.model.lastReceiptNumber(), receipt);
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
