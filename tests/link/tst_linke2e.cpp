// The real thing, kept few and quick: the engine on Qt's event loop with the
// real serial and socket controls, against ecrsim over a pseudo-terminal and
// over loopback TCP, in families 0, 1, 5 and 6.

#include "app/Engine.h"
#include "common/QtRuntime.h"
#include "ident/WorkstationId.h"
#include "link/QtSerialControl.h"
#include "link/QtSocketControl.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace velmar;
using namespace velmar::test;

namespace {

// An ecrsim process, ready when it has said where it listens.
struct Simulator {
    Simulator(int family, const QString& folder, bool tcp) {
        journal = QDir(folder).filePath(QStringLiteral("journal.jsonl"));
        QStringList args{QStringLiteral("--family"), QString::number(family), QStringLiteral("--journal"),
                         journal, QStringLiteral("--quiet"), QStringLiteral("--baud"),
                         QStringLiteral("115200")};
        args << (tcp ? QStringList{QStringLiteral("--tcp"), QStringLiteral("0")}
                     : QStringList{QStringLiteral("--pty"), QDir(folder).filePath(QStringLiteral("ecr"))});
        process.setReadChannel(QProcess::StandardError); // where the ready line comes
        process.start(binDir() + QStringLiteral("/ecrsim"), args);
        QByteArray said;
        while (!said.contains('\n') && process.waitForReadyRead(5000)) {
            said += process.readAllStandardError();
        }
        const auto m = QRegularExpression(QStringLiteral("127\\.0\\.0\\.1:(\\d+)")).match(QString::fromLatin1(said));
        port = m.hasMatch() ? m.captured(1).toInt() : 0;
        ready = said.contains("listening");
    }
    ~Simulator() {
        process.terminate();
        process.waitForFinished(5000);
    }
    QList<QJsonObject> documents(const QString& kind) const {
        QList<QJsonObject> out;
        QFile f(journal);
        if (f.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : f.readAll().split('\n')) {
                const QJsonObject o = QJsonDocument::fromJson(line).object();
                if (o.value(QStringLiteral("kind")).toString() == kind) {
                    out << o;
                }
            }
        }
        return out;
    }
    QProcess process;
    QString journal;
    int port = 0;
    bool ready = false;
};

} // namespace

class TestLinkEndToEnd : public QObject {
    Q_OBJECT

    QTemporaryDir config;

private slots:
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    }

    void jobAndDump_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<bool>("tcp");
        for (int family : {0, 1, 5, 6}) {
            QTest::addRow("family %d pty", family) << family << false;
            QTest::addRow("family %d tcp", family) << family << true;
        }
    }
    void jobAndDump() {
        QFETCH(int, family);
        QFETCH(bool, tcp);
        QTemporaryDir dir;
        Simulator ecr(family, dir.path(), tcp);
        QVERIFY2(ecr.ready, "ecrsim did not start");
        QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Qarnwerk"),
                  QStringLiteral("QARNVELMAR"))
            .setValue(QStringLiteral("SerialPorts/COM1"), QDir(dir.path()).filePath(QStringLiteral("ecr")));

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
            engine.panel.TxtRemoteIP.setText(QStringLiteral("127.0.0.1"));
            engine.panel.TcpPort.setText(QString::number(ecr.port));
            QVERIFY(engine.ecr.ResetReStartConnection(5));
        }

        // Identify the register, then print a receipt.
        engine.dump.RunDumpRequest(1);
        QFile matr(QDir(dir.path()).filePath(QStringLiteral("SR_MATR.001")));
        QVERIFY(matr.open(QIODevice::ReadOnly));
        const QByteArray first = matr.readLine().trimmed();
        if (family == 6 && !tcp) {
            QCOMPARE(first, QByteArray("99MEX012")); // told by the register
        } else if (family != 6) {
            QCOMPARE(first, workstationIdentifier());
        }

        QFile receipt(QDir(dir.path()).filePath(QStringLiteral("SR_DATI.001")));
        QVERIFY(receipt.open(QIODevice::WriteOnly));
        receipt.write("PLUD,:PANE,P150,Q2,N1;\r\nDISC,%10;\r\nCASH;\r\n");
        if (family == 1 && !tcp) {
            receipt.write("FUNC,N1;\r\n");
        }
        receipt.close();
        engine.job.iCurrentCom = 1;
        engine.job.InputFilePath = receipt.fileName();
        engine.job.OutputFilePath = QDir(dir.path()).filePath(QStringLiteral("SR_OUT.001"));
        engine.link.TotalLinesLeft = 0;
        QCOMPARE(engine.ecr.TransmitFile(), std::int16_t(0));
        QVERIFY(!serial.portOpen() || tcp);

        QTRY_COMPARE_WITH_TIMEOUT(ecr.documents(QStringLiteral("receipt")).size(), 1, 8000);
        QCOMPARE(ecr.documents(QStringLiteral("receipt")).first().value(QStringLiteral("total")).toInt(), 270);
        QFile out(engine.job.OutputFilePath);
        QVERIFY(out.open(QIODevice::ReadOnly));
        const QByteArray lines = out.readAll();
        const bool told = family == 1 || family == 5 || (family == 6 && !tcp);
        QCOMPARE(lines.startsWith("TIME,CASS. 1 "), told);
        QVERIFY(ui.boxes.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestLinkEndToEnd)
#include "tst_linke2e.moc"
