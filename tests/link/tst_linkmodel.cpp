// Whole jobs and dumps against the register model, every family, serial and
// TCP, with faults: what the register printed, what the host gets, and that
// every wait ends within its bound.

#include "ModelFixture.h"

#include "ident/WorkstationId.h"

#include <QJsonArray>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kReceipt = "PLUD,:PANE,P150,Q2,N1;\r\n"
                            "PLUD,:LATTE,P1.20,N2;\r\n"
                            "DISC,%10;\r\n"
                            "CHEQ,V200;\r\n"
                            "CASH;\r\n";

QByteArray infoLines(const QByteArray& time, const QByteArray& date, int number, bool blank = true) {
    const QByteArray n = QByteArray::number(number).rightJustified(4, '0');
    return "TIME,CASS. 1 " + time + " CASSA   1 ,E,A1;\r\nDATE," + date + "  SCONTR. N." + n +
           (blank ? " ,E,A1;\r\n" : ",E,A1;\r\n");
}

} // namespace

class TestLinkModel : public QObject {
    Q_OBJECT

private slots:
    void printsInEveryFamily_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<bool>("tcp");
        for (int family = 0; family <= 6; ++family) {
            QTest::addRow("family %d serial", family) << family << false;
            QTest::addRow("family %d tcp", family) << family << true;
        }
    }
    void printsInEveryFamily() {
        QFETCH(int, family);
        QFETCH(bool, tcp);
        ModelFixture fx(family, tcp);
        // Over serial, family 1 closes with function key 1 and is then asked for
        // its footer; over TCP the footer answers the last payment line.
        const QByteArray receipt = family == 1 && !tcp ? kReceipt + "FUNC,N1;\r\n" : kReceipt;
        QCOMPARE(fx.job(receipt), std::int16_t(0));
        fx.rt.sleepServing(6000); // lets a footer's acknowledgement settle

        const QList<QJsonObject> receipts = fx.documents("receipt");
        QCOMPARE(receipts.size(), 1);
        const QJsonObject r = receipts.first();
        QCOMPARE(r.value(u"total"_s).toInt(), 300 + 120 - 12);
        QCOMPARE(r.value(u"items"_s).toArray().size(), 2);
        QCOMPARE(r.value(u"payments"_s).toArray().size(), 2);
        QCOMPARE(r.value(u"change"_s).toInt(), 0);
        QVERIFY(fx.documents("refused").isEmpty());
        QVERIFY(!fx.serial.portOpen());
        QVERIFY(!fx.engine.link.TransmitBusy);

        // SR_OUT: time, date and number where the family tells them.
        const int number = r.value(u"number"_s).toInt();
        const QByteArray expected =
            (family == 1 || family == 5 || (family == 6 && !tcp))
                ? infoLines("09:15", "06/12/26", number)
            : (family == 3 && !tcp)
                ? infoLines(fx.rt.currentDateTime().toString(u"HH:mm"_s).toLatin1(),
                            fx.rt.currentDateTime().toString(u"dd/MM/yyyy"_s).toLatin1(),
                            number, false)
                : QByteArray();
        QCOMPARE(fx.read("SR_OUT.001"), expected);
        if ((family == 5 || family == 6) && !tcp) {
            QVERIFY(r.value(u"ack"_s).toBool());
        }
    }

    // A register that stops answering mid-receipt: -4 within the bound, the
    // port closed, nothing reported printed.
    void registerFaults_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("atMostSeconds");
        QTest::newRow("no echo") << u"no-echo@3"_s << -4 << 10;
        QTest::newRow("wrong echo") << u"wrong-echo@3"_s << 0 << 10; // per character: any answer counts
        QTest::newRow("refused command") << u"refuse@3"_s << -4 << 10;
        // Each byte of the command answered 0.8 s late: slow, but every answer comes.
        QTest::newRow("late echo within 3 s") << u"late-echo:800@3"_s << 0 << 20;
        QTest::newRow("late echo beyond 3 s") << u"late-echo:4000@3"_s << -4 << 10;
        QTest::newRow("XOFF without XON") << u"xoff-stall@3"_s << -4 << 30;
        QTest::newRow("line goes dead") << u"drop@2"_s << -4 << 10;
        QTest::newRow("garbage instead of echo") << u"garble@3"_s << 0 << 10;
    }
    void registerFaults() {
        QFETCH(QString, fault);
        QFETCH(int, result);
        QFETCH(int, atMostSeconds);
        ModelFixture fx(0, false, {fault});
        const auto start = fx.rt.nowUs();
        QCOMPARE(int(fx.job(kReceipt)), result);
        QVERIFY2((fx.rt.nowUs() - start) / 1000000 <= atMostSeconds,
                 qPrintable(QString::number((fx.rt.nowUs() - start) / 1000)));
        QVERIFY(!fx.serial.portOpen());
        QCOMPARE(fx.documents("receipt").size(), result == 0 ? 1 : 0);
    }

    // A register whose printer cannot keep up holds the driver back with
    // XOFF, over and over: the receipt prints whole, once, in every family.
    void slowPrinter_data() {
        QTest::addColumn<int>("family");
        for (int family : {0, 5, 6}) {
            QTest::addRow("family %d", family) << family;
        }
    }
    void slowPrinter() {
        QFETCH(int, family);
        ModelFixture fx(family, false, {}, [](sim::RegisterConfig& c) {
            c.bufferSize = 40;
            c.printBytesPerSecond = 30;
        });
        QCOMPARE(fx.job(kReceipt), std::int16_t(0));
        fx.rt.sleepServing(6000);
        QCOMPARE(fx.documents("receipt").size(), 1);
        QVERIFY(fx.documents("refused").isEmpty()); // no byte lost to a full buffer
        QVERIFY(fx.serial.written.size() > 40);     // more than the buffer holds
    }

    // A non-fiscal document cut short is closed before the host is told: the
    // next receipt is not refused by the document left open.
    void nonFiscalCutShort() {
        ModelFixture fx(0, false, {u"no-echo@5"_s}); // KK 1-2, j 3, the first line 4
        const QByteArray text = "OPNF;\r\nPRNT,:Riga uno;\r\nPRNT,:Riga due;\r\nCLNF;\r\n";
        QCOMPARE(fx.job(text), std::int16_t(-4));
        QCOMPARE(fx.job(kReceipt), std::int16_t(0));
        QCOMPARE(fx.documents("receipt").size(), 1);
    }

    // The register's answer to the last payment comes in two TCP segments:
    // read on to its end, the receipt printed, its time and number in SR_OUT.
    void splitAnswerOverTcp() {
        ModelFixture fx(5, true, {u"split@7"_s}); // KK 1-2, three lines, CHEQ 6, CASH 7
        QCOMPARE(fx.job(kReceipt), std::int16_t(0));
        QVERIFY(fx.engine.link.ClosingAnswerSeen);
        QCOMPARE(fx.read("SR_OUT.001"), infoLines("09:15", "06/12/26", 1));
        QCOMPARE(fx.documents("receipt").size(), 1);
    }

    // After a failed job the receipt may stay open on the register; the
    // operator's cancel voids it, and the host's resend prints it once.
    void cancelAfterAFailedJobThenResend() {
        ModelFixture fx(0, false, {u"no-echo@4"_s});
        QCOMPARE(fx.job(kReceipt), std::int16_t(-4));
        fx.engine.panel.AnnullaSco.click();
        fx.engine.ecr.CloseSerialPort();
        QCOMPARE(fx.documents("void").size(), 1);
        QCOMPARE(fx.job(kReceipt), std::int16_t(0));
        QCOMPARE(fx.documents("receipt").size(), 1);
    }

    // TCP: the register closes the line at the first sale. Velmar connects
    // again and voids the receipt left open before it answers, so the resend
    // prints once, on a receipt of its own.
    void tcpLineDropsThenRecovers() {
        ModelFixture fx(5, true, {u"drop@3"_s});
        QCOMPARE(fx.job(kReceipt), std::int16_t(-4));
        QVERIFY(fx.engine.link.ReceiptVoided);
        QVERIFY(fx.rt.nowUs() / 1000000 < 30);
        QCOMPARE(fx.job(kReceipt), std::int16_t(0));
        const QList<QJsonObject> receipts = fx.documents("receipt");
        QCOMPARE(receipts.size(), 1);
        QCOMPARE(receipts.first().value(u"items"_s).toArray().size(), 2);
    }

    // The configuration dump in every family over both links.
    void dumpInEveryFamily_data() { printsInEveryFamily_data(); }
    void dumpInEveryFamily() {
        QFETCH(int, family);
        QFETCH(bool, tcp);
        ModelFixture fx(family, tcp);
        fx.engine.panel.Check1.setValue(1);
        fx.engine.dump.RunDumpRequest(1);
        // Family 6 tells its number on 89F, over TCP too (its answer is awaited).
        const QByteArray number = family == 6 ? "99MEX012"_ba : workstationIdentifier();
        QVERIFY(fx.read("SR_MATR.001").startsWith(number + "\r\nStato: RT\r\n"));
        QVERIFY(!fx.engine.job.bDumpInProgress);
        QVERIFY(!fx.engine.job.bDumpConf[1]);
    }

    // A dump to a register that is switched off.
    void dumpWithoutARegister() {
        ModelFixture fx(0, false, {u"drop@1"_s});
        const auto start = fx.rt.nowUs();
        fx.engine.dump.RunDumpRequest(1);
        QVERIFY(!QFile::exists(fx.path("SR_MATR.001")));
        QVERIFY(!fx.engine.job.bDumpInProgress);
        QCOMPARE((fx.rt.nowUs() - start) / 1000, std::int64_t(300 + 3500));
    }
};

QTEST_GUILESS_MAIN(TestLinkModel)
#include "tst_linkmodel.moc"
