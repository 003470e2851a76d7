// The serial half of the link in virtual time: the cooperative pause, the
// reply timer, SendString's echo check, and setting up the port.

#include "ScriptedFixture.h"

using namespace velmar;
using namespace velmar::test;

class TestSerialTransport : public QObject {
    Q_OBJECT

private slots:
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
        QTest::newRow("exact echo") << QByteArray("KK") << QByteArray("KK") << true;
        QTest::newRow("echo with bytes around it") << QByteArray("KK") << QByteArray("\x11KK\x13") << true;
        QTest::newRow("same length, one byte differs") << QByteArray("1000H1R") << QByteArray("1000H2R") << false;
        QTest::newRow("longer without the command") << QByteArray("KK") << QByteArray("K\x13K") << false;
        QTest::newRow("shorter") << QByteArray("89F") << QByteArray("89") << false;
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

    // "KK" with its echo: a 300 ms pause (2 + 300 = 302 gives three slices),
    // then the echo is taken as soon as it is complete.
    void sendStringTiming() {
        ScriptedFixture fx;
        fx.serial.open = true;
        fx.echoAll(20);
        const auto start = fx.rt.nowUs();
        QVERIFY(fx.engine.ecr.SendString("KK"));
        QCOMPARE(fx.elapsedMs(start), std::int64_t(300));
        QCOMPARE(fx.engine.link.ReplyBuffer, QByteArray("KK"));
    }

    // Echo arriving after the pause: taken as soon as all of it is there.
    void sendStringTakesALateEchoAtOnce() {
        ScriptedFixture fx;
        fx.serial.open = true;
        fx.echoAll(1234);
        const auto start = fx.rt.nowUs();
        QVERIFY(fx.engine.ecr.SendString("KK"));
        QCOMPARE(fx.elapsedMs(start), std::int64_t(1234));
    }

    void sendStringWithoutEcho() {
        ScriptedFixture fx;
        fx.serial.open = true;
        const auto start = fx.rt.nowUs();
        QVERIFY(!fx.engine.ecr.SendString("KK"));
        QCOMPARE(fx.elapsedMs(start), std::int64_t(300 + 3500));
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
        const QByteArray stamp = fx.rt.currentDateTime().toUTC().toString(QStringLiteral("yyyyMMdd_")).toLatin1();
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
            QCOMPARE(fx.serial.settings(), QStringLiteral("19200,N,8,1"));
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

QTEST_GUILESS_MAIN(TestSerialTransport)
#include "tst_serialtransport.moc"
