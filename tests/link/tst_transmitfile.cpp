// TransmitFile's result codes and what each leaves behind, in virtual time.

#include "ScriptedFixture.h"

#include <QDir>
#include <QFileInfo>

using namespace velmar;
using namespace velmar::test;

namespace {

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

class TestTransmitFile : public QObject {
    Q_OBJECT

private slots:
    void printed() {
        Job j;
        j.receipt("PLUD,:PANE,P150,N1;\r\nCASH;\r\n");
        QCOMPARE(j.engine.ecr.TransmitFile(), std::int16_t(0));
        QCOMPARE(j.serial.written, QByteArray("KK\"PANE\"150H1R1T"));
        QVERIFY(!j.serial.open); // opened and closed once for the job
        QVERIFY(!j.engine.link.TransmitBusy);
        QCOMPARE(j.serial.settings(), QStringLiteral("9600,N,8,1"));
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
        j.receipt("SALE,N1,P100;\r\n");
        QCOMPARE(j.engine.ecr.TransmitFile(), std::int16_t(0));
        j.serial.written.clear();
        j.receipt("");
        const auto start = j.rt.nowUs();
        QCOMPARE(j.engine.ecr.TransmitFile(), std::int16_t(-11));
        QCOMPARE(j.elapsedMs(start), std::int64_t(200));
        QVERIFY(j.serial.written.isEmpty());
        QVERIFY(!j.engine.link.TransmitBusy);
    }

    void refusedReceiptIsNotRetried() {
        Job j;
        j.receipt("SALE,N1,P100;\r\nBOGUS;\r\n");
        const auto start = j.rt.nowUs();
        QCOMPARE(j.engine.ecr.TransmitFile(), std::int16_t(-11));
        QCOMPARE(j.elapsedMs(start), std::int64_t(0));
        QVERIFY(j.serial.written.isEmpty());
        QVERIFY(!j.engine.link.TransmitBusy);
    }

    void portNotAvailable() {
        Job j;
        j.engine.job.iCurrentCom = 9;
        j.receipt("SALE,N1,P100;\r\n");
        QCOMPARE(j.engine.ecr.TransmitFile(), std::int16_t(-12));
        QVERIFY(j.serial.written.isEmpty());
        QVERIFY(!j.engine.link.TransmitBusy);
    }

    // The reset string unanswered: no dialogue, the port closed again.
    void resetNotAnswered() {
        Job j;
        j.serial.answer = nullptr;
        j.receipt("SALE,N1,P100;\r\n");
        const auto start = j.rt.nowUs();
        QCOMPARE(j.engine.ecr.TransmitFile(), std::int16_t(-4));
        QCOMPARE(j.serial.written, QByteArray("KK"));
        QCOMPARE(j.elapsedMs(start), std::int64_t(300 + 3500));
        QVERIFY(!j.serial.open);
    }

    // A line the register does not answer: -4 after a 2 s settling pause.
    void dialogueFails() {
        Job j;
        j.serial.answer = [](const QByteArray& w) {
            return w == "R" ? QList<Reply>{} : QList<Reply>{{1, w}};
        };
        j.receipt("SALE,N1,P100;\r\nCASH;\r\n");
        const auto start = j.rt.nowUs();
        QCOMPARE(j.engine.ecr.TransmitFile(), std::int16_t(-4));
        // KK and its pause, five answered characters of 100H1R, R's 3 s, 2 s to settle.
        QCOMPARE(j.elapsedMs(start), std::int64_t(300 + 5 + 3000 + 2000));
        QVERIFY(!j.serial.open);
    }

    // The test print: the receipt file goes out unchanged, once.
    void rawFileMode_data() {
        QTest::addColumn<bool>("answering");
        QTest::addColumn<int>("result");
        QTest::newRow("printed") << true << 0;
        QTest::newRow("dialogue failed") << false << -4;
    }
    void rawFileMode() {
        QFETCH(bool, answering);
        QFETCH(int, result);
        Job j;
        if (!answering) {
            j.serial.answer = [](const QByteArray& w) {
                return w == "T" ? QList<Reply>{} : QList<Reply>{{1, w}};
            };
        }
        j.receipt("K\"PROVA\"10H1R0M10H1R1T\r\n");
        j.engine.link.RawFileMode = true;
        j.engine.link.TotalLinesLeft = 1;
        QCOMPARE(int(j.engine.ecr.TransmitFile()), result);
        QVERIFY(!QFileInfo::exists(j.path("XON.txt"))); // never converted
        QVERIFY(j.serial.written.startsWith("KKK\"PROVA\"10H1R0M10H1R1"));
        QVERIFY(!j.engine.link.RawFileMode);
    }

    // Resetting the register fails: the test print's file is not kept for the
    // next job, which must be translated.
    void rawFileModeEndsWithTheJobEvenWithoutADialogue() {
        Job j;
        j.serial.answer = nullptr;
        j.receipt("K\"PROVA\"10H1R0M10H1R1T\r\n");
        j.engine.link.RawFileMode = true;
        QCOMPARE(j.engine.ecr.TransmitFile(), std::int16_t(-4));
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
        QFile out(j.path("SR_OUT.001"));
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), QByteArray("TIME,CASS. 1 09:15 CASSA   1 ,E,A1;\r\n"
                                           "DATE,06/12/26  SCONTR. N.0007 ,E,A1;\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestTransmitFile)
#include "tst_transmitfile.moc"
