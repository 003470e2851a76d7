// The real serial and socket controls: a pseudo-terminal pair made by socat
// stands in for the serial line, a local server for the register's socket.

#include "common/Fault.h"
#include "link/QtSerialControl.h"
#include "link/QtSocketControl.h"
#include "support/SettingStore.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace velmar;

class TestQtControls : public QObject {
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
        driverEnd = dir.filePath(QStringLiteral("ttyDriver"));
        registerEnd = dir.filePath(QStringLiteral("ttyRegister"));
        socat.start(QStringLiteral("socat"),
                    {QStringLiteral("pty,raw,echo=0,link=") + driverEnd,
                     QStringLiteral("pty,raw,echo=0,link=") + registerEnd});
        QVERIFY2(socat.waitForStarted(5000), "socat is needed for the serial tests");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(driverEnd) && QFile::exists(registerEnd), 5000);
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Qarnwerk"),
                        QStringLiteral("QARNVELMAR"));
        store.setValue(QStringLiteral("SerialPorts/COM2"), driverEnd);
        store.setValue(QStringLiteral("SerialPorts/COM3"), dir.filePath(QStringLiteral("nothing")));
        store.sync();
        QVERIFY(SettingStore::location().startsWith(dir.path()));
        QCOMPARE(SettingStore::serialDevice(2), driverEnd);
        QCOMPARE(SettingStore::serialDevice(4), QStringLiteral("/dev/ttyS3")); // the default
    }

    void cleanupTestCase() {
        socat.terminate();
        socat.waitForFinished(3000);
    }

    // Every byte crosses unchanged both ways, XON and XOFF included.
    void bytesCrossThePseudoTerminal() {
        QtSerialControl control;
        control.setCommPort(2);
        control.setSettings(QStringLiteral("9600,N,8,1"));
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
        const auto faultOf = [](const std::function<void()>& fn) {
            try {
                fn();
            } catch (const Fault& f) {
                return f.number();
            }
            return 0;
        };
        QCOMPARE(faultOf([&] { control.setCommPort(3); }), faultno::InvalidPort); // no such device
        QCOMPARE(faultOf([&] { control.output("x"); }), faultno::PortNotOpen);
        QCOMPARE(faultOf([&] { control.input(); }), faultno::PortNotOpen);
        QCOMPARE(faultOf([&] { control.setSettings(QStringLiteral("9600,E,7,1")); }),
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
        control.connectTo(QStringLiteral("127.0.0.1"));
        QVERIFY(control.state() > 0 && control.state() < 7);
        QTRY_COMPARE(connected.size(), 1);
        QCOMPARE(control.state(), int(SocketControl::Connected));
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket* reg = server.nextPendingConnection();

        control.sendData("1000H1R");
        QTRY_COMPARE(reg->bytesAvailable(), qint64(7));
        QCOMPARE(reg->readAll(), QByteArray("1000H1R"));
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
        control.connectTo(QStringLiteral("127.0.0.1"));
        QTRY_COMPARE(errors.size(), 1);
        QCOMPARE(errors.first().at(0).toInt(), 10061);
        QCOMPARE(errors.first().at(1).toString(), QStringLiteral("Connessione rifiutata"));
    }
};

QTEST_GUILESS_MAIN(TestQtControls)
#include "tst_qtcontrols.moc"
