// ecrsim as the driver meets it: a pseudo-terminal opened as a serial port,
// and a loopback TCP port. Few and quick; every wait is bounded.

#include "common/CaseTable.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

const QString ecrsim = binDir() + u"/ecrsim"_s;
// The register's clock is set, so its answers are known to the byte (a test
// that ran across a minute would see 09-16; each one takes a few seconds).
const QStringList clock = {u"--clock"_s, u"2026-12-06T09:15:00"_s};
const QByteArray footerOfReceipt1 = "\x02"
                                    "06/12/2026 09-15 0001EE\x03";

// Starts ecrsim and waits (at most 10 s) for its ready line.
bool start(QProcess& p, const QStringList& args, QByteArray* ready) {
    p.setReadChannel(QProcess::StandardError);
    p.start(ecrsim, args + clock + QStringList{u"--quiet"_s});
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000 && p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(200);
        *ready += p.readAllStandardError();
        if (ready->contains('\n')) {
            return ready->startsWith("ecrsim: family ");
        }
    }
    return false;
}

// Reads from `dev` until `n` bytes came or `ms` passed.
QByteArray readBytes(QIODevice& dev, int n, int ms) {
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < n && t.elapsed() < ms) {
        if (dev.bytesAvailable() == 0) {
            dev.waitForReadyRead(50);
        }
        got += dev.read(n - got.size());
    }
    return got;
}

} // namespace

class TestEcrsim : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void commandLine_data() { addCaseRows(u"sim/commandline.txt"_s, {"args", "status", "says"}); }
    void commandLine() {
        const auto [args, status, says] = caseFields("args", "status", "says");
        QProcess p;
        p.start(ecrsim, QString::fromLatin1(args).split(u' '));
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), status.toInt());
        QVERIFY2((p.readAllStandardOutput() + p.readAllStandardError()).contains(says),
                 says.constData());
    }

    void ptyEchoReceiptFooterAndCleanExit() {
        const QString link = dir.filePath(u"ecr"_s);
        const QString journal = dir.filePath(u"pty.jsonl"_s);
        QProcess p;
        QByteArray ready;
        QVERIFY2(start(p,
                       u"--family 5 --closing-print 300 --pty"_s.split(' ')
                           << link << "--journal" << journal,
                       &ready),
                 ready.constData());
        QVERIFY(ready.contains(link.toLocal8Bit()));
        QVERIFY(QFileInfo(link).isSymLink());

        QSerialPort port;
        port.setPortName(link);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        port.setBaudRate(9600);
        port.setFlowControl(QSerialPort::NoFlowControl);

        port.write("KK");
        QCOMPARE(readBytes(port, 2, 3000), "KK"_ba);

        // A receipt: its echo, then the footer once printing is done (11
        // bytes at 400 a second and 300 ms of closing print: 327 ms).
        const QByteArray receipt = "\"A\"100H1R1T";
        QElapsedTimer sent;
        sent.start();
        port.write(receipt);
        QCOMPARE(readBytes(port, receipt.size(), 3000), receipt);
        const QByteArray footer = readBytes(port, footerOfReceipt1.size(), 3000);
        const qint64 footerMs = sent.elapsed();
        QCOMPARE(footer, footerOfReceipt1);
        QVERIFY2(footerMs >= 327, qPrintable(QString::number(footerMs)));

        port.write("\x06");
        QTRY_VERIFY_WITH_TIMEOUT(readFile(journal).contains("\"ack\":true"), 5000);
        QVERIFY(readFile(journal).contains("\"kind\":\"receipt\""));
        port.close();

        p.terminate(); // SIGTERM
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
    }

    void tcpReceiptIsAnsweredOnClosing() {
        QProcess p;
        QByteArray ready;
        QVERIFY2(start(p, u"--family 0 --tcp 0 --closing-print 100"_s.split(' '), &ready),
                 ready.constData());
        const auto m =
            QRegularExpression(u"127\\.0\\.0\\.1:(\\d+)"_s).match(QString::fromLatin1(ready));
        QVERIFY2(m.hasMatch(), ready.constData());
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, m.captured(1).toUShort());
        QVERIFY(s.waitForConnected(3000));
        s.write("KK\"A\"100H1R");
        QCOMPARE(readBytes(s, 1, 400), QByteArray()); // no echo, no answer
        s.write("1T");
        QCOMPARE(readBytes(s, footerOfReceipt1.size(), 3000), footerOfReceipt1);
        s.disconnectFromHost();
        p.terminate();
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 0);
    }

    void tcpRefuseFaultRefusesConnections() {
        QProcess p;
        QByteArray ready;
        // A port that was free a moment ago: ecrsim must not listen on it.
        quint16 port = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            port = probe.serverPort();
        }
        QVERIFY2(start(p, u"--family 5 --fault refuse --tcp"_s.split(' ') << QString::number(port),
                       &ready),
                 ready.constData());
        QVERIFY(ready.contains("refusing"));
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(!s.waitForConnected(3000));
        QCOMPARE(s.error(), QAbstractSocket::ConnectionRefusedError);
        p.terminate();
        QVERIFY(p.waitForFinished(5000));
    }
};

QTEST_GUILESS_MAIN(TestEcrsim)
#include "tst_ecrsim.moc"
