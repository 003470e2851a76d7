// link_bench: how close a real job over a serial line comes to the floor the
// protocol itself sets, and what it costs the driver's processor.
//
//   link_bench [--runs N] [--family N] [--baud N]
//
// Starts ecrsim on a pseudo-terminal (print buffer large enough that it never
// asks for XOFF: flow control waits are the register's, not the protocol's),
// and plays a realistic 40-line receipt with the engine on Qt's event loop
// and the real serial control, N times (default 5). For each run it prints:
//   wall   the time TransmitFile took
//   floor  the reset's mandated pause (length + 300 ms, in 100 ms slices),
//          each character's round trip on the wire (2 bytes of 10 bits each
//          at the line speed: the byte out and its echo back), the closing
//          collection (3000 ms), and the family's own steps: family 4's
//          500 ms after its document start, family 5's ACK and 200 ms,
//          family 3's receipt-number request (3 bytes out, 42 back), and
//          family 6's whole-line sends (each line's length + 300 ms pause)
//   cpu    the driver's own user + system time during the job
// and the medians.

#include "app/Engine.h"
#include "BenchOptions.h"
#include "common/QtRuntime.h"
#include "link/QtSerialControl.h"
#include "link/QtSocketControl.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

using namespace velmar;

namespace {

double cpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

QByteArray receipt() {
    QByteArray r;
    const char* names[] = {"PANE", "LATTE", "MOZZARELLA", "POMODORI", "PASTA", "OLIO", "CAFFE"};
    for (int i = 0; i < 34; ++i) {
        r += "PLUD,:" + QByteArray(names[i % 7]) + " " + QByteArray::number(i + 1) + ",P" +
             QByteArray::number(95 + 10 * i) + ",N" + QByteArray::number(1 + i % 5) + ";\r\n";
    }
    r += "PLUD,:ARANCE,P1.99,Q1.25,N2;\r\nDISC,%10;\r\nPRNT,:Grazie e arrivederci;\r\n";
    r += "CHEQ,V2000;\r\nCASH;\r\n";
    return r;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption runsOption = bench::numberOption("runs", "jobs measured", 5);
    const QCommandLineOption familyOption = bench::numberOption("family", "register family", 0);
    const QCommandLineOption baudOption = bench::numberOption("baud", "line speed", 9600);
    parser.addOptions({runsOption, familyOption, baudOption});
    parser.process(app);
    const int runs = int(bench::numberValue(parser, runsOption, 1, 100000));
    const int family = int(bench::numberValue(parser, familyOption, 0, 6));
    const int baud = int(bench::numberValue(parser, baudOption, 9600, 115200));

    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    const QString link = QDir(dir.path()).filePath(QStringLiteral("ecr"));
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Qarnwerk"),
              QStringLiteral("QARNVELMAR"))
        .setValue(QStringLiteral("SerialPorts/COM1"), link);

    QProcess ecrsim;
    ecrsim.setReadChannel(QProcess::StandardError);
    ecrsim.start(QCoreApplication::applicationDirPath() + QStringLiteral("/ecrsim"),
                 {QStringLiteral("--family"), QString::number(family), QStringLiteral("--pty"), link,
                  QStringLiteral("--baud"), QString::number(baud), QStringLiteral("--buffer"),
                  QStringLiteral("65536"), QStringLiteral("--quiet")});
    QByteArray said;
    while (!said.contains('\n') && ecrsim.waitForReadyRead(5000)) {
        said += ecrsim.readAllStandardError();
    }
    if (!said.contains("listening")) {
        std::fprintf(stderr, "link_bench: ecrsim did not start\n");
        return 1;
    }

    QtRuntime rt;
    QtSerialControl serial;
    QtSocketControl socket;
    LoggingOperatorUi ui([](const QString& line) { std::fprintf(stderr, "%s\n", qPrintable(line)); });
    RecordingProgramExit programExit;
    Engine engine{EngineServices{rt, serial, socket, ui, programExit, dir.path()}};
    engine.setDataDirectory(dir.path());
    if (!engine.library.load(QCoreApplication::applicationDirPath())) {
        std::fprintf(stderr, "link_bench: qarn_slm1 not found\n");
        return 1;
    }
    engine.panel.cboAddedFunctions.setListIndex(family);
    engine.link.BaudRate = baud;
    engine.job.iCurrentCom = 1;
    engine.job.InputFilePath = QDir(dir.path()).filePath(QStringLiteral("SR_DATI.001"));
    engine.job.OutputFilePath = QDir(dir.path()).filePath(QStringLiteral("SR_OUT.001"));

    const double byteMs = 10000.0 / baud; // 10 bits a byte
    std::printf("link_bench: family %d, %d baud, %d runs of a %d-line receipt\n", family, baud, runs,
                int(receipt().count('\n')));
    std::printf("%4s %10s %10s %8s %9s %7s\n", "run", "wall (ms)", "floor (ms)", "over", "cpu (ms)", "cpu");
    std::vector<double> overs, cpus;
    for (int run = 1; run <= runs; ++run) {
        QFile f(engine.job.InputFilePath);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(receipt());
        f.close();
        const double cpu0 = cpuMs();
        QElapsedTimer wall;
        wall.start();
        const std::int16_t result = engine.ecr.TransmitFile();
        const double wallMs = wall.nsecsElapsed() / 1e6;
        const double cpu = cpuMs() - cpu0;
        if (result != 0) {
            std::fprintf(stderr, "link_bench: the job failed with %d\n", result);
            return 1;
        }
        QFile xon(engine.link.ConvertedFilePath);
        xon.open(QIODevice::ReadOnly);
        const QByteArray commands = xon.readAll();
        double floorMs = 300 + 3000; // the reset's pause, the closing collection
        for (const QByteArray& line : commands.split('\n')) {
            const qsizetype n = line.endsWith('\r') ? line.size() - 1 : line.size();
            if (line.isEmpty()) {
                continue;
            }
            floorMs += family == 6 ? double((n + 300) / 100 * 100) : n * 2 * byteMs;
        }
        if (family == 4 && commands.startsWith("A\r\n")) {
            floorMs += 500;
        }
        if (family == 5) {
            floorMs += byteMs + 200;
        }
        if (family == 3) {
            floorMs += (1 + 42) * byteMs;
        }
        const double over = wallMs / floorMs - 1;
        overs.push_back(over);
        cpus.push_back(cpu / wallMs);
        std::printf("%4d %10.0f %10.0f %7.1f%% %9.1f %6.2f%%\n", run, wallMs, floorMs, 100 * over, cpu,
                    100 * cpu / wallMs);
    }
    std::printf("median: %.1f%% over the floor, cpu %.2f%% of wall\n", 100 * median(overs),
                100 * median(cpus));
    ecrsim.terminate();
    ecrsim.waitForFinished(3000);
    return 0;
}
