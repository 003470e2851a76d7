// The real controls and the real thing, kept few and quick: the serial and
// socket controls against a pseudo-terminal pair made by socat and a local
// server; then the engine on Qt's event loop with those controls against
// ecrsim over a pseudo-terminal (family 0) and over loopback TCP (family 5).

#include "app/Engine.h"
#include "common/Fault.h"
#include "common/QtRuntime.h"
#include "ident/WorkstationId.h"
#include "link/QtSerialControl.h"
#include "link/QtSocketControl.h"
#include "support/SettingStore.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

// An ecrsim process, ready when it has said where it listens.
struct Simulator {
    Simulator(int family, const QString& folder, bool tcp) {
        journal = QDir(folder).filePath(u"journal.jsonl"_s);
        QStringList args{u"--family"_s,  QString::number(family),
                         u"--journal"_s, journal,
                         u"--quiet"_s,   u"--baud"_s,
                         u"115200"_s};
        args << (tcp ? QStringList{u"--tcp"_s, u"0"_s}
                     : QStringList{u"--pty"_s, QDir(folder).filePath(u"ecr"_s)});
        process.setReadChannel(QProcess::StandardError); // where the ready line comes
        process.start(binDir() + u"/ecrsim"_s, args);
        QByteArray said;
        while (!said.contains('\n') && process.waitForReadyRead(5000)) {
            said += process.readAllStandardError();
        }
        const auto m =
            QRegularExpression(u"127\\.0\\.0\\.1:(\\d+)"_s).match(QString::fromLatin1(said));
        port = m.hasMatch() ? m.captured(1).toInt() : 0;
        ready = said.contains("listening");
    }
    ~Simulator() {
        process.terminate();
        process.waitForFinished(5000);
    }
    QList<QJsonObject> documents(const QString& kind) const {
        return ofKind(readFile(journal).split('\n'), kind);
    }
    QProcess process;
    QString journal;
    int port = 0;
    bool ready = false;
};

} // namespace

class TestLinkEndToEnd : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QProcess socat;
    QString driverEnd;
    QString registerEnd;

private slots:
    void initTestCase() {
        // The setting store lives under XDG_CONFIG_HOME: point it here.
        qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
        QStandardPaths::setTestModeEnabled(false);
        driverEnd = dir.filePath(u"ttyDriver"_s);
        registerEnd = dir.filePath(u"ttyRegister"_s);
        socat.start(u"socat"_s,
                    {u"pty,raw,echo=0,link="_s + driverEnd,
                     u"pty,raw,echo=0,link="_s + registerEnd});
        QVERIFY2(socat.waitForStarted(5000), "socat is needed for the serial tests");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(driverEnd) && QFile::exists(registerEnd), 5000);
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, u"Qarnwerk"_s,
                        u"QARNVELMAR"_s);
        store.setValue(u"SerialPorts/COM2"_s, driverEnd);
        store.setValue(u"SerialPorts/COM3"_s, dir.filePath(u"nothing"_s));
        store.sync();
        QVERIFY(SettingStore::location().startsWith(dir.path()));
        QCOMPARE(SettingStore::serialDevice(2), driverEnd);
        QCOMPARE(SettingStore::serialDevice(4), u"/dev/ttyS3"_s); // the default
    }

    void cleanupTestCase() {
        socat.terminate();
        socat.waitForFinished(3000);
    }

    // Every byte crosses unchanged both ways, XON and XOFF included.
    void bytesCrossThePseudoTerminal() {
        QtSerialControl control;
        control.setCommPort(2);
        control.setSettings(u"9600,N,8,1"_s);
        control.setInputLen(0);
        control.setHandshaking(3);
        QVERIFY(!control.portOpen());
        control.setPortOpen(true);
        QVERIFY(control.portOpen());

        QSerialPort reg(registerEnd);
        QVERIFY(reg.open(QIODevice::ReadWrite));
        QByteArray all;
        for (int b = 0; b < 256; ++b) {
            all.append(char(b));
        }
        control.output(all);
        QByteArray got;
        QDeadlineTimer deadline(5000);
        while (got.size() < all.size() && !deadline.hasExpired()) {
            reg.waitForReadyRead(100);
            got += reg.readAll();
        }
        QCOMPARE(got, all);

        reg.write("\x13" "echo\x11");
        reg.flush();
        QByteArray back;
        deadline.setRemainingTime(5000);
        while (back.size() < 6 && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
            back += control.input();
        }
        QCOMPARE(back, QByteArray("\x13" "echo\x11"));
        QCOMPARE(control.inBufferCount(), 0);
        control.setPortOpen(false);
        QVERIFY(!control.portOpen());
    }

    void serialFaults() {
        QtSerialControl control;
        QCOMPARE(faultOf([&] { control.setCommPort(3); }), faultno::InvalidPort); // no such device
        QCOMPARE(faultOf([&] { control.output("x"); }), faultno::PortNotOpen);
        QCOMPARE(faultOf([&] { control.input(); }), faultno::PortNotOpen);
        QCOMPARE(faultOf([&] { control.setSettings(u"9600,E,7,1"_s); }),
                 faultno::InvalidProperty);
        control.setCommPort(2);
        control.setPortOpen(true);
        QCOMPARE(faultOf([&] { control.setPortOpen(true); }), faultno::PortAlreadyOpen);
        QCOMPARE(faultOf([&] { control.setCommPort(2); }), 0); // the same port: nothing to change
        QCOMPARE(faultOf([&] { control.setCommPort(1); }), faultno::PortAlreadyOpen);
        control.setPortOpen(false);
    }

    void socketConnectsSendsAndReceives() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QtSocketControl control;
        QSignalSpy connected(&control, &SocketControl::connectEvent);
        QSignalSpy arrived(&control, &SocketControl::dataArrival);
        QCOMPARE(control.state(), int(SocketControl::Closed));
        control.setRemotePort(server.serverPort());
        control.connectTo(u"127.0.0.1"_s);
        QVERIFY(control.state() > 0 && control.state() < 7);
        QTRY_COMPARE(connected.size(), 1);
        QCOMPARE(control.state(), int(SocketControl::Connected));
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket* reg = server.nextPendingConnection();

        control.sendData("1000H1R");
        QTRY_COMPARE(reg->bytesAvailable(), qint64(7));
        QCOMPARE(reg->readAll(), "1000H1R"_ba);
        reg->write("\x02" "answer\x03");
        QTRY_VERIFY(!arrived.isEmpty());
        QCOMPARE(control.getData(arrived.first().first().toInt()), QByteArray("\x02" "answer\x03"));

        // The register closes its end: an aborted connection, 10053.
        QSignalSpy errors(&control, &SocketControl::errorEvent);
        reg->close();
        QTRY_COMPARE(errors.size(), 1);
        QCOMPARE(errors.first().at(0).toInt(), 10053);
        QCOMPARE(control.state(), int(SocketControl::Error));
        control.close();
        QCOMPARE(control.state(), int(SocketControl::Closed));
        try {
            control.sendData("KK");
            QFAIL("sending on a closed socket must fail");
        } catch (const Fault& f) {
            QCOMPARE(f.number(), faultno::WrongSocketState);
        }
    }

    void refusedConnection() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const quint16 port = server.serverPort();
        server.close(); // nobody listens there any more
        QtSocketControl control;
        QSignalSpy errors(&control, &SocketControl::errorEvent);
        control.setRemotePort(port);
        control.connectTo(u"127.0.0.1"_s);
        QTRY_COMPARE(errors.size(), 1);
        QCOMPARE(errors.first().at(0).toInt(), 10061);
        QCOMPARE(errors.first().at(1).toString(), u"Connessione rifiutata"_s);
    }

    void jobAndDump_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<bool>("tcp");
        // One real run per transport: what each family does differently is
        // replayed in virtual time (tst_exchanges, tst_linkmodel).
        QTest::newRow("family 0 pty") << 0 << false;
        QTest::newRow("family 5 tcp") << 5 << true;
    }
    void jobAndDump() {
        QFETCH(int, family);
        QFETCH(bool, tcp);
        QTemporaryDir dir;
        Simulator ecr(family, dir.path(), tcp);
        QVERIFY2(ecr.ready, "ecrsim did not start");
        QSettings(QSettings::NativeFormat, QSettings::UserScope, u"Qarnwerk"_s, u"QARNVELMAR"_s)
            .setValue(u"SerialPorts/COM1"_s, QDir(dir.path()).filePath(u"ecr"_s));

        QtRuntime rt;
        QtSerialControl serial;
        QtSocketControl socket;
        ScriptedOperatorUi ui;
        RecordingProgramExit programExit;
        Engine engine{EngineServices{rt, serial, socket, ui, programExit, dir.path()}};
        engine.setDataDirectory(dir.path());
        QVERIFY(engine.library.load(binDir()));
        engine.panel.cboAddedFunctions.setListIndex(family);
        engine.link.BaudRate = 115200;
        engine.panel.Check1.setValue(1);
        if (tcp) {
            engine.panel.OptionRete.select();
            engine.panel.TxtRemoteIP.setText(u"127.0.0.1"_s);
            engine.panel.TcpPort.setText(QString::number(ecr.port));
            QVERIFY(engine.ecr.tcpLine.ResetReStartConnection(5));
        }

        // Identify the register, then print a receipt.
        engine.dump.RunDumpRequest(1);
        QFile matr(QDir(dir.path()).filePath(u"SR_MATR.001"_s));
        QVERIFY(matr.open(QIODevice::ReadOnly));
        const QByteArray first = matr.readLine().trimmed();
        QCOMPARE(first, workstationIdentifier());

        QFile receipt(QDir(dir.path()).filePath(u"SR_DATI.001"_s));
        QVERIFY(receipt.open(QIODevice::WriteOnly));
        receipt.write("PLUD,:PANE,P150,Q2,N1;\r\nDISC,%10;\r\nCASH;\r\n");
        receipt.close();
        engine.job.iCurrentCom = 1;
        engine.job.InputFilePath = receipt.fileName();
        engine.job.OutputFilePath = QDir(dir.path()).filePath(u"SR_OUT.001"_s);
        engine.link.TotalLinesLeft = 0;
        QCOMPARE(engine.ecr.TransmitFile(), std::int16_t(0));
        QVERIFY(!serial.portOpen() || tcp);

        QTRY_COMPARE_WITH_TIMEOUT(ecr.documents(u"receipt"_s).size(), 1, 8000);
        QCOMPARE(ecr.documents(u"receipt"_s).first().value(u"total"_s).toInt(), 270);
        QFile out(engine.job.OutputFilePath);
        QVERIFY(out.open(QIODevice::ReadOnly));
        const QByteArray lines = out.readAll();
        QCOMPARE(lines.startsWith("TIME,CASS. 1 "), family == 5); // family 0 tells nothing
        QVERIFY(ui.boxes.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestLinkEndToEnd)
#include "tst_linke2e.moc"
