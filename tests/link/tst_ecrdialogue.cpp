// The dialogue in virtual time against a scripted register: per-character
// answers, XON/XOFF, the closing phase of each family and the TIME/DATE lines
// of SR_OUT.

#include "ScriptedFixture.h"

#include <QDir>

using namespace velmar;
using namespace velmar::test;

namespace {

const QByteArray kFooter = "\x02" "06/12/2026 09-15 0042A1\x03";    // families 1, 5: 25 bytes
const QByteArray kFooter6 = "\x02" "06/12/2026 09-15 RT 0042A1\x03"; // family 6: 28 bytes
const QByteArray kTime = "TIME,CASS. 1 09:15 CASSA   1 ,E,A1;\r\n";
const QByteArray kDate = "DATE,06/12/26  SCONTR. N.0042 ,E,A1;\r\n";

struct Dialogue : ScriptedFixture {
    explicit Dialogue(int family) {
        engine.panel.cboAddedFunctions.setListIndex(family);
        engine.job.OutputFilePath = QDir(dir.path()).filePath(QStringLiteral("SR_OUT.001"));
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
        QFile f(QDir(dir.path()).filePath(QStringLiteral("XON.txt")));
        f.open(QIODevice::WriteOnly);
        f.write(xon);
        f.close();
        return engine.ecr.RunEcrDialogue(f.fileName());
    }
    QByteArray srOut() const {
        QFile f(engine.job.OutputFilePath);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    std::function<QList<Reply>(const QByteArray&)> extra;
};

} // namespace

class TestEcrDialogue : public QObject {
    Q_OBJECT

private slots:
    void everyCharacterWaitsForItsAnswer() {
        Dialogue d(0);
        const auto start = d.rt.nowUs();
        QVERIFY(d.engine.ecr.SendStringByChar("1T"));
        QCOMPARE(d.serial.written, QByteArray("1T"));
        QCOMPARE(d.elapsedMs(start), std::int64_t(2)); // two round trips of 1 ms
        QVERIFY(d.traceText().contains(" --> 1\r\n"));
        QVERIFY(d.traceText().contains(" <-- T , 1\r\n"));
    }

    void unansweredCharacterFailsAfter3s() {
        Dialogue d(0);
        d.serial.answer = nullptr;
        const auto start = d.rt.nowUs();
        QVERIFY(!d.engine.ecr.SendStringByChar("KK"));
        QCOMPARE(d.serial.written, QByteArray("K")); // the second is never sent
        QCOMPARE(d.elapsedMs(start), std::int64_t(3000));
    }

    // XOFF: a full second of listening; an XON in that second lets the next
    // character go at once.
    void xoffThenXonWithinASecond() {
        Dialogue d(0);
        d.extra = [](const QByteArray& w) {
            return w == "1" ? QList<Reply>{{2, "\x13"}, {400, "\x11"}} : QList<Reply>{};
        };
        const auto start = d.rt.nowUs();
        QVERIFY(d.engine.ecr.SendStringByChar("1T"));
        QCOMPARE(d.elapsedMs(start), std::int64_t(1 + 1000 + 1));
    }

    // XOFF (it lands in the next character's answer) and the XON 5 s after
    // the first write: answered when it comes.
    void xoffThenLateXon() {
        Dialogue d(0);
        d.extra = [](const QByteArray& w) {
            return w == "1" ? QList<Reply>{{2, "\x13"}, {5000, "\x11"}} : QList<Reply>{};
        };
        const auto start = d.rt.nowUs();
        QVERIFY(d.engine.ecr.SendStringByChar("1T"));
        QCOMPARE(d.elapsedMs(start), std::int64_t(5000));
    }

    // XOFF and never XON: 1 s + 20 s of waiting, 2 s more, then false.
    void xoffWithoutXon() {
        Dialogue d(0);
        d.extra = [](const QByteArray& w) {
            return w == "1" ? QList<Reply>{{1, "\x13"}} : QList<Reply>{};
        };
        const auto start = d.rt.nowUs();
        QVERIFY(!d.engine.ecr.SendStringByChar("1T"));
        QCOMPARE(d.elapsedMs(start), std::int64_t(1 + 1000 + 20000 + 2000));
        QCOMPARE(d.serial.written, QByteArray("1"));
    }

    // A single "K" has no closing phase: done as soon as it is answered.
    void singleClearLineHasNoClosingPhase() {
        Dialogue d(5);
        const auto start = d.rt.nowUs();
        QVERIFY(d.run("K\r\n"));
        QCOMPARE(d.elapsedMs(start), std::int64_t(1));
        QCOMPARE(d.srOut(), QByteArray());
    }

    void lastLineEndingInPercentHasNoClosingPhase() {
        Dialogue d(1);
        const auto start = d.rt.nowUs();
        QVERIFY(d.run("1000H1R\r\n\"CIAO\"1%\r\n"));
        QCOMPARE(d.elapsedMs(start), std::int64_t(15)); // 15 characters, 1 ms each
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
        QCOMPARE(d.serial.written, QByteArray("12T")); // the first line's T never sent; no ACK
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
        QTest::newRow("no answer") << QByteArray() << QByteArray("0000");
        QTest::newRow("answer") << QByteArray("89F\x02ID: 99MEX012345 N0117 06/12/2026 09:15\x03")
                                << QByteArray("0117");
        QTest::newRow("41 characters") << QByteArray("89F\x02ID: 99MEX012345 N0117 06/12/2026 09:1")
                                       << QByteArray("0000");
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
        QCOMPARE(d.srOut(), "TIME,CASS. 1 " + now.toString(QStringLiteral("HH:mm")).toLatin1() +
                                " CASSA   1 ,E,A1;\r\nDATE," +
                                now.toString(QStringLiteral("dd/MM/yyyy")).toLatin1() +
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
        d.engine.panel.TxtRemoteIP.setText(QStringLiteral("10.0.0.5"));
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
};

QTEST_GUILESS_MAIN(TestEcrDialogue)
#include "tst_ecrdialogue.moc"
