// The serial link in virtual time against a scripted register: the
// cooperative pause, the reply timer, SendString's echo check and setting up
// the port; the dialogue with its per-character answers, XON/XOFF, the closing
// phase of each family and the TIME/DATE lines of SR_OUT; and TransmitFile's
// result codes and what each leaves behind.

#include "ScriptedFixture.h"

#include <QDir>
#include <QFileInfo>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kFooter = "\x02"
                           "06/12/2026 09-15 0042A1\x03"; // families 1, 5: 25 bytes
const QByteArray kFooter6 = "\x02"
                            "06/12/2026 09-15 RT 0042A1\x03"; // family 6: 28 bytes
const QByteArray kTime = "TIME,CASS. 1 09:15 CASSA   1 ,E,A1;\r\n";
const QByteArray kDate = "DATE,06/12/26  SCONTR. N.0042 ,E,A1;\r\n";

struct Dialogue : ScriptedFixture {
    explicit Dialogue(int family) {
        engine.panel.cboAddedFunctions.setListIndex(family);
        engine.job.OutputFilePath = QDir(dir.path()).filePath(u"SR_OUT.001"_s);
        serial.open = true;
        // Every byte is echoed 1 ms after it is written.
        serial.answer = [this](const QByteArray& w) {
            QList<Reply> replies{{1, w}};
            if (extra) {
                replies += extra(w);
            }
            return replies;
        };
    }
    bool run(const QByteArray& xon) {
        QFile f(QDir(dir.path()).filePath(u"XON.txt"_s));
        f.open(QIODevice::WriteOnly);
        f.write(xon);
        f.close();
        return engine.ecr.RunEcrDialogue(f.fileName());
    }
    QByteArray srOut() const {
        QFile f(engine.job.OutputFilePath);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : "<missing>"_ba;
    }
    std::function<QList<Reply>(const QByteArray&)> extra;
};

struct Job : ScriptedFixture {
    Job() {
        engine.job.iCurrentCom = 1;
        engine.job.InputFilePath = path("SR_DATI.001");
        engine.job.OutputFilePath = path("SR_OUT.001");
        echoAll();
    }
    QString path(const char* name) const { return QDir(dir.path()).filePath(QLatin1String(name)); }
    void receipt(const QByteArray& bytes) {
        QFile f(engine.job.InputFilePath);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
    }
};

} // namespace

class TestEcrDialogue : public QObject {
    Q_OBJECT

private slots:
    // Every character waits for its answer, 3 s at most. XOFF: a full second
    // of listening, then up to 20 s for XON (answered when it comes), and 2 s
    // more when it never comes.
    void sendStringByChar_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("echo");
        QTest::addColumn<QList<Reply>>("afterOne"); // more answers to "1"
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("elapsedMs");
        QTest::addColumn<QByteArray>("written");
        const QByteArray xoff = "\x13", xon = "\x11";
        QTest::newRow("two round trips of 1 ms")
            << "1T"_ba << true << QList<Reply>{} << true << 2 << "1T"_ba;
        QTest::newRow("unanswered: the second is never sent")
            << "KK"_ba << false << QList<Reply>{} << false << 3000 << "K"_ba;
        QTest::newRow("XON within the second")
            << "1T"_ba << true << QList<Reply>{{2, xoff}, {400, xon}} << true << 1 + 1000 + 1
            << "1T"_ba;
        // The XOFF lands in the next character's answer.
        QTest::newRow("XON 5 s after the first write")
            << "1T"_ba << true << QList<Reply>{{2, xoff}, {5000, xon}} << true << 5000 << "1T"_ba;
        QTest::newRow("XOFF without XON") << "1T"_ba << true << QList<Reply>{{1, xoff}} << false
                                          << 1 + 1000 + 20000 + 2000 << "1"_ba;
    }
    void sendStringByChar() {
        QFETCH(QByteArray, text);
        QFETCH(bool, echo);
        QFETCH(QList<Reply>, afterOne);
        QFETCH(bool, ok);
        QFETCH(int, elapsedMs);
        QFETCH(QByteArray, written);
        Dialogue d(0);
        if (!echo) {
            d.serial.answer = nullptr;
        }
        d.extra = [afterOne](const QByteArray& w) { return w == "1" ? afterOne : QList<Reply>{}; };
        const auto start = d.rt.nowUs();
        QCOMPARE(d.engine.ecr.SendStringByChar(text), ok);
        QCOMPARE(d.serial.written, written);
        QCOMPARE(d.elapsedMs(start), std::int64_t(elapsedMs));
        QVERIFY(d.traceText().contains(" --> " + written.left(1) + "\r\n"));
        if (ok && afterOne.isEmpty()) {
            QVERIFY(d.traceText().contains(" <-- T , 1\r\n"));
        }
    }

    // A register that answers XOFF where the character's echo belongs: its
    // XON, then the echo, are waited for (up to 20 s), not given up on at 3 s.
    void xoffInPlaceOfTheEcho() {
        Dialogue d(0);
        d.serial.answer = [](const QByteArray& w) {
            return w == "1" ? QList<Reply>{{1, "\x13"_ba}, {5000, "\x11" "1"_ba}}
                            : QList<Reply>{{1, w}};
        };
        const auto start = d.rt.nowUs();
        QVERIFY(d.engine.ecr.SendStringByChar("1T"));
        QCOMPARE(d.serial.written, "1T"_ba);
        // The XON, then the second of listening every answer with XOFF gets.
        QCOMPARE(d.elapsedMs(start), std::int64_t(5000 + 1000 + 1));
    }

    // The whole-string send (every line of family 6, the reset and the
    // cancel of every family) leaves XON and XOFF out of the echo it
    // compares, waits for the echo while XOFF holds it back, and sends
    // nothing while the register holds XOFF.
    void sendStringFlowControl_data() {
        QTest::addColumn<QList<Reply>>("replies"); // to the first send, 1000H1R
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("elapsedMs");
        QTest::addColumn<bool>("secondSent"); // "KK" right after it
        const QByteArray xoff = "\x13", xon = "\x11";
        QTest::newRow("XOFF inside the echo, XON at once")
            << QList<Reply>{{5, "100" + xoff + xon + "0H1R"}} << true << 300 << true;
        QTest::newRow("XOFF inside the echo, the rest 3 s on")
            << QList<Reply>{{5, "100" + xoff}, {3000, xon + "0H1R"}} << true << 3000 << true;
        QTest::newRow("XOFF where the echo belongs, XON and echo 10 s on")
            << QList<Reply>{{5, xoff}, {10000, xon + "1000H1R"}} << true << 10000 << true;
        // Echoed, but the register asks for a pause it never ends: the next
        // send waits 20 s for XON and sends nothing.
        QTest::newRow("XOFF after the echo, no XON")
            << QList<Reply>{{5, "1000H1R" + xoff}} << true << 300 << false;
        QTest::newRow("XOFF and nothing more")
            << QList<Reply>{{5, xoff}} << false << 300 + 3500 + 20000 << false;
    }
    void sendStringFlowControl() {
        QFETCH(QList<Reply>, replies);
        QFETCH(bool, ok);
        QFETCH(int, elapsedMs);
        QFETCH(bool, secondSent);
        ScriptedFixture fx;
        fx.serial.open = true;
        fx.serial.answer = [replies](const QByteArray& w) {
            return w == "1000H1R" ? replies : QList<Reply>{{5, w}};
        };
        const auto start = fx.rt.nowUs();
        QCOMPARE(fx.engine.ecr.SendString("1000H1R"), ok);
        QCOMPARE(fx.elapsedMs(start), std::int64_t(elapsedMs));
        QCOMPARE(fx.engine.ecr.SendString("KK"), secondSent);
        QCOMPARE(fx.serial.written, secondSent ? "1000H1RKK"_ba : "1000H1R"_ba);
    }

    // A single "K", or a last line ending in "%": no closing phase, done as
    // soon as the last character is answered (1 ms each).
    void noClosingPhase_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<QByteArray>("xon");
        QTest::addColumn<int>("elapsedMs");
        QTest::newRow("single K") << 5 << "K\r\n"_ba << 1;
        QTest::newRow("last line ending in %") << 1 << "1000H1R\r\n\"CIAO\"1%\r\n"_ba << 15;
    }
    void noClosingPhase() {
        QFETCH(int, family);
        QFETCH(QByteArray, xon);
        QFETCH(int, elapsedMs);
        Dialogue d(family);
        const auto start = d.rt.nowUs();
        QVERIFY(d.run(xon));
        QCOMPARE(d.elapsedMs(start), std::int64_t(elapsedMs));
        QCOMPARE(d.srOut(), QByteArray());
    }

    // Family 5 over serial: the footer after printing, one ACK, two lines.
    void family5FooterGivesTimeAndDate() {
        Dialogue d(5);
        d.extra = [](const QByteArray& w) {
            return w == "T" ? QList<Reply>{{800, kFooter}} : QList<Reply>{};
        };
        QVERIFY(d.run("1000H1R\r\n1T\r\n"));
        QCOMPARE(d.srOut(), kTime + kDate);
        QCOMPARE(d.serial.written.count('\x06'), 1);
        QVERIFY(d.engine.link.InfoLinesWritten);
    }

    // A footer arriving with the answer to the last character: written there,
    // the rest of the line is not sent, and the closing phase adds nothing.
    void footerInsideTheCharacterAnswers() {
        Dialogue d(5);
        d.extra = [](const QByteArray& w) {
            return w == "1" ? QList<Reply>{{1, kFooter}} : QList<Reply>{};
        };
        QVERIFY(d.run("1T\r\n2T\r\n"));
        QCOMPARE(d.srOut(), kTime + kDate);
        QCOMPARE(d.serial.written, "12T"_ba); // the first line's T never sent; no ACK
    }

    // Family 1: "Y" after a final "1F" asks for the footer; written once.
    void family1AsksWithY() {
        Dialogue d(1);
        d.extra = [](const QByteArray& w) {
            if (w == "Y") {
                return QList<Reply>{{3, kFooter}, {1500, kFooter}};
            }
            return QList<Reply>{};
        };
        QVERIFY(d.run("1000H1R\r\n1T\r\n1F\r\n"));
        QVERIFY(d.serial.written.endsWith("1FY"));
        QCOMPARE(d.srOut(), kTime + kDate);
        QCOMPARE(d.serial.written.count('\x06'), 0);
    }

    void family1NoYAfterANonFiscalDocument() {
        Dialogue d(1);
        d.engine.link.NonFiscalOpen = true;
        QVERIFY(d.run("j\r\n1F\r\n"));
        QVERIFY(!d.serial.written.contains('Y'));
    }

    // Family 6: whole lines with SendString, 25F becomes k, footer of >= 28.
    void family6() {
        Dialogue d(6);
        d.extra = [](const QByteArray& w) {
            return w == "1T" ? QList<Reply>{{600, kFooter6}} : QList<Reply>{};
        };
        QVERIFY(d.run("1000H1R\r\n25F\r\n1T\r\n"));
        QVERIFY(d.serial.written.startsWith("1000H1Rk1T"));
        QCOMPARE(d.srOut(), kTime + kDate);
        QVERIFY(d.serial.written.endsWith('\x06'));
    }

    void family6ShortAnswerWritesNothing() {
        Dialogue d(6);
        d.extra = [](const QByteArray& w) {
            return w == "1T" ? QList<Reply>{{600, kFooter}} : QList<Reply>{}; // 25 bytes
        };
        QVERIFY(d.run("1000H1R\r\n1T\r\n"));
        QCOMPARE(d.srOut(), QByteArray());
    }

    // Family 3 asks for the receipt number; without an answer the lines carry
    // the computer's clock and 0000; with one, its positions 22-25.
    void family3ReceiptNumber_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("number");
        QTest::newRow("no answer") << QByteArray() << "0000"_ba;
        QTest::newRow("answer") << "89F\x02ID: 99MEX012345 N0117 06/12/2026 09:15\x03"_ba
                                << "0117"_ba;
        QTest::newRow("41 characters") << "89F\x02ID: 99MEX012345 N0117 06/12/2026 09:1"_ba
                                       << "0000"_ba;
    }
    void family3ReceiptNumber() {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, number);
        Dialogue d(3);
        d.serial.answer = [answer](const QByteArray& w) {
            if (w == "89F") {
                return QList<Reply>{{5, answer}};
            }
            return QList<Reply>{{1, w}};
        };
        QVERIFY(d.run("1000H1R\r\n1T\r\n"));
        const QDateTime now = d.rt.currentDateTime();
        QCOMPARE(d.srOut(), "TIME,CASS. 1 " + now.toString(u"HH:mm"_s).toLatin1() +
                                " CASSA   1 ,E,A1;\r\nDATE," +
                                now.toString(u"dd/MM/yyyy"_s).toLatin1() +
                                "  SCONTR. N." + number + ",E,A1;\r\n");
    }

    // A first line holding 25F (any case) voids a receipt left open: its
    // answer does not count. Later 25F lines are ordinary lines.
    void firstLineVoid() {
        Dialogue d(0);
        d.serial.answer = [](const QByteArray& w) {
            return w == "2" || w == "5" || w == "f" ? QList<Reply>{} : QList<Reply>{{1, w}};
        };
        QVERIFY(d.run("25f\r\n1000H1R\r\n"));
        QVERIFY(d.serial.written.startsWith("2")); // the first line's first byte, unanswered
        QVERIFY(d.serial.written.endsWith("1000H1R"));
    }

    void rejectedLineEndsTheDialogue() {
        Dialogue d(5);
        d.serial.answer = [](const QByteArray& w) {
            return w == "R" ? QList<Reply>{} : QList<Reply>{{1, w}};
        };
        QVERIFY(!d.run("1000H1R\r\n1T\r\n"));
        QVERIFY(!d.serial.written.contains('T'));
        QCOMPARE(d.srOut(), QByteArray());
    }

    // Family 4 opens its document and gives the register half a second.
    void family4PausesAfterTheDocumentStart() {
        Dialogue d(4);
        const auto start = d.rt.nowUs();
        QVERIFY(d.run("A\r\nK\r\n"));
        QCOMPARE(d.elapsedMs(start), std::int64_t(1 + 500 + 1 + 3000));
    }

    // Over TCP the footer is the answer to the last payment line; no ACK.
    void family5OverTcp() {
        Dialogue d(5);
        d.networkMode();
        d.engine.panel.TxtRemoteIP.setText(u"10.0.0.5"_s);
        d.engine.ecr.ConnectSocket(false);
        d.rt.sleepServing(10);
        d.socket.answer = [](const QByteArray& w) {
            return w.endsWith('T') ? QList<Reply>{{700, kFooter}} : QList<Reply>{};
        };
        d.engine.link.TotalLinesLeft = 1;
        QVERIFY(d.run("1000H1R\r\n1T\r\n"));
        QCOMPARE(d.srOut(), kTime + kDate);
        QVERIFY(!d.socket.written.contains('\x06'));
        QVERIFY(d.serial.written.isEmpty());
    }

    void printed() {
        Job j;
        j.receipt("PLUD,:PANE,P150,N1;\r\nCASH;\r\n");
        QCOMPARE(j.engine.ecr.TransmitFile(), std::int16_t(0));
        QCOMPARE(j.serial.written, "KK\"PANE\"150H1R1T"_ba);
        QVERIFY(!j.serial.open); // opened and closed once for the job
        QVERIFY(!j.engine.link.TransmitBusy);
        QCOMPARE(j.serial.settings(), u"9600,N,8,1"_s);
    }

    void receiptFileMissing() {
        Job j;
        j.engine.link.TransmitBusy = true;
        QCOMPARE(j.engine.ecr.TransmitFile(), std::int16_t(-100));
        QVERIFY(j.engine.link.TransmitBusy); // not touched
        QVERIFY(!QFileInfo::exists(j.path("XON.txt")));
        QVERIFY(j.serial.written.isEmpty());
    }

    // An empty receipt converts to no file: three attempts 100 ms apart, then
    // a conversion failure. The previous job's XON.txt is never played again.
    void nothingConvertedThreeTimes() {
        Job j;
        j.receipt("SALE,N1,P100;\r\nCASH;\r\n");
        QCOMPARE(j.engine.ecr.TransmitFile(), std::int16_t(0));
        j.serial.written.clear();
        j.receipt("");
        const auto start = j.rt.nowUs();
        QCOMPARE(j.engine.ecr.TransmitFile(), std::int16_t(-11));
        QCOMPARE(j.elapsedMs(start), std::int64_t(200));
        QVERIFY(j.serial.written.isEmpty());
        QVERIFY(!j.engine.link.TransmitBusy);
    }

    // Jobs that fail: the port closed again, the link free.
    void failedJob_data() {
        QTest::addColumn<QByteArray>("receipt");
        QTest::addColumn<int>("port");
        QTest::addColumn<QByteArray>("silentOn"); // "*": every write, "": none
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("elapsedMs");
        QTest::addColumn<QByteArray>("written");
        const QByteArray sale = "SALE,N1,P100;\r\n";
        QTest::newRow("refused receipt, not retried")
            << sale + "BOGUS;\r\n" << 1 << QByteArray() << -11 << 0 << QByteArray();
        QTest::newRow("port not available") << sale << 9 << QByteArray() << -12 << 0 << QByteArray();
        // No dialogue: the reset's pause and reply time-out.
        QTest::newRow("reset not answered") << sale << 1 << "*"_ba << -4 << 300 + 3500 << "KK"_ba;
        // KK and its pause, five answered characters of 100H1R, R's 3 s, 2 s to
        // settle, then the sale left open is voided (Kk and its pause).
        QTest::newRow("a line not answered") << sale + "CASH;\r\n" << 1 << "R"_ba << -4
                                             << 300 + 5 + 3000 + 2000 + 300 << "KK100H1RKk"_ba;
    }
    void failedJob() {
        QFETCH(QByteArray, receipt);
        QFETCH(int, port);
        QFETCH(QByteArray, silentOn);
        QFETCH(int, result);
        QFETCH(int, elapsedMs);
        QFETCH(QByteArray, written);
        Job j;
        j.engine.job.iCurrentCom = std::int16_t(port);
        j.serial.answer = [silentOn](const QByteArray& w) {
            return silentOn == "*" || w == silentOn ? QList<Reply>{} : QList<Reply>{{1, w}};
        };
        j.receipt(receipt);
        const auto start = j.rt.nowUs();
        QCOMPARE(int(j.engine.ecr.TransmitFile()), result);
        QCOMPARE(j.elapsedMs(start), std::int64_t(elapsedMs));
        QCOMPARE(j.serial.written, written);
        QVERIFY(!j.serial.open);
        QVERIFY(!j.engine.link.TransmitBusy);
    }

    // The test print: the receipt file goes out unchanged, once, and is not
    // kept for the next job, which must be translated, even when resetting
    // the register fails.
    void rawFileMode_data() {
        QTest::addColumn<QByteArray>("silentOn"); // "*": every write, "": none
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("printed") << QByteArray() << 0 << "KKK\"PROVA\"10H1R0M10H1R1"_ba;
        // The payment's answer is lost: it may have printed, and family 0
        // cannot be asked.
        QTest::newRow("dialogue failed") << "T"_ba << int(EcrLink::kOutcomeUnknown)
                                         << "KKK\"PROVA\"10H1R0M10H1R1"_ba;
        QTest::newRow("reset not answered") << "*"_ba << -4 << "KK"_ba;
    }
    void rawFileMode() {
        QFETCH(QByteArray, silentOn);
        QFETCH(int, result);
        QFETCH(QByteArray, sent);
        Job j;
        j.serial.answer = [silentOn](const QByteArray& w) {
            return silentOn == "*" || w == silentOn ? QList<Reply>{} : QList<Reply>{{1, w}};
        };
        j.receipt("K\"PROVA\"10H1R0M10H1R1T\r\n");
        j.engine.link.RawFileMode = true;
        j.engine.link.TotalLinesLeft = 1;
        QCOMPARE(int(j.engine.ecr.TransmitFile()), result);
        QVERIFY(!QFileInfo::exists(j.path("XON.txt"))); // never converted
        QVERIFY2(j.serial.written.startsWith(sent), j.serial.written.constData());
        QVERIFY(!j.engine.link.RawFileMode);
    }

    // The TIME/DATE lines reach SR_OUT.00n of the job.
    void outputFileOfTheJob() {
        Job j;
        j.engine.panel.cboAddedFunctions.setListIndex(5);
        j.serial.answer = [](const QByteArray& w) {
            QList<Reply> r{{1, w}};
            if (w == "T") {
                r.append({500, QByteArray("\x02" "06/12/2026 09-15 0007C3\x03")});
            }
            return r;
        };
        j.receipt("SALE,N1,P100;\r\nCASH;\r\n");
        QCOMPARE(j.engine.ecr.TransmitFile(), std::int16_t(0));
        QCOMPARE(readFile(j.path("SR_OUT.001"), "<missing>"), QByteArray("TIME,CASS. 1 09:15 CASSA   1 ,E,A1;\r\n"
                                           "DATE,06/12/26  SCONTR. N.0007 ,E,A1;\r\n"));
    }

    // ms rounded halves-to-even, then whole 100 ms slices.
    void waitMsSlices_data() {
        QTest::addColumn<double>("ms");
        QTest::addColumn<int>("slept");
        QTest::newRow("50") << 50.0 << 0;
        QTest::newRow("99.4") << 99.4 << 0;
        QTest::newRow("99.5 rounds to 100") << 99.5 << 100;
        QTest::newRow("150") << 150.0 << 100;
        QTest::newRow("250") << 250.0 << 200;
        QTest::newRow("302") << 302.0 << 300;
        QTest::newRow("negative") << -500.0 << 0;
    }
    void waitMsSlices() {
        QFETCH(double, ms);
        QFETCH(int, slept);
        VirtualRuntime rt;
        int served = 0;
        auto timer = rt.createTimer([&served] { ++served; });
        timer->setInterval(100);
        timer->start();
        WaitMs(rt, ms);
        QCOMPARE(rt.nowMs(), std::int64_t(slept));
        QCOMPARE(served, slept / 100); // events are served in every slice
    }

    // The echo check: equal, or containing the command when longer.
    void sendStringEcho_data() {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("echo");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("exact echo") << "KK"_ba << "KK"_ba << true;
        QTest::newRow("echo with bytes around it") << "KK"_ba << "\x11KK\x13"_ba << true;
        QTest::newRow("same length, one byte differs") << "1000H1R"_ba << "1000H2R"_ba << false;
        QTest::newRow("XOFF between the echoed bytes") << "KK"_ba << "K\x13K"_ba << true;
        QTest::newRow("longer without the command") << "KK"_ba << "KxK"_ba << false;
        QTest::newRow("shorter") << "89F"_ba << "89"_ba << false;
    }
    void sendStringEcho() {
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, echo);
        QFETCH(bool, accepted);
        ScriptedFixture fx;
        fx.serial.open = true;
        fx.serial.answer = [echo](const QByteArray&) { return QList<Reply>{{5, echo}}; };
        QCOMPARE(fx.engine.ecr.SendString(sent), accepted);
        QCOMPARE(fx.serial.written, sent);
        QVERIFY(!fx.engine.ecr.replyTimerActive());
    }

    // "KK" on an open port: a 300 ms pause (2 + 300 = 302 gives three
    // slices), then the echo is taken as soon as all of it is there; without
    // one, the reply time-out of 3500 ms.
    void sendStringWaitsForTheEcho_data() {
        QTest::addColumn<int>("echoMs"); // -1: no echo
        QTest::addColumn<int>("elapsedMs");
        QTest::newRow("echo within the pause") << 20 << 300;
        QTest::newRow("echo after the pause") << 1234 << 1234;
        QTest::newRow("no echo") << -1 << 300 + 3500;
    }
    void sendStringWaitsForTheEcho() {
        QFETCH(int, echoMs);
        QFETCH(int, elapsedMs);
        ScriptedFixture fx;
        fx.serial.open = true;
        if (echoMs >= 0) {
            fx.echoAll(echoMs);
        }
        const auto start = fx.rt.nowUs();
        QCOMPARE(fx.engine.ecr.SendString("KK"), echoMs >= 0);
        QCOMPARE(fx.elapsedMs(start), std::int64_t(elapsedMs));
        QCOMPARE(fx.engine.link.ReplyBuffer, echoMs >= 0 ? "KK"_ba : QByteArray());
        QVERIFY(!fx.engine.ecr.replyTimerActive());
    }

    // A closed port is a fault traced in SendString's own words, and no echo.
    void sendStringOnAClosedPort() {
        ScriptedFixture fx;
        QVERIFY(!fx.engine.ecr.SendString("KK"));
        QVERIFY(fx.traceText().contains(" <-- Error 8018 (Operazione valida solo con la porta aperta) "
                                        "in procedure SendString of Modulo Module1"));
        QVERIFY(fx.ui.boxes.isEmpty());
    }

    void traceLinesOfASend() {
        ScriptedFixture fx;
        fx.serial.open = true;
        fx.echoAll();
        QVERIFY(fx.engine.ecr.SendString("KK"));
        const QList<QByteArray> lines = fx.traceText().split('\n');
        QCOMPARE(lines.size(), 3); // two lines and the end
        QVERIFY(lines[0].endsWith(" <-->  --> KK\r"));
        QVERIFY(lines[1].endsWith(" <-->  <-- KK , 2\r"));
        // UTC stamp with milliseconds: the virtual clock starts 06/12/2026 09:15 local.
        const QByteArray stamp = fx.rt.currentDateTime().toUTC().toString(u"yyyyMMdd_"_s).toLatin1();
        QVERIFY(lines[0].startsWith(stamp));
        QCOMPARE(lines[0].indexOf('.'), 15);
    }

    // The reply timer counts ReplyExtraTicks down and raises ReplyTimedOut on
    // the tick that finds or leaves it at 0.
    void replyTimerExtraTicks() {
        ScriptedFixture fx;
        LinkState& l = fx.engine.link;
        l.ReplyTimedOut = false;
        l.ReplyExtraTicks = 2;
        fx.engine.ecr.startReplyTimer(1000);
        fx.rt.sleepServing(1500);
        QVERIFY(!l.ReplyTimedOut);
        QCOMPARE(int(l.ReplyExtraTicks), 1);
        fx.rt.sleepServing(500); // the second tick brings it to 0
        QVERIFY(l.ReplyTimedOut);
        fx.engine.ecr.stopReplyTimer();
    }

    void openComPort_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("configured");
        QTest::newRow("COM1") << 1 << true;
        QTest::newRow("COM4") << 4 << true;
        QTest::newRow("COM0 rejected") << 0 << false;
        QTest::newRow("COM9 rejected") << 9 << false;
    }
    void openComPort() {
        QFETCH(int, port);
        QFETCH(bool, configured);
        ScriptedFixture fx;
        fx.engine.link.BaudRate = 19200;
        QCOMPARE(fx.engine.ecr.OpenComPort(std::int16_t(port)), configured);
        QVERIFY(!fx.serial.open); // configured, not opened
        if (configured) {
            QCOMPARE(fx.serial.settings(), u"19200,N,8,1"_s);
        }
    }

    void openAndCloseSerialPort() {
        ScriptedFixture fx;
        fx.engine.job.iCurrentCom = 3;
        fx.engine.ecr.OpenSerialPort();
        QVERIFY(fx.serial.open);
        QCOMPARE(fx.serial.port, 3);
        fx.engine.ecr.OpenSerialPort(); // already open: nothing happens, no message
        fx.engine.ecr.CloseSerialPort();
        QVERIFY(!fx.serial.open);
        fx.engine.job.iCurrentCom = 7; // a port the control refuses: silently not opened
        fx.engine.ecr.OpenSerialPort();
        QVERIFY(!fx.serial.open);
        QVERIFY(fx.ui.boxes.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestEcrDialogue)
#include "tst_ecrdialogue.moc"
