// The TCP half of the link in virtual time: the one-chunk receiver, the
// sends that wait for the answer to the last payment line, reconnecting, and
// the bounded outcomes Velmar chose where a register gives no answer to wait for.

#include "ScriptedFixture.h"

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

// Connected to a register at 10.0.0.5 with family `family`.
void connectRegister(ScriptedFixture& fx, int family = 0) {
    fx.networkMode();
    fx.engine.panel.cboAddedFunctions.setListIndex(family);
    fx.engine.panel.TxtRemoteIP.setText(u"10.0.0.5"_s);
    fx.engine.ecr.ConnectSocket(false);
    fx.rt.sleepServing(10);
    QCOMPARE(fx.socket.state(), int(SocketControl::Connected));
}

QList<Reply> footerOnPayment(const QByteArray& w) {
    if (w.endsWith('T')) {
        return {{50, "\x02"
                     "06/12/2026 09-15 0042 A1\x03"}};
    }
    return {};
}

} // namespace

class TestTcpTransport : public QObject {
    Q_OBJECT

private slots:
    void connectingLightsTheLampAndTraces() {
        ScriptedFixture fx;
        QCOMPARE(fx.engine.panel.ShapeConn.fillColor(), LampControl::kRed);
        connectRegister(fx);
        QCOMPARE(fx.engine.panel.ShapeConn.fillColor(), LampControl::kGreen);
        QCOMPARE(fx.engine.panel.ShapeConn.backColor(), LampControl::kGreen);
        QVERIFY(fx.traceText().contains(" <-->  -> Connection OK\r\n"));
        QVERIFY(fx.engine.ecr.CloseSocketConnection());
        QCOMPARE(fx.engine.panel.ShapeConn.fillColor(), LampControl::kRed);
    }

    // An empty port is filled by family before connecting.
    void emptyPortIsFilledByFamily_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<int>("port");
        QTest::newRow("family 5") << 5 << 6660;
        QTest::newRow("family 1") << 1 << 9100;
        QTest::newRow("family 0") << 0 << 9100;
    }
    void emptyPortIsFilledByFamily() {
        QFETCH(int, family);
        QFETCH(int, port);
        ScriptedFixture fx;
        fx.engine.panel.TcpPort.setText(QString());
        connectRegister(fx, family);
        QCOMPARE(fx.engine.panel.TcpPort.text(), QString::number(port));
        QCOMPARE(fx.socket.remotePort, port);
    }

    void noAddressNoConnection() {
        ScriptedFixture fx;
        fx.networkMode();
        fx.engine.ecr.ConnectSocket(false);
        fx.rt.sleepServing(10);
        QCOMPARE(fx.socket.connects, 0);
    }

    // One armed wait sees exactly one chunk.
    void secondChunkOfAWaitIsDiscarded() {
        ScriptedFixture fx;
        connectRegister(fx);
        fx.engine.ecr.WSResetReceive();
        fx.socket.arrive("first");
        fx.socket.arrive("second");
        QCOMPARE(fx.engine.link.SocketRxBuffer, "first"_ba);
        QVERIFY(fx.engine.link.SocketRxReady);
        QVERIFY(!fx.engine.link.SocketRxArmed);
    }

    // Two payment lines: the first returns at once, the last waits for the answer.
    void onlyTheLastPaymentLineWaits() {
        ScriptedFixture fx;
        connectRegister(fx);
        fx.socket.answer = footerOnPayment;
        fx.engine.link.TotalLinesLeft = 2;
        auto start = fx.rt.nowUs();
        QVERIFY(fx.engine.ecr.SendStringWinsock("500H2T"));
        QCOMPARE(fx.elapsedMs(start), std::int64_t(0));
        QVERIFY(fx.engine.link.ReplyBuffer.isEmpty());
        start = fx.rt.nowUs();
        QVERIFY(fx.engine.ecr.SendStringWinsock("500H1T"));
        QCOMPARE(fx.elapsedMs(start), std::int64_t(50));
        QVERIFY(fx.engine.link.ReplyBuffer.startsWith('\x02'));
        QCOMPARE(int(fx.engine.link.TotalLinesLeft), 0);
    }

    // No answer: three waits of the reply time-out with 500 ms pauses, then false.
    void unansweredLastPaymentLine() {
        ScriptedFixture fx;
        connectRegister(fx);
        fx.engine.link.TotalLinesLeft = 1;
        fx.engine.link.SocketReplyTimeoutMs = 3500;
        const auto start = fx.rt.nowUs();
        QVERIFY(!fx.engine.ecr.SendStringWinsock("1T"));
        QCOMPARE(fx.elapsedMs(start), std::int64_t(3 * (3500 + 500)));
        QCOMPARE(fx.socket.written, "1T"_ba); // sent once, never resent
    }

    // A line that is not a payment goes out once, without waiting (7 ms
    // rounds to no pause). Outside family 5 this is Velmar's own bounded
    // choice.
    void linesThatDoNotWait_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("linesLeft");
        QTest::addColumn<int>("elapsedMs");
        QTest::newRow("family 5, not a payment") << 5 << "1000H1R"_ba << 0 << 0;
        QTest::newRow("not a payment: accepted once taken") << 2 << "1000H1R"_ba << 1 << 0;
        QTest::newRow("text ending in T: not a payment") << 2 << "\"PAGAT\""_ba << 1 << 0;
        QTest::newRow("payment beyond the count waits like the last") << 2 << "1T"_ba << 0 << 50;
    }
    void linesThatDoNotWait() {
        QFETCH(int, family);
        QFETCH(QByteArray, line);
        QFETCH(int, linesLeft);
        QFETCH(int, elapsedMs);
        ScriptedFixture fx;
        connectRegister(fx, family);
        fx.socket.answer = footerOnPayment;
        fx.engine.link.TotalLinesLeft = std::int16_t(linesLeft);
        const auto start = fx.rt.nowUs();
        QVERIFY(fx.engine.ecr.SendStringWinsock(line));
        QCOMPARE(fx.elapsedMs(start), std::int64_t(elapsedMs));
        QCOMPARE(fx.socket.written, line);
    }

    // A refused connection during the wait ends it; the link reconnects.
    void refusedDuringTheWait() {
        ScriptedFixture fx;
        connectRegister(fx);
        fx.engine.link.TotalLinesLeft = 1;
        fx.socket.failLater(1000, 10061);
        const auto start = fx.rt.nowUs();
        QVERIFY(!fx.engine.ecr.SendStringWinsock("1T"));
        QVERIFY(fx.elapsedMs(start) < 3500);
        QVERIFY(fx.engine.link.SocketLost);
        QVERIFY(!fx.engine.link.SocketError);
        QCOMPARE(fx.socket.connects, 2); // the reset action connected again
        fx.rt.sleepServing(10);
        QCOMPARE(fx.socket.state(), int(SocketControl::Connected));
        QCOMPARE(fx.engine.panel.cmdResetConn.caption(), u"Reset Connessione"_s);
    }

    // Another error shows its numbers in the status field and the trace.
    void otherSocketErrorsAreShown() {
        ScriptedFixture fx;
        connectRegister(fx);
        fx.socket.failLater(5, 11001);
        fx.rt.sleepServing(10);
        QCOMPARE(fx.engine.panel.Text2.text(), u"WS_Error n.11001 - errore - 11001"_s);
        QVERIFY(fx.engine.link.SocketError);
        QVERIFY(!fx.engine.link.SocketLost);
        QVERIFY(fx.traceText().contains(" -> WS_Error n.11001 - errore - 11001"));
        QCOMPARE(fx.socket.state(), int(SocketControl::Closed));
    }

    // SendString over TCP: the reset string is accepted once sent; the last
    // payment line waits once; a payment after the last is refused.
    void sendStringTcp_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("linesLeft");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("elapsedMs");
        QTest::newRow("reset string") << "KK"_ba << 0 << false << true << 0;
        QTest::newRow("last payment, answered") << "1T"_ba << 1 << true << true << 50;
        QTest::newRow("last payment, no answer") << "1T"_ba << 1 << false << false << 3500 + 300;
        QTest::newRow("not the last payment") << "1T"_ba << 2 << true << true << 0;
        QTest::newRow("payment after the last") << "1T"_ba << 0 << true << false << 0;
    }
    void sendStringTcp() {
        QFETCH(QByteArray, line);
        QFETCH(int, linesLeft);
        QFETCH(bool, answered);
        QFETCH(bool, accepted);
        QFETCH(int, elapsedMs);
        ScriptedFixture fx;
        connectRegister(fx);
        if (answered) {
            fx.socket.answer = footerOnPayment;
        }
        fx.engine.link.TotalLinesLeft = std::int16_t(linesLeft);
        const auto start = fx.rt.nowUs();
        QCOMPARE(fx.engine.ecr.SendString(line), accepted);
        QCOMPARE(fx.elapsedMs(start), std::int64_t(elapsedMs));
        QCOMPARE(fx.socket.written, line);
        QVERIFY(!fx.engine.ecr.replyTimerActive());
    }

    // Not connected: the fault is shown, the link reconnects within 3 s and
    // sends; never reports a line it did not send.
    void sendStringReconnectsWhenNotConnected() {
        ScriptedFixture fx;
        fx.networkMode();
        fx.engine.panel.TxtRemoteIP.setText(u"10.0.0.5"_s);
        QVERIFY(fx.engine.ecr.SendString("KK"));
        QCOMPARE(fx.socket.written, "KK"_ba);
        QCOMPARE(fx.ui.texts(),
                 QStringList{QStringLiteral(
                     "Error 40006 (Protocollo o stato della connessione non validi per la "
                     "richiesta) in procedure SendString of Modulo Module1")});
    }

    void sendStringGivesUpWhenTheRegisterRefuses() {
        ScriptedFixture fx;
        fx.networkMode();
        fx.engine.panel.TxtRemoteIP.setText(u"10.0.0.5"_s);
        fx.socket.refuse = true;
        const auto start = fx.rt.nowUs();
        QVERIFY(!fx.engine.ecr.SendString("KK"));
        QVERIFY(fx.socket.written.isEmpty());
        QVERIFY(fx.elapsedMs(start) < 60000); // bounded, whatever the recovery does
    }

    void resetRestartGivesUpAfterItsLimit() {
        ScriptedFixture fx;
        fx.networkMode();
        fx.socket.refuse = true; // and no address: nothing ever connects
        const auto start = fx.rt.nowUs();
        QVERIFY(!fx.engine.ecr.ResetReStartConnection(3));
        QCOMPARE(fx.elapsedMs(start), std::int64_t(4000));
    }

    // The reset action clears a dump left pending by an unanswered reset.
    void resetConnectionClearsAPendingDump() {
        ScriptedFixture fx;
        connectRegister(fx);
        fx.engine.job.bDumpInProgress = true;
        fx.engine.panel.cmdResetConn.click();
        QVERIFY(!fx.engine.job.bDumpInProgress);
        QCOMPARE(fx.engine.panel.cmdResetConn.caption(), u"Reset Connessione"_s);
        QCOMPARE(fx.socket.state(), int(SocketControl::Connected));
    }

    void isValidIp_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("valid");
        QTest::newRow("four fields") << u"192.168.1.20"_s << true;
        QTest::newRow("all 255") << u"255.255.255.255"_s << true;
        QTest::newRow("a field above 255") << u"192.168.1.256"_s << false;
        QTest::newRow("three fields") << u"192.168.1"_s << false;
        QTest::newRow("a text field") << u"192.168.x.1"_s << false;
        QTest::newRow("empty field") << u"192..1.1"_s << false;
        QTest::newRow("more fields are not examined") << u"1.2.3.4.anything"_s << true;
        QTest::newRow("empty") << QString() << false;
    }
    void isValidIp() {
        QFETCH(QString, address);
        QFETCH(bool, valid);
        QCOMPARE(EcrLink::IsValidIp(address), valid);
    }

    void validateButtonShowsTheVerdictThenItsCaption() {
        ScriptedFixture fx;
        QStringList captions;
        QObject::connect(&fx.engine.panel.cmdValidateIP, &ButtonControl::captionChanged,
                         [&captions](const QString& c) { captions << c; });
        fx.engine.panel.TxtRemoteIP.setText(u"10.0.0.300"_s);
        const auto start = fx.rt.nowUs();
        fx.engine.panel.cmdValidateIP.click();
        QCOMPARE(captions, (QStringList{u"IP non Valido"_s, u"Valida IP"_s}));
        QCOMPARE(fx.elapsedMs(start), std::int64_t(2000));
    }
};

QTEST_GUILESS_MAIN(TestTcpTransport)
#include "tst_tcptransport.moc"
