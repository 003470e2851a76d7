// The register model on its own, in virtual time: the command reader, the
// fiscal rules and the journal, and every answer with its exact timing on the
// line (echo, XON/XOFF, footers, Y, 89F), over serial and TCP, with faults.

#include "Answers.h"
#include "CommandParser.h"
#include "RegisterModel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace velmar::sim;

namespace {

using Us = qint64;

// At 9600 baud a byte takes 10 000 000 / 9600 = 1041.7 us, 1042 rounded; at
// 115200, 86.8 us, 87 rounded. At 400 bytes a second a byte prints in 2500 us.
constexpr Us byte9600 = 1042;
constexpr Us byte115200 = 87;
constexpr Us print400 = 2500;
constexpr Us closing = 800000; // the default closing print, 800 ms

RegisterConfig config(int family, bool serial = true) {
    RegisterConfig c;
    c.family = family;
    c.serial = serial;
    c.clockAtZero = QDateTime(QDate(2026, 12, 6), QTime(9, 15), Qt::LocalTime);
    return c;
}

// A driver in virtual time: writes bytes at given times and records every
// emission the model makes, stepping from one wake-up to the next.
struct Bench {
    RegisterModel model;
    QList<Emission> sent;

    explicit Bench(RegisterConfig c) : model(std::move(c)) {}

    void runUntil(Us until) {
        for (int guard = 0; guard < 1000000; ++guard) {
            const auto wake = model.nextWakeUs();
            if (!wake || *wake > until) {
                break;
            }
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
    // The time of the first emission holding `byte`, or -1.
    Us timeOf(char byte, int occurrence = 1) const {
        for (const Emission& e : sent) {
            if (e.bytes.contains(byte) && --occurrence == 0) {
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

// The journal line without its date and time, as compact JSON.
QByteArray withoutTime(QJsonObject o) {
    o.remove(QStringLiteral("datetime"));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray canonical(const QByteArray& json) {
    return QJsonDocument::fromJson(json).toJson(QJsonDocument::Compact);
}

// A command as a short text: "1R t=MILK q=2 a=150", or "error".
QByteArray describe(const CommandParser::Step& s) {
    if (s.kind == CommandParser::Step::Error) {
        return "error";
    }
    QByteArray d = s.command.name();
    if (s.command.hasText) {
        d += " t=" + s.command.text;
    }
    if (!s.command.quantity.isEmpty()) {
        d += " q=" + s.command.quantity;
    }
    if (!s.command.amount.isEmpty()) {
        d += " a=" + s.command.amount;
    }
    return d;
}

QByteArray frame(const QByteArray& body) {
    return STX + body + ETX;
}

} // namespace

class TestRegisterModel : public QObject {
    Q_OBJECT

private slots:
    // ---- the command reader ----

    void parser_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArray>("commands");

        QTest::newRow("sale with text, quantity, amount")
            << QByteArray("\"MILK\"2*150H1R") << QByteArray("1R t=MILK q=2 a=150");
        QTest::newRow("sale without text") << QByteArray("750H1R") << QByteArray("1R a=750");
        QTest::newRow("sale at the preset price") << QByteArray("3R") << QByteArray("3R");
        QTest::newRow("amount before the text")
            << QByteArray("100H\"TEXT\"3T") << QByteArray("3T t=TEXT a=100");
        QTest::newRow("percentage with decimals")
            << QByteArray("10.50*1M") << QByteArray("1M q=10.50");
        QTest::newRow("text line then courtesy line")
            << QByteArray("\"PUNTI\"@40F") << QByteArray("@ t=PUNTI | 40F");
        QTest::newRow("subtotal then its discount")
            << QByteArray("=20*2M") << QByteArray("= | 2M q=20");
        QTest::newRow("cash in and its payment")
            << QByteArray("10M500H1T") << QByteArray("10M | 1T a=500");
        QTest::newRow("one-line non-fiscal document")
            << QByteArray("j\"RECUPERO CREDITO: 500\"@J")
            << QByteArray("j | @ t=RECUPERO CREDITO: 500 | J");
        QTest::newRow("return prefix")
            << QByteArray("9M\"PANE\"100H3R") << QByteArray("9M | 3R t=PANE a=100");
        QTest::newRow("reset") << QByteArray("KK") << QByteArray("K | K");
        QTest::newRow("cancel") << QByteArray("Kk") << QByteArray("K | k");
        QTest::newRow("blank text") << QByteArray("\" \"@") << QByteArray("@ t= ");
        QTest::newRow("separators inside a text are text")
            << QByteArray("\"A*B 5H 1R\"@") << QByteArray("@ t=A*B 5H 1R");
        QTest::newRow("blanks between fields are skipped")
            << QByteArray(" 500H 1 T ") << QByteArray("1T a=500");
        QTest::newRow("keys and requests")
            << QByteArray("25F89FYaA") << QByteArray("25F | 89F | Y | a | A");
        QTest::newRow("codes and display")
            << QByteArray("\"C39\"3Z\"BENVENUTO\"1%") << QByteArray("3Z t=C39 | 1% t=BENVENUTO");
        QTest::newRow("K ends a half-keyed entry")
            << QByteArray("5K500HK") << QByteArray("K | K a=500");
        QTest::newRow("unknown byte") << QByteArray("Q") << QByteArray("error");
        QTest::newRow("reading goes on after an error")
            << QByteArray("X1T") << QByteArray("error | 1T");
        QTest::newRow("terminator without number") << QByteArray("R") << QByteArray("error");
        QTest::newRow("value before a bare terminator") << QByteArray("5=") << QByteArray("error");
        QTest::newRow("decimal department") << QByteArray("1.5R") << QByteArray("error");
        // The second quote is refused, b is junk, and "@ opens a text.
        QTest::newRow("two texts") << QByteArray("\"a\"\"b\"@") << QByteArray("error | error");
        QTest::newRow("two decimal points") << QByteArray("1..2*") << QByteArray("error");
        QTest::newRow("separator without value") << QByteArray("H1R") << QByteArray("error | 1R");
        QTest::newRow("two amounts") << QByteArray("150H150H1R") << QByteArray("error | 1R");
        // The 13th digit is refused, then H has no value left.
        QTest::newRow("value longer than 12")
            << QByteArray("1234567890123H1R") << QByteArray("error | error | 1R");
        // A reference that lost its closing quote swallows the next line's
        // opening quote; what follows is no longer a command.
        QTest::newRow("unterminated reference") << QByteArray("\"31122400000000\"PANE\"100H3R")
                                                << QByteArray("error | A | error | error");
    }
    void parser() {
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, commands);
        QByteArrayList got;
        for (const auto& step : CommandParser::parseAll(stream)) {
            got << describe(step);
        }
        QCOMPARE(got.join(" | "), commands);
    }

    void parserLimitsTextLength() {
        const QByteArray ok = '"' + QByteArray(CommandParser::maxTextLength, 'x') + "\"@";
        QCOMPARE(describe(CommandParser::parseAll(ok).value(0)).left(1), QByteArray("@"));
        const QByteArray tooLong = '"' + QByteArray(CommandParser::maxTextLength + 1, 'x');
        const auto steps = CommandParser::parseAll(tooLong);
        QCOMPARE(steps.size(), 1);
        QCOMPARE(steps[0].kind, CommandParser::Step::Error);
    }

    // ---- whole documents and their journal lines ----

    void documents_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArrayList>("journal");

        // 2 x 1.50 + 2.50 less 10 % of 2.50 = 5.25; less 0.50 on the subtotal
        // = 4.75; paid 2.00 + 3.00, change 0.25.
        QTest::newRow("sale, discounts, two payments, change")
            << 0 << QByteArray("\"MILK\"2*150H1R\"BREAD\"250H2R10*1M=50H4M200H0T300H1T")
            << QByteArrayList{
                   R"({"kind":"receipt","number":1,"items":[
                    {"dept":1,"qty":"2","amount":300,"text":"MILK","return":false},
                    {"dept":2,"qty":"1","amount":250,"text":"BREAD","return":false}],
                   "modifiers":[{"on":"item","item":2,"type":"discount","percent":"10","amount":-25},
                    {"on":"subtotal","type":"discount","amount":-50}],
                   "payments":[{"form":0,"amount":200},{"form":1,"amount":300}],
                   "total":475,"change":25})"};
        QTest::newRow("surcharges on item and subtotal")
            << 2 << QByteArray("1000H1R5*5M=100H8M1T")
            << QByteArrayList{
                   R"({"kind":"receipt","number":1,"items":[
                    {"dept":1,"qty":"1","amount":1000,"text":"","return":false}],
                   "modifiers":[{"on":"item","item":1,"type":"surcharge","percent":"5","amount":50},
                    {"on":"subtotal","type":"surcharge","amount":100}],
                   "payments":[{"form":1,"amount":1150}],"total":1150,"change":0})"};
        QTest::newRow("a return in a sale")
            << 0 << QByteArray("\"A\"1000H1R9M\"B\"300H2R1T")
            << QByteArrayList{R"({"kind":"receipt","number":1,"items":[
                    {"dept":1,"qty":"1","amount":1000,"text":"A","return":false},
                    {"dept":2,"qty":"1","amount":300,"text":"B","return":true}],
                   "modifiers":[],"payments":[{"form":1,"amount":700}],"total":700,"change":0})"};
        QTest::newRow("a refund: returns only")
            << 5 << QByteArray("9M\"B\"300H2R1T")
            << QByteArrayList{R"({"kind":"receipt","number":1,"items":[
                    {"dept":2,"qty":"1","amount":300,"text":"B","return":true}],
                   "modifiers":[],"payments":[{"form":1,"amount":-300}],"total":-300,"change":0})"};
        QTest::newRow("decimal quantity, preset price, tickets")
            << 0 << QByteArray("2.5*150H1R4R\"TICKET\"3*100H4T1T")
            << QByteArrayList{R"({"kind":"receipt","number":1,"items":[
                    {"dept":1,"qty":"2.5","amount":375,"text":"","return":false},
                    {"dept":4,"qty":"1","amount":100,"text":"","return":false}],
                   "modifiers":[],"payments":[{"form":4,"amount":300,"qty":"3","text":"TICKET"},
                    {"form":1,"amount":175}],"total":475,"change":0})"};
        QTest::newRow("void with k uses no number")
            << 0 << QByteArray("\"A\"1000H1RKk\"B\"200H1R1T")
            << QByteArrayList{R"({"kind":"void","of":"receipt","number":1,"items":[
                    {"dept":1,"qty":"1","amount":1000,"text":"A","return":false}],
                   "modifiers":[],"payments":[],"total":1000,"change":0})",
                              R"({"kind":"receipt","number":1,"items":[
                    {"dept":1,"qty":"1","amount":200,"text":"B","return":false}],
                   "modifiers":[],"payments":[{"form":1,"amount":200}],"total":200,"change":0})"};
        QTest::newRow("void with 25F after a payment")
            << 3 << QByteArray("1000H1R500H1T25F")
            << QByteArrayList{R"({"kind":"void","of":"receipt","number":1,"items":[
                    {"dept":1,"qty":"1","amount":1000,"text":"","return":false}],
                   "modifiers":[],"payments":[{"form":1,"amount":500}],"total":1000,"change":0})"};
        QTest::newRow("void with nothing open does nothing")
            << 0 << QByteArray("kK25F") << QByteArrayList{};
        QTest::newRow("non-fiscal document")
            << 0 << QByteArray("j\"GRAZIE\"@\" \"@J")
            << QByteArrayList{R"({"kind":"nonfiscal","number":1,"lines":["GRAZIE"," "]})"};
        QTest::newRow("cash in, family 0")
            << 0 << QByteArray("10M500H3T") << QByteArrayList{R"({"kind":"cash-in","number":1,
                   "payments":[{"form":3,"amount":500}],"total":500,"change":0})"};
        QTest::newRow("cash out, family 4")
            << 4 << QByteArray("11M200H1T") << QByteArrayList{R"({"kind":"cash-out","number":1,
                   "payments":[{"form":1,"amount":200}],"total":200,"change":0})"};
        QTest::newRow("cash in and out, family 1")
            << 1 << QByteArray("14M500H1T15M200H1T")
            << QByteArrayList{R"({"kind":"cash-in","number":1,
                   "payments":[{"form":1,"amount":500}],"total":500,"change":0})",
                              R"({"kind":"cash-out","number":2,
                   "payments":[{"form":1,"amount":200}],"total":200,"change":0})"};
        QTest::newRow("non-fiscal and cash movements share a series")
            << 0 << QByteArray("jJ10M100H1T")
            << QByteArrayList{R"({"kind":"nonfiscal","number":1,"lines":[]})",
                              R"({"kind":"cash-in","number":2,
                   "payments":[{"form":1,"amount":100}],"total":100,"change":0})"};
        QTest::newRow("reference, header line, customer, courtesy, codes")
            << 1
            << QByteArray("\"06122600120034\"102M\"INTESTAZIONE\"@\"A\"100H1R"
                          "\"ABCD1234\"@39F\"PUNTI 5\"@40F\"12345670\"2Z1T")
            << QByteArrayList{R"({"kind":"receipt","number":1,"items":[
                    {"dept":1,"qty":"1","amount":100,"text":"A","return":false}],
                   "modifiers":[],"payments":[{"form":1,"amount":100}],"total":100,"change":0,
                   "lines":["INTESTAZIONE"],"customer":"ABCD1234","courtesy":["PUNTI 5"],
                   "codes":[{"type":2,"code":"12345670"}],
                   "reference":{"text":"06122600120034","cancels":false}})"};
        QTest::newRow("cancelling reference from a POS")
            << 0 << QByteArray("\"06122601230034POS\"103M9M100H1R1T")
            << QByteArrayList{R"({"kind":"receipt","number":1,"items":[
                    {"dept":1,"qty":"1","amount":100,"text":"","return":true}],
                   "modifiers":[],"payments":[{"form":1,"amount":-100}],"total":-100,"change":0,
                   "reference":{"text":"06122601230034POS","cancels":true}})"};
        QTest::newRow("cancelling reference with the register")
            << 0 << QByteArray("\"0612260123003499MEX012345\"103M9M100H1R1T")
            << QByteArrayList{R"({"kind":"receipt","number":1,"items":[
                    {"dept":1,"qty":"1","amount":100,"text":"","return":true}],
                   "modifiers":[],"payments":[{"form":1,"amount":-100}],"total":-100,"change":0,
                   "reference":{"text":"0612260123003499MEX012345","cancels":true}})"};
    }
    void documents() {
        QFETCH(int, family);
        QFETCH(QByteArray, stream);
        QFETCH(QByteArrayList, journal);
        Bench b(config(family, false));
        b.write(stream);
        b.runUntil(10000000);
        QByteArrayList got;
        for (const QJsonObject& o : b.journal()) {
            got << withoutTime(o);
        }
        QByteArrayList want;
        for (const QByteArray& j : journal) {
            want << canonical(j);
        }
        QCOMPARE(got, want);
    }

    void receiptNumbersCountFromTheFirst() {
        RegisterConfig c = config(0, false);
        c.firstReceiptNumber = 41;
        Bench b(c);
        QCOMPARE(b.model.lastReceiptNumber(), 40);
        b.write("100H1R");
        b.runUntil(1000);
        QVERIFY(b.model.receiptOpen());
        b.write("1T100H1R1T", 2000);
        b.runUntil(5000000);
        const auto j = b.journal();
        QCOMPARE(j.size(), 2);
        QCOMPARE(j[0][QStringLiteral("number")].toInt(), 41);
        QCOMPARE(j[1][QStringLiteral("number")].toInt(), 42);
        QCOMPARE(b.model.lastReceiptNumber(), 42);
        QVERIFY(!b.model.receiptOpen());
    }

    void journalTimeIsTheRegisterClock() {
        // The clock starts at 09:15:00; the closing payment arrives 61.5 s later.
        Bench b(config(0, false));
        b.write("100H1R");
        b.write("1T", 61500000);
        b.runUntil(70000000);
        const auto j = b.journal();
        QCOMPARE(j.size(), 1);
        QCOMPARE(j[0][QStringLiteral("datetime")].toString(),
                 QStringLiteral("2026-12-06T09:16:01"));
    }

    void refusals_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reason");

        QTest::newRow("department 0") << 0 << QByteArray("100H0R") << QByteArray("100H0R")
                                      << QByteArray("department 0 out of range (1-99)");
        QTest::newRow("department 100") << 0 << QByteArray("100H100R") << QByteArray("100H100R")
                                        << QByteArray("department 100 out of range (1-99)");
        QTest::newRow("payment form 20")
            << 0 << QByteArray("100H1R100H20T") << QByteArray("100H20T")
            << QByteArray("payment form 20 out of range (0-19)");
        QTest::newRow("payment with nothing open")
            << 0 << QByteArray("1T") << QByteArray("1T")
            << QByteArray("a payment with no receipt or cash movement open");
        QTest::newRow("sale in a non-fiscal document")
            << 0 << QByteArray("j100H1R") << QByteArray("100H1R")
            << QByteArray("a sale in a non-fiscal document");
        QTest::newRow("J without j") << 0 << QByteArray("J") << QByteArray("J")
                                     << QByteArray("J with no non-fiscal document open");
        QTest::newRow("j twice") << 0 << QByteArray("jj") << QByteArray("j")
                                 << QByteArray("j while a document is open");
        QTest::newRow("discount above the item")
            << 0 << QByteArray("100H1R200H3M") << QByteArray("200H3M")
            << QByteArray("a discount larger than the item");
        QTest::newRow("discount above the subtotal")
            << 0 << QByteArray("100H1R=200H4M") << QByteArray("200H4M")
            << QByteArray("a discount larger than the subtotal");
        QTest::newRow("subtotal discount without =")
            << 0 << QByteArray("100H1R10*2M") << QByteArray("10*2M")
            << QByteArray("2M without = right before it");
        QTest::newRow("percentage above 100")
            << 0 << QByteArray("100H1R101*1M") << QByteArray("101*1M")
            << QByteArray("percentage 101 is not 0.01 to 100");
        QTest::newRow("amount with a decimal point")
            << 0 << QByteArray("1.50H1R") << QByteArray("1.50H1R")
            << QByteArray("amount 1.50 is not 1 to 999999999 whole cents");
        QTest::newRow("amount zero") << 0 << QByteArray("0H1R") << QByteArray("0H1R")
                                     << QByteArray("amount 0 is not 1 to 999999999 whole cents");
        QTest::newRow("sale after a payment")
            << 0 << QByteArray("1000H1R500H1T100H2R") << QByteArray("100H2R")
            << QByteArray("a sale after a payment");
        QTest::newRow("refund paid with an amount")
            << 0 << QByteArray("9M300H1R500H1T") << QByteArray("500H1T")
            << QByteArray("a refund is paid without an amount");
        QTest::newRow("drawer in a receipt")
            << 0 << QByteArray("100H1Ra") << QByteArray("a")
            << QByteArray("the drawer opens only between documents");
        QTest::newRow("cash in while a receipt is open")
            << 0 << QByteArray("100H1R10M") << QByteArray("10M")
            << QByteArray("a cash movement while a document is open");
        QTest::newRow("cash movement without amount")
            << 0 << QByteArray("10M1T") << QByteArray("1T")
            << QByteArray("a cash movement needs its amount");
        QTest::newRow("14M outside family 1")
            << 0 << QByteArray("14M") << QByteArray("14M")
            << QByteArray("14M is a code of family 1 only (10M, 11M)");
        QTest::newRow("10M in family 1") << 1 << QByteArray("10M") << QByteArray("10M")
                                         << QByteArray("10M is not a code of family 1 (14M, 15M)");
        QTest::newRow("malformed reference")
            << 0 << QByteArray("\"123\"102M") << QByteArray("\"123\"102M")
            << QByteArray("reference \"123\" is not date, number and issuing register");
        QTest::newRow("39F without a line")
            << 0 << QByteArray("39F") << QByteArray("39F")
            << QByteArray("39F without a line printed right before it");
        QTest::newRow("display line 3") << 3 << QByteArray("\"X\"3%") << QByteArray("\"X\"3%")
                                        << QByteArray("display line 3 out of range (1-2)");
        QTest::newRow("code type 4") << 5 << QByteArray("\"X\"4Z") << QByteArray("\"X\"4Z")
                                     << QByteArray("code type 4 out of range (1-3, 6)");
        QTest::newRow("function key 100") << 0 << QByteArray("100F") << QByteArray("100F")
                                          << QByteArray("function key 100 out of range (1-99)");
        QTest::newRow("unknown modifier")
            << 0 << QByteArray("12M") << QByteArray("12M") << QByteArray("unknown command 12M");
        QTest::newRow("syntax") << 0 << QByteArray("100H1Q") << QByteArray("100H1Q")
                                << QByteArray("syntax: unexpected byte 'Q'");
    }
    void refusals() {
        QFETCH(int, family);
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reason);
        // Serial: the refused command's last byte gets no echo.
        Bench b(config(family));
        b.write(stream);
        b.runUntil(10000000);
        QCOMPARE(b.bytes(), stream.left(stream.size() - 1));
        const auto j = b.journal();
        QCOMPARE(j.size(), 1);
        QCOMPARE(j[0][QStringLiteral("kind")].toString(), QStringLiteral("refused"));
        QCOMPARE(j[0][QStringLiteral("command")].toString().toLatin1(), command);
        QCOMPARE(j[0][QStringLiteral("reason")].toString().toLatin1(), reason);
        QCOMPARE(j[0][QStringLiteral("sequence")].toInt(), b.model.commandsReceived());
    }

    void refusedCommandChangesNothing() {
        // The refused discount leaves the item whole; the receipt goes on.
        Bench b(config(0, false));
        b.write("1000H1R2000H3M1T");
        b.runUntil(5000000);
        const auto j = b.journal();
        QCOMPARE(j.size(), 2);
        QCOMPARE(j[1][QStringLiteral("total")].toInt(), 1000);
        QCOMPARE(j[1][QStringLiteral("modifiers")].toArray().size(), 0);
    }

    void lineResetForgetsTheHalfCommand() {
        RegisterConfig c = config(0, false);
        c.presetPriceCents = 250;
        Bench b(c);
        b.write("\"A\"100H");
        b.runUntil(1000);
        b.model.lineReset();
        b.write("2R1T", 2000);
        b.runUntil(5000000);
        const auto j = b.journal();
        QCOMPARE(j.size(), 1);
        const QJsonObject item = j[0][QStringLiteral("items")].toArray().at(0).toObject();
        QCOMPARE(item[QStringLiteral("text")].toString(), QString());
        QCOMPARE(item[QStringLiteral("amount")].toInt(), 250);
    }

    // A command the driver gave up on half-way is dropped after 2 s of
    // silence, so the next job's "KK" clears instead of landing in a text.
    void inputTimeOutDropsAHalfCommand_data() {
        QTest::addColumn<Us>("pauseUs");
        QTest::addColumn<bool>("dropped");
        QTest::newRow("2.5 s of silence") << Us(2500000) << true;
        QTest::newRow("1.5 s of silence") << Us(1500000) << false;
    }
    void inputTimeOutDropsAHalfCommand() {
        QFETCH(Us, pauseUs);
        QFETCH(bool, dropped);
        Bench b(config(0, false));
        b.write("100H1R\"LAT");
        b.write("KKk", pauseUs);
        b.runUntil(pauseUs + 1000000);
        QCOMPARE(b.model.receiptOpen(), !dropped); // "k" voided it only when it was a command
        const auto j = b.journal();
        QCOMPARE(j.size(), dropped ? 2 : 0);
        if (dropped) {
            QCOMPARE(j[0][QStringLiteral("kind")].toString(), QStringLiteral("refused"));
            QCOMPARE(j[0][QStringLiteral("command")].toString(), QStringLiteral("\"LAT"));
            QCOMPARE(j[1][QStringLiteral("kind")].toString(), QStringLiteral("void"));
        }
    }

    // ---- the serial line: echo timing ----

    void echoTiming_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<QList<QByteArray>>("writes"); // one write per entry...
        QTest::addColumn<QList<qint64>>("writeTimes"); // ...at these times
        QTest::addColumn<QByteArray>("echo");
        QTest::addColumn<QList<qint64>>("echoTimes");

        // Each byte arrives one byte time after it was written (or after the
        // byte before it), and its echo one byte time after that.
        QTest::newRow("KK at 9600")
            << 9600 << QList<QByteArray>{"KK"} << QList<qint64>{0} << QByteArray("KK")
            << QList<qint64>{2 * byte9600, 3 * byte9600};
        QTest::newRow("KK at 115200")
            << 115200 << QList<QByteArray>{"KK"} << QList<qint64>{0} << QByteArray("KK")
            << QList<qint64>{2 * byte115200, 3 * byte115200};
        QTest::newRow("one byte at a time, apart")
            << 9600 << QList<QByteArray>{"1", "F"} << QList<qint64>{0, 10000} << QByteArray("1F")
            << QList<qint64>{2 * byte9600, 10000 + 2 * byte9600};
        QTest::newRow("a write while the line is busy queues")
            << 9600 << QList<QByteArray>{"KK", "K"} << QList<qint64>{0, 500} << QByteArray("KKK")
            << QList<qint64>{2 * byte9600, 3 * byte9600, 4 * byte9600};
        QTest::newRow("refused terminator is not echoed")
            << 9600 << QList<QByteArray>{"1000H0R"} << QList<qint64>{0} << QByteArray("1000H0")
            << QList<qint64>{2 * byte9600, 3 * byte9600, 4 * byte9600,
                             5 * byte9600, 6 * byte9600, 7 * byte9600};
        QTest::newRow("ACK is not echoed") << 9600 << QList<QByteArray>{"\x06K"} << QList<qint64>{0}
                                           << QByteArray("K") << QList<qint64>{3 * byte9600};
    }
    void echoTiming() {
        QFETCH(int, baud);
        QFETCH(QList<QByteArray>, writes);
        QFETCH(QList<qint64>, writeTimes);
        QFETCH(QByteArray, echo);
        QFETCH(QList<qint64>, echoTimes);
        RegisterConfig c = config(0);
        c.baud = baud;
        Bench b(c);
        for (int i = 0; i < writes.size(); ++i) {
            b.write(writes[i], writeTimes[i]);
        }
        b.runUntil(10000000);
        QCOMPARE(b.bytes(), echo);
        QList<qint64> times;
        for (const Emission& e : b.sent) {
            QCOMPARE(e.bytes.size(), 1);
            times << e.atUs;
        }
        QCOMPARE(times, echoTimes);
    }

    void nothingBeforeItsTime() {
        Bench b(config(0));
        b.write("K");
        QVERIFY(b.model.takeDue(2 * byte9600 - 1).isEmpty());
        QCOMPARE(b.model.nextWakeUs().value_or(-1), 2 * byte9600);
        const auto due = b.model.takeDue(2 * byte9600);
        QCOMPARE(due.size(), 1);
        QCOMPARE(due[0].bytes, QByteArray("K"));
        QVERIFY(!b.model.nextWakeUs());
    }

    // ---- flow control ----

    void flowControl_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("printSpeed");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<qint64>("xoffAt"); // -1: none
        QTest::addColumn<qint64>("xonAt");

        // Buffer 40: XOFF above 30 bytes, XON below 10. The printer takes its
        // first byte when it arrives; byte j is printed 1 / speed later than
        // byte j - 1. Nothing is printed while the 31 bytes arrive.
        // XOFF follows the echo of the 31st byte: 31 + 1 + 1 byte times.
        // XON comes when the 22nd byte is printed (9 left), one byte time on.
        const Us at10 = 100000;
        const Us at20 = 50000;
        QTest::newRow("9600, 10 B/s")
            << 9600 << 10 << 31 << 33 * byte9600 << byte9600 + 22 * at10 + byte9600;
        QTest::newRow("115200, 10 B/s")
            << 115200 << 10 << 31 << 33 * byte115200 << byte115200 + 22 * at10 + byte115200;
        QTest::newRow("drain at 20 B/s")
            << 9600 << 20 << 31 << 33 * byte9600 << byte9600 + 22 * at20 + byte9600;
        QTest::newRow("30 bytes stay below the mark") << 9600 << 10 << 30 << Us(-1) << Us(-1);
    }
    void flowControl() {
        QFETCH(int, baud);
        QFETCH(int, printSpeed);
        QFETCH(int, bytes);
        QFETCH(qint64, xoffAt);
        QFETCH(qint64, xonAt);
        RegisterConfig c = config(0);
        c.baud = baud;
        c.bufferSize = 40;
        c.printBytesPerSecond = printSpeed;
        Bench b(c);
        // One printed line of `bytes` bytes: a quote, text, a quote and @.
        b.write('"' + QByteArray(bytes - 3, 'X') + "\"@");
        b.runUntil(20000000);
        QCOMPARE(b.timeOf(XOFF), xoffAt);
        QCOMPARE(b.timeOf(XON), xonAt);
        if (xoffAt > 0) {
            // XOFF right after the echo of the byte that filled the buffer.
            const QByteArray out = b.bytes();
            QCOMPARE(out.indexOf(XOFF), 31);
            QCOMPARE(out.count(XOFF), 1);
            QCOMPARE(out.count(XON), 1);
        }
    }

    void fullBufferLosesTheCommand() {
        RegisterConfig c = config(0);
        c.bufferSize = 40;
        c.printBytesPerSecond = 10;
        Bench b(c);
        // The driver ignores XOFF: the 41st byte finds the 40 before it still
        // in the buffer (the first is printed 100 ms after it arrived).
        b.write('"' + QByteArray(40, 'X'));
        b.runUntil(1000000);
        const auto j = b.journal();
        QCOMPARE(j.size(), 1);
        QCOMPARE(j[0][QStringLiteral("reason")].toString(), QStringLiteral("print buffer full"));
        QCOMPARE(j[0][QStringLiteral("command")].toString().size(), 41);
        QCOMPARE(b.bytes().count('X'), 39); // the lost byte is not echoed
        QCOMPARE(b.bytes().count(XOFF), 1);
    }

    // ---- closing answers ----

    void footers_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<bool>("serial");
        QTest::addColumn<QByteArray>("footer"); // empty: none
        QTest::addColumn<qint64>("firstByteAt");

        // "A"100H1R1T: 11 bytes. Serial at 9600: byte j arrives at j x 1042
        // and is printed 2500 us after the one before (the first 2500 us after
        // it arrives), so the 11th is printed at 1042 + 11 x 2500; then 800 ms
        // of closing print, then one byte time on the wire.
        // TCP: no wire time, the 11th byte is printed at 11 x 2500.
        const QByteArray plain = frame("06/12/2026 09-15 0001EE");
        const QByteArray withRt = frame("06/12/2026 09-15 RT 0001B4");
        const Us serialAt = byte9600 + 11 * print400 + closing + byte9600;
        const Us tcpAt = 11 * print400 + closing;
        QTest::newRow("family 5 serial") << 5 << true << plain << serialAt;
        QTest::newRow("family 6 serial") << 6 << true << withRt << serialAt;
        for (int f : {0, 1, 2, 3, 4}) {
            QTest::addRow("family %d serial: none", f) << f << true << QByteArray() << Us(-1);
        }
        for (int f = 0; f <= 6; ++f) {
            QTest::addRow("family %d TCP", f) << f << false << plain << tcpAt;
        }
    }
    void footers() {
        QFETCH(int, family);
        QFETCH(bool, serial);
        QFETCH(QByteArray, footer);
        QFETCH(qint64, firstByteAt);
        Bench b(config(family, serial));
        const QByteArray stream = "\"A\"100H1R1T";
        b.write(stream);
        b.runUntil(firstByteAt > 0 ? firstByteAt - 1 : 0);
        QVERIFY(!b.bytes().contains(STX)); // not before printing is done
        b.runUntil(10000000);
        QCOMPARE(b.bytes(), (serial ? stream : QByteArray()) + footer);
        QCOMPARE(b.timeOf(STX), firstByteAt);
        if (serial && !footer.isEmpty()) {
            // One byte per byte time.
            QCOMPARE(b.timeOf(ETX) - b.timeOf(STX), (footer.size() - 1) * byte9600);
        }
    }

    void footerLayoutMatchesTheDialogue() {
        // The dialogue reads the date from s+1.., the time from s+12..s+16 and
        // the number from e-6..e-3 (s: STX, e: ETX, counted from 1).
        const QDateTime at(QDate(2026, 3, 9), QTime(17, 4), Qt::LocalTime);
        for (FooterLayout l : {FooterLayout::Plain, FooterLayout::WithRt}) {
            const QByteArray f = footer(l, at, 12345);
            const qsizetype s = f.indexOf(STX) + 1;
            const qsizetype e = f.indexOf(ETX) + 1;
            QCOMPARE(f.mid(s, 2) + f.mid(s + 3, 2) + f.mid(s + 8, 2), QByteArray("090326"));
            QCOMPARE(f.mid(s + 11, 5), QByteArray("17-04"));
            QCOMPARE(f.mid(e - 7, 4), QByteArray("2345"));
            QCOMPARE(f.size(), l == FooterLayout::Plain ? 25 : 28);
        }
    }

    void checksum_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("sum");
        QTest::newRow("empty") << QByteArray() << QByteArray("00");
        QTest::newRow("one byte") << QByteArray("A") << QByteArray("41");
        QTest::newRow("wraps at 256") << QByteArray("\xff\x02", 2) << QByteArray("01");
        QTest::newRow("footer body") << QByteArray("06/12/2026 09-15 0001") << QByteArray("EE");
    }
    void checksum() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, sum);
        QCOMPARE(velmar::sim::checksum(bytes), sum);
    }

    void cashMovementClosingAnsweredOverTcp() {
        Bench b(config(0, false));
        b.write("10M500H1T");
        b.runUntil(10000000);
        QCOMPARE(b.bytes(), frame("06/12/2026 09-15 0001EE"));
        // Over serial, family 5 answers receipts only.
        Bench s(config(5));
        s.write("10M500H1T");
        s.runUntil(10000000);
        QCOMPARE(s.bytes(), QByteArray("10M500H1T"));
    }

    void tcpTakesOtherCommandsSilently() {
        Bench b(config(5, false));
        b.write("KK\"A\"100H1R=500H2T"); // the payment leaves 5.00 - 1.00 paid over: closes
        b.runUntil(300000);
        QCOMPARE(b.bytes(), QByteArray()); // printing not done yet
        b.write("Y89F\x06", 400000);
        b.runUntil(10000000);
        QCOMPARE(b.bytes(), frame("06/12/2026 09-15 0001EE"));
        const auto j = b.journal();
        QCOMPARE(j.size(), 1);
        QVERIFY(!j[0].contains(QStringLiteral("ack")));
        QCOMPARE(j[0][QStringLiteral("change")].toInt(), 400);
    }

    void tcpRefusalIsSilent() {
        Bench b(config(0, false));
        b.write("100H1R100H25T");
        b.runUntil(10000000);
        QCOMPARE(b.bytes(), QByteArray());
        QVERIFY(b.model.receiptOpen());
    }

    // ---- ACK after the footer ----

    void ack_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<QByteArray>("after"); // what the driver sends after the footer
        QTest::addColumn<qint64>("delayUs");   // ... this long after its last byte
        QTest::addColumn<bool>("journalled");  // before the ACK time-out
        QTest::addColumn<bool>("ack");

        QTest::newRow("family 5 ACK") << 5 << QByteArray("\x06") << Us(3000000) << true << true;
        QTest::newRow("family 6 ACK") << 6 << QByteArray("\x06") << Us(3000000) << true << true;
        QTest::newRow("family 5 silence") << 5 << QByteArray() << Us(0) << false << false;
        QTest::newRow("family 6 goes on without ACK")
            << 6 << QByteArray("KK") << Us(100000) << true << false;
        QTest::newRow("family 5 ACK too late")
            << 5 << QByteArray("\x06") << Us(6000000) << false << false;
    }
    void ack() {
        QFETCH(int, family);
        QFETCH(QByteArray, after);
        QFETCH(qint64, delayUs);
        QFETCH(bool, journalled);
        QFETCH(bool, ack);
        Bench b(config(family));
        b.write("\"A\"100H1R1T");
        b.runUntil(2000000);
        const Us etx = b.timeOf(ETX);
        QVERIFY(etx > 0);
        QVERIFY(b.journal().isEmpty()); // held until the ACK question is settled
        // The model waits 5 s for ACK after the footer's last byte.
        const Us deadline = etx + 5000000;
        const bool early = !after.isEmpty() && etx + delayUs < deadline;
        if (early) {
            b.write(after, etx + delayUs);
        }
        b.runUntil(deadline - 1);
        auto j = b.journal();
        QCOMPARE(!j.isEmpty(), journalled);
        if (!after.isEmpty() && !early) {
            b.write(after, etx + delayUs);
        }
        b.runUntil(etx + 20000000);
        j += b.journal();
        QCOMPARE(j.size(), 1);
        QCOMPARE(j[0][QStringLiteral("kind")].toString(), QStringLiteral("receipt"));
        QCOMPARE(j[0][QStringLiteral("ack")].toBool(true), ack);
        QVERIFY(j[0].contains(QStringLiteral("ack")));
    }

    void noAckExpectedOutsideFamilies5And6() {
        Bench b(config(1));
        b.write("\"A\"100H1R1T");
        b.runUntil(1000000);
        const auto j = b.journal();
        QCOMPARE(j.size(), 1);
        QVERIFY(!j[0].contains(QStringLiteral("ack")));
    }

    // ---- requests: Y and 89F ----

    void requests_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<int>("firstReceipt");
        QTest::addColumn<QByteArray>("before"); // documents before the request
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer"); // after the request's echo

        QTest::newRow("Y, family 1, after a receipt")
            << 1 << 1 << QByteArray("\"A\"100H1R1T") << QByteArray("Y")
            << frame("06/12/2026 09-15 0001EE");
        QTest::newRow("Y, family 1, no receipt yet")
            << 1 << 1 << QByteArray() << QByteArray("Y") << frame("06/12/2026 09-15 0000ED");
        QTest::newRow("Y, family 5: echo only")
            << 5 << 1 << QByteArray() << QByteArray("Y") << QByteArray();
        QTest::newRow("89F, family 3") << 3 << 7 << QByteArray("100H1R1T") << QByteArray("89F")
                                       << frame("ID: 99MEX012345 N0007 06/12/2026 09:15");
        QTest::newRow("89F, family 3, no receipt yet")
            << 3 << 1 << QByteArray() << QByteArray("89F")
            << frame("ID: 99MEX012345 N0000 06/12/2026 09:15");
        QTest::newRow("89F, family 6")
            << 6 << 1 << QByteArray() << QByteArray("89F") << frame("ID:99MEX012345");
        QTest::newRow("89F, family 0: echo only")
            << 0 << 1 << QByteArray() << QByteArray("89F") << QByteArray();
    }
    void requests() {
        QFETCH(int, family);
        QFETCH(int, firstReceipt);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        RegisterConfig c = config(family);
        c.firstReceiptNumber = firstReceipt;
        c.ackTimeoutMs = 100;
        Bench b(c);
        b.write(before);
        b.runUntil(2000000);
        b.sent.clear();
        b.write(request, 3000000);
        b.runUntil(4000000);
        QCOMPARE(b.bytes(), request + answer);
        if (!answer.isEmpty()) {
            // Right after the echo: the request's last byte arrives n byte
            // times after it was written, its echo one later, the answer's
            // first byte one after that.
            QCOMPARE(b.timeOf(STX), 3000000 + (request.size() + 2) * byte9600);
        }
    }

    void identityAnswerPositions() {
        // The dump takes the 8 characters after STX and 3; the receipt query
        // takes characters 22-25 of what it reads, the echo 89F included.
        const QDateTime now(QDate(2026, 12, 6), QTime(9, 15), Qt::LocalTime);
        const QByteArray six = identityAnswer(6, "99MEX012345", 0, now);
        QCOMPARE(six.mid(six.indexOf(STX) + 4, 8), QByteArray("99MEX012"));
        const QByteArray three = "89F" + identityAnswer(3, "99MEX012345", 42, now);
        QVERIFY(three.size() >= 42);
        QCOMPARE(three.mid(21, 4), QByteArray("0042"));
        QVERIFY(identityAnswer(0, "99MEX012345", 0, now).isEmpty());
        // A registration number of another length is blank-padded or cut.
        QCOMPARE(identityAnswer(6, "ABC", 0, now), frame("ID:ABC        "));
    }

    // ---- faults ----

    void faultParse_data() {
        QTest::addColumn<QString>("spec");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("at");
        QTest::addColumn<double>("probability");
        QTest::addColumn<int>("delay");
        QTest::addColumn<int>("duration");

        using K = FaultRule::Kind;
        QTest::newRow("no-echo@5")
            << "no-echo@5" << true << int(K::NoEcho) << 5 << 0.0 << 1000 << 0;
        QTest::newRow("wrong-echo%0.1")
            << "wrong-echo%0.1" << true << int(K::WrongEcho) << 0 << 0.1 << 1000 << 0;
        QTest::newRow("late-echo:800@3")
            << "late-echo:800@3" << true << int(K::LateEcho) << 3 << 0.0 << 800 << 0;
        QTest::newRow("xoff-stall:2500%1")
            << "xoff-stall:2500%1" << true << int(K::XoffStall) << 0 << 1.0 << 1000 << 2500;
        QTest::newRow("drop@12") << "drop@12" << true << int(K::Drop) << 12 << 0.0 << 1000 << 0;
        QTest::newRow("refuse: always")
            << "refuse" << true << int(K::Refuse) << 0 << 1.0 << 1000 << 0;
        QTest::newRow("garble@1") << "garble@1" << true << int(K::Garble) << 1 << 0.0 << 1000 << 0;
        QTest::newRow("unknown kind") << "explode@1" << false << 0 << 0 << 0.0 << 0 << 0;
        QTest::newRow("command 0") << "drop@0" << false << 0 << 0 << 0.0 << 0 << 0;
        QTest::newRow("probability above 1") << "drop%1.5" << false << 0 << 0 << 0.0 << 0 << 0;
        QTest::newRow("probability 0") << "drop%0" << false << 0 << 0 << 0.0 << 0 << 0;
        QTest::newRow("both @ and %") << "drop@1%0.5" << false << 0 << 0 << 0.0 << 0 << 0;
        QTest::newRow("time on a kind without one")
            << "no-echo:5@1" << false << 0 << 0 << 0.0 << 0 << 0;
        QTest::newRow("time not a number") << "late-echo:x@1" << false << 0 << 0 << 0.0 << 0 << 0;
        QTest::newRow("empty") << "" << false << 0 << 0 << 0.0 << 0 << 0;
    }
    void faultParse() {
        QFETCH(QString, spec);
        QFETCH(bool, valid);
        QString error;
        const auto rule = FaultRule::parse(spec, &error);
        QCOMPARE(rule.has_value(), valid);
        if (!valid) {
            QVERIFY(error.contains(spec));
            return;
        }
        QFETCH(int, kind);
        QFETCH(int, at);
        QFETCH(double, probability);
        QFETCH(int, delay);
        QFETCH(int, duration);
        QCOMPARE(int(rule->kind), kind);
        QCOMPARE(rule->atCommand, at);
        QCOMPARE(rule->probability, probability);
        QCOMPARE(rule->delayMs, delay);
        QCOMPARE(rule->durationMs, duration);
        // Written back, it reads the same.
        const auto again = FaultRule::parse(rule->toString());
        QVERIFY(again);
        QCOMPARE(int(again->kind), kind);
        QCOMPARE(again->atCommand, at);
        QCOMPARE(again->probability, probability);
    }

    void faultAtCommand_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QList<qint64>>("times");
        QTest::addColumn<bool>("dropped");

        // Three commands K, K, K written at once: echoes at 2, 3 and 4 byte
        // times without a fault.
        const Us t = byte9600;
        QTest::newRow("none") << QString() << QByteArray("KKK")
                              << QList<qint64>{2 * t, 3 * t, 4 * t} << false;
        QTest::newRow("no-echo@2")
            << "no-echo@2" << QByteArray("KK") << QList<qint64>{2 * t, 4 * t} << false;
        QTest::newRow("wrong-echo@2")
            << "wrong-echo@2" << QByteArray("K?K") << QList<qint64>{2 * t, 3 * t, 4 * t} << false;
        // The late echo holds up the line: the third echo queues behind it.
        QTest::newRow("late-echo:100@2")
            << "late-echo:100@2" << QByteArray("KKK")
            << QList<qint64>{2 * t, 2 * t + 100000 + t, 2 * t + 100000 + 2 * t} << false;
        QTest::newRow("refuse@2") << "refuse@2" << QByteArray("KK") << QList<qint64>{2 * t, 4 * t}
                                  << false;
        QTest::newRow("xoff-stall@2") << "xoff-stall@2" << QByteArray("KK\x13K")
                                      << QList<qint64>{2 * t, 3 * t, 4 * t, 5 * t} << false;
        QTest::newRow("drop@2") << "drop@2" << QByteArray("K") << QList<qint64>{2 * t, 2 * t}
                                << true;
    }
    void faultAtCommand() {
        QFETCH(QString, fault);
        QFETCH(QByteArray, out);
        QFETCH(QList<qint64>, times);
        QFETCH(bool, dropped);
        RegisterConfig c = config(0);
        if (!fault.isEmpty()) {
            c.faults = {*FaultRule::parse(fault)};
        }
        Bench b(c);
        b.write("KKK");
        b.runUntil(60000000);
        QCOMPARE(b.bytes(), out);
        QList<qint64> got;
        bool sawDrop = false;
        for (const Emission& e : b.sent) {
            got << e.atUs;
            sawDrop = sawDrop || e.dropLine;
        }
        QCOMPARE(got, times);
        QCOMPARE(sawDrop, dropped);
        QCOMPARE(b.model.commandsReceived(), dropped ? 2 : 3);
    }

    void garbleReplacesTheWholeEcho() {
        RegisterConfig c = config(0);
        c.faults = {*FaultRule::parse(QStringLiteral("garble@3"))};
        Bench b(c);
        b.write("KK\"A\"100H1R1T"); // commands K, K, "A"100H1R (9 bytes), 1T
        b.runUntil(1000000);
        const QByteArray out = b.bytes();
        QCOMPARE(out.size(), 13);
        QCOMPARE(out.left(2), QByteArray("KK"));
        for (int i = 2; i < 11; ++i) {
            QVERIFY2(static_cast<unsigned char>(out[i]) >= 0xA0, qPrintable(QString::number(i)));
        }
        QCOMPARE(out.mid(11), QByteArray("1T")); // the next command is whole again
        // The garbled command was carried out all the same.
        QCOMPARE(b.model.lastReceiptNumber(), 1);
    }

    void faultCountsCommandsNotBytes() {
        RegisterConfig c = config(0);
        c.faults = {*FaultRule::parse(QStringLiteral("no-echo@2"))};
        Bench b(c);
        b.write(" \"A\"100H1R 1T ");
        b.runUntil(1000000);
        QCOMPARE(b.bytes(), QByteArray(" \"A\"100H1R  ")); // the payment, and only it, unechoed
        QCOMPARE(b.model.lastReceiptNumber(), 1);          // but carried out
    }

    void xoffStallEndsAfterItsTime() {
        RegisterConfig c = config(0);
        c.faults = {*FaultRule::parse(QStringLiteral("xoff-stall:2000@1"))};
        Bench b(c);
        b.write("K");
        b.runUntil(60000000);
        QCOMPARE(b.bytes(), QByteArray("K\x13\x11"));
        // XON when the stall ends (the buffer is long empty by then).
        QCOMPARE(b.timeOf(XON), byte9600 + 2000000 + byte9600);
    }

    void droppedSerialLineComesBack() {
        RegisterConfig c = config(0);
        c.faults = {*FaultRule::parse(QStringLiteral("drop:1000@1"))};
        Bench b(c);
        b.write("K");
        b.write("K", 500000);  // dead: lost
        b.write("K", 1100000); // alive again
        b.runUntil(2000000);
        QCOMPARE(b.bytes(), QByteArray("K"));
        QCOMPARE(b.timeOf('K'), 1100000 + 2 * byte9600);
    }

    void droppedTcpLineNeedsANewConnection() {
        RegisterConfig c = config(5, false);
        c.faults = {*FaultRule::parse(QStringLiteral("drop@2"))};
        Bench b(c);
        QVERIFY(b.model.acceptConnection());
        b.write("100H1R1T");
        b.runUntil(10000000);
        QCOMPARE(b.sent.size(), 1);
        QVERIFY(b.sent[0].dropLine);
        QVERIFY(b.model.receiptOpen()); // the payment was lost with the line
        QVERIFY(b.model.acceptConnection());
        b.write("1T", 11000000);
        b.runUntil(20000000);
        QCOMPARE(b.bytes(), frame("06/12/2026 09-15 0001EE"));
    }

    void refuseEverythingRefusesConnections() {
        RegisterConfig c = config(0, false);
        c.faults = {*FaultRule::parse(QStringLiteral("refuse"))};
        RegisterModel m(c);
        QVERIFY(m.refusesConnections());
        QVERIFY(!m.acceptConnection());
        c.faults = {*FaultRule::parse(QStringLiteral("refuse@3"))};
        RegisterModel once(c);
        QVERIFY(!once.refusesConnections());
        QVERIFY(once.acceptConnection());
    }

    void probabilityIsRepeatable() {
        auto run = [](std::uint64_t seed, QList<FaultRule> faults) {
            RegisterConfig c = config(0);
            c.faults = std::move(faults);
            c.seed = seed;
            Bench b(c);
            b.write(QByteArray(200, 'K'));
            b.runUntil(60000000);
            // Which of the 200 commands got no echo, as a bit string.
            QByteArray pattern;
            std::int64_t expected = 2 * byte9600;
            for (const Emission& e : b.sent) {
                while (e.atUs > expected) {
                    pattern += '0';
                    expected += byte9600;
                }
                pattern += '1';
                expected += byte9600;
            }
            return pattern.leftJustified(200, '0');
        };
        const FaultRule rule = *FaultRule::parse(QStringLiteral("no-echo%0.5"));
        const QByteArray first = run(7, {rule});
        QCOMPARE(run(7, {rule}), first);  // same seed, same commands struck
        QVERIFY(run(8, {rule}) != first); // another seed, another pattern
        const auto struck = first.count('0');
        QVERIFY2(struck > 60 && struck < 140, qPrintable(QString::number(struck)));
        // One draw per command: a rule at a fixed command changes no other
        // command's fate.
        const QByteArray withFixed =
            run(7, {rule, *FaultRule::parse(QStringLiteral("no-echo@100"))});
        QByteArray expected = first;
        expected[99] = '0';
        QCOMPARE(withFixed, expected);
    }
};

QTEST_GUILESS_MAIN(TestRegisterModel)
#include "tst_registermodel.moc"
