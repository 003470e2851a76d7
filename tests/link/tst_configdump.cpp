// The configuration dump and the operator's link actions, in virtual time.

#include "ScriptedFixture.h"

#include "ident/WorkstationId.h"

#include <QDir>
#include <QFileInfo>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

struct Dump : ScriptedFixture {
    Dump() {
        for (int ch = 1; ch <= 4; ++ch) {
            engine.panel.check(ch).setValue(1);
            engine.panel.portLamp(ch).setColor(LampControl::kGreen);
        }
        engine.job.bShowStatus = true;
        echoAll();
    }
    QString path(const char* name) const { return QDir(dir.path()).filePath(QLatin1String(name)); }
    QByteArray read(const char* name) const { return readFile(path(name), "<missing>"); }
    void write(const char* name, const QByteArray& bytes) const { writeFile(path(name), bytes); }
    // The register answers the first `answered` writes of "KK", then no more.
    void answerResetTimes(int answered) {
        serial.answer = [this, answered](const QByteArray& w) {
            if (w == "KK" && ++resets > answered) {
                return QList<Reply>{};
            }
            return QList<Reply>{{1, w}};
        };
    }
    int resets = 0;
};

const QByteArray kFailure = "Errore generico sull'Ecr, verificare sul manuale del registratore\r\n";

} // namespace

class TestConfigDump : public QObject {
    Q_OBJECT

private slots:
    // The register answers: SR_MATR with the workstation's number, and this
    // channel is the only one left in service.
    void successfulDump() {
        Dump d;
        d.write("SR_ERR.002", "old error\r\n");
        d.engine.dump.RunDumpRequest(2);
        const QByteArray id = workstationIdentifier();
        QCOMPARE(id.size(), 8);
        QCOMPARE(d.read("SR_MATR.002"),
                 id + "\r\nStato: RT\r\nDriverType: Xon-Xoff\r\nVersione: 2.0.0.2\r\nFW: \r\n");
        QCOMPARE(d.engine.panel.Text8.text(), QString::fromLatin1(id));
        QVERIFY(!QFileInfo::exists(d.path("SR_ERR.002")));
        OperatorPanel& p = d.engine.panel;
        for (int other : {1, 3, 4}) {
            QCOMPARE(p.check(other).value(), 0);
            QVERIFY(!p.check(other).enabled());
            QCOMPARE(p.portLamp(other).fillColor(), LampControl::kRed);
        }
        QCOMPARE(p.Check2.value(), 1);
        QVERIFY(!d.engine.job.bDumpConf[2]);
        QVERIFY(!d.engine.job.bDumpInProgress);
        QCOMPARE(int(d.engine.job.iSettleTicks), 1);
        QVERIFY(d.engine.Timer21->isActive());
        QCOMPARE(d.engine.Timer21->interval(), 1000);
        QVERIFY(!d.serial.open); // serial mode closes the port
        QCOMPARE(d.serial.written, "KKKK"_ba);
    }

    // Unticking the other channels runs their handlers: the window is back
    // in configuration mode, so no status texts are written.
    void statusTextsFollowTheMode() {
        Dump d;
        d.engine.dump.RunDumpRequest(1);
        QVERIFY(!d.engine.job.bShowStatus);
        QCOMPARE(d.engine.panel.Text4.text(), QString());
    }

    void registerRefusesTheDump() {
        Dump d;
        d.answerResetTimes(1); // the request's reset answered, the dump's not
        d.write("SR_START.003", "00000000\r\n");
        d.engine.job.iCurrentCom = 3;
        d.engine.panel.Check1.setValue(0); // the only channel left in service
        d.engine.panel.Check2.setValue(0);
        d.engine.panel.Check4.setValue(0);
        d.engine.panel.Check3.setValue(0);
        d.engine.panel.Check3.setValue(1); // service mode: status texts on
        d.engine.dump.RunDumpRequest(3);
        QCOMPARE(d.read("SR_ERR.003"), kFailure);
        QVERIFY(!QFileInfo::exists(d.path("SR_START.003")));
        QVERIFY(!QFileInfo::exists(d.path("FINESCO.003")));
        QVERIFY(!QFileInfo::exists(d.path("SR_MATR.003")));
        QVERIFY(d.engine.job.bDumpConf[3]);
        QCOMPARE(d.engine.panel.Text6.text(), u"-1 : DUMP NON ESEGUITO"_s);
    }

    // No answer to the request's reset: nothing written; the next scan tries
    // again in serial mode, network mode waits for a reset of the connection.
    void noAnswerToTheRequest_data() {
        QTest::addColumn<bool>("network");
        QTest::addColumn<bool>("stillPending");
        QTest::newRow("serial") << false << false;
        QTest::newRow("network") << true << true;
    }
    void noAnswerToTheRequest() {
        QFETCH(bool, network);
        QFETCH(bool, stillPending);
        Dump d;
        d.serial.answer = nullptr;
        if (network) {
            d.networkMode();
        }
        d.engine.dump.RunDumpRequest(1);
        QVERIFY(!QFileInfo::exists(d.path("SR_MATR.001")));
        QVERIFY(!QFileInfo::exists(d.path("SR_ERR.001")));
        QCOMPARE(d.engine.job.bDumpInProgress, stillPending);
    }

    // Family 6 asks for the registration number: the 8 characters after STX
    // and three more. Unanswered, the dump fails. An answer without the
    // number never replaces the one the settings know.
    void family6RegistrationNumber_data() {
        QTest::addColumn<QByteArray>("answer"); // empty: none
        QTest::addColumn<QString>("known");     // Text8 before the dump
        QTest::addColumn<QByteArray>("number");
        QTest::newRow("eleven after STX") << "89F\x02ID:99MEX012\x03"_ba << QString() << "99MEX012"_ba;
        QTest::newRow("five after STX") << "89F\x02ID:99"_ba << QString() << "99"_ba;
        QTest::newRow("no STX") << "89F"_ba << QString() << QByteArray();
        QTest::newRow("no STX, number known") << "89F"_ba << u"77ABC123"_s << "77ABC123"_ba;
        QTest::newRow("no answer") << QByteArray() << QString() << QByteArray();
    }
    void family6RegistrationNumber() {
        QFETCH(QByteArray, answer);
        QFETCH(QString, known);
        QFETCH(QByteArray, number);
        Dump d;
        d.engine.panel.Text8.setText(known);
        d.engine.panel.cboAddedFunctions.setListIndex(6);
        d.serial.answer = [answer](const QByteArray& w) {
            return w != "89F" ? QList<Reply>{{1, w}}
                   : answer.isEmpty() ? QList<Reply>{}
                                      : QList<Reply>{{1, answer}};
        };
        d.engine.dump.RunDumpRequest(1);
        if (answer.isEmpty()) {
            QCOMPARE(d.read("SR_MATR.001"), "<missing>"_ba);
            QCOMPARE(d.read("SR_ERR.001"), kFailure);
        } else {
            QVERIFY(d.read("SR_MATR.001").startsWith(number + "\r\nStato: RT\r\n"));
        }
    }

    // A registration number "0" shows the dump even with the window hidden.
    void numberZeroShowsStatus() {
        Dump d;
        d.engine.panel.cboAddedFunctions.setListIndex(6);
        d.serial.answer = [](const QByteArray& w) {
            return QList<Reply>{{1, w == "89F" ? "89F\x02ID:0"_ba : w}};
        };
        d.engine.dump.RunDumpRequest(1);
        QVERIFY(d.engine.job.bShowStatus);
        QCOMPARE(d.engine.panel.Text1.text(), u"0"_s);
        QCOMPARE(d.engine.panel.Text4.text(), u"DUMP ESEGUITO"_s);
    }

    // A job or the shut-down keeps dumps out; the serial port is closed anyway.
    void noDumpWhileBusy_data() {
        QTest::addColumn<int>("busy");
        QTest::newRow("job running") << 0;
        QTest::newRow("dump running") << 1;
        QTest::newRow("closing") << 2;
    }
    void noDumpWhileBusy() {
        QFETCH(int, busy);
        Dump d;
        bool& flag = busy == 0 ? d.engine.job.bJobRunning
                     : busy == 1 ? d.engine.job.bDumpInProgress
                                 : d.engine.job.bClosing;
        flag = true;
        d.serial.open = true;
        d.engine.dump.RunDumpRequest(1);
        QVERIFY(d.serial.written.isEmpty());
        QVERIFY(!d.serial.open);
        QVERIFY(!QFileInfo::exists(d.path("SR_MATR.001")));
    }

    // In network mode the channel's serial port is opened by the request and
    // left open after a successful dump.
    void networkDumpLeavesTheSerialPortOpen() {
        Dump d;
        d.networkMode();
        d.engine.panel.TxtRemoteIP.setText(u"10.0.0.5"_s);
        d.engine.ecr.ConnectSocket(false);
        d.rt.sleepServing(10);
        d.engine.dump.RunDumpRequest(1);
        QVERIFY(QFileInfo::exists(d.path("SR_MATR.001")));
        QVERIFY(d.serial.open);
        QCOMPARE(d.socket.written, "KKKK"_ba);
    }

    void showDumpStatus() {
        Dump d;
        d.engine.job.bDumpConf = {false, false, false, true, false};
        d.engine.panel.Check2.setValue(0);
        d.engine.job.bShowStatus = false;
        int shown = 0;
        QObject::connect(&d.engine.dump, &ConfigDump::showWindowRequested, [&shown] { ++shown; });
        d.engine.dump.ShowDumpStatus();
        OperatorPanel& p = d.engine.panel;
        QCOMPARE(p.Text4.text(), u"DUMP ESEGUITO"_s);
        QCOMPARE(p.Text5.text(), u"DUMP NON ESEGUITO"_s); // unticked
        QCOMPARE(p.Text6.text(), u"DUMP NON ESEGUITO"_s);
        QCOMPARE(p.Text7.text(), u"DUMP ESEGUITO"_s);
        QVERIFY(d.engine.job.bDumpConf[2]);
        QVERIFY(d.engine.job.bShowStatus);
        QCOMPARE(shown, 1);
    }

    // The last clicked tick decides the mode.
    void ticksSwitchModes() {
        Dump d;
        OperatorPanel& p = d.engine.panel;
        d.engine.panel.Check2.setValue(0);
        QVERIFY(!d.engine.Timer21->isActive());
        QVERIFY(p.Frame3.enabled() && p.Frame5.enabled() && p.Frame6.enabled() && p.Frame7.enabled());
        QVERIFY(!p.CMBFile.enabled() && !p.AnnullaSco.enabled());
        QVERIFY(p.m_Configura.enabled());
        QVERIFY(!d.engine.job.bShowStatus);
        d.engine.panel.Check2.setValue(1);
        QVERIFY(d.engine.Timer21->isActive());
        QVERIFY(!p.Frame3.enabled() && !p.Frame5.enabled() && !p.Frame6.enabled() && !p.Frame7.enabled());
        QVERIFY(p.CMBFile.enabled() && p.AnnullaSco.enabled());
        QVERIFY(!p.m_Configura.enabled());
        QVERIFY(d.engine.job.bShowStatus);
        d.engine.panel.Check3.setValue(0); // Check1 and Check2 stay ticked
        QVERIFY(!d.engine.Timer21->isActive());
    }

    void cancelReceiptOverSerial() {
        Dump d;
        d.engine.job.iCurrentCom = 2;
        d.engine.panel.AnnullaSco.click();
        QCOMPARE(d.serial.written, "Kk"_ba);
        QVERIFY(d.serial.open); // left open
        QCOMPARE(d.serial.port, 2);
    }

    void cancelWithoutAPortFreesTheWindow() {
        Dump d;
        d.engine.job.iCurrentCom = 9;
        d.engine.link.TransmitBusy = true;
        d.engine.panel.AnnullaSco.click();
        QVERIFY(d.serial.written.isEmpty());
        QVERIFY(!d.engine.link.TransmitBusy);
    }

    void cancelOverAClosedConnection() {
        Dump d;
        d.networkMode();
        d.engine.panel.TxtRemoteIP.setText(u"10.0.0.5"_s);
        d.engine.panel.AnnullaSco.click();
        QCOMPARE(d.socket.written, "Kk"_ba);
    }

    void lineSpeed() {
        Dump d;
        d.engine.panel.cmbBaude.setText(u"19200"_s);
        d.engine.panel.Command1.click();
        QCOMPARE(d.engine.link.BaudRate, 19200);
        QFile f(QDir(d.engine.programFolder).filePath(u"VMChkBd.txt"_s));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), "19200\r\n"_ba);
        QVERIFY(d.engine.ecr.OpenComPort(1));
        QCOMPARE(d.serial.settings(), u"19200,N,8,1"_s);
    }
};

QTEST_GUILESS_MAIN(TestConfigDump)
#include "tst_configdump.moc"
