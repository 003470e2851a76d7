// daemon_bench: the real velmard, as a shop runs it, against ecrsim on a
// pseudo-terminal: what it costs while idle, how much memory it holds, and how
// close a job's SR_START-to-FINESCO time comes to the floor Velmar's poll schedule sets.
//
//   daemon_bench [--idle-seconds S] [--jobs N] [--family N] [--baud N] [--seed N]
//
// It installs a portable copy of velmard (program, qarn_slm1, settings files
// beside it: channel 1, the default 1 s poll, trace off) in a temporary
// folder, with its own setting store and runtime folder, and starts ecrsim on
// a pseudo-terminal (print buffer 65536 bytes, so the register never asks for
// XOFF: flow-control waits are the register's choice, not Velmar's schedule).
//
// Idle (default 60 s, after the register is identified): velmard's user +
// system time from /proc/<pid>/stat (clock ticks) and its time on the
// processor from /proc/<pid>/schedstat (nanoseconds), over the wall time;
// its voluntary context switches (wake-ups); VmRSS and VmHWM from
// /proc/<pid>/status.
//
// Jobs (default 11, after one warm-up job): as a host, it writes SR_DATI.001
// (link_bench's 39-line receipt, its printed line numbered) and then
// SR_START.001 at a random moment (seeded) 0 to 3 s after the previous job's
// end, and waits for FINESCO.001. velmard's log (stamped to the millisecond) tells when the job
// step picked the job up ("stato: Velmar in esecuzione...") and when FinishJob
// ended ("stato: Velmar in attesa esecuzione...", right after FINESCO). For
// each job it prints:
//   raw    SR_START written -> FinishJob done (what the host waits)
//   wait   SR_START written -> the job step picked the job up
//   sched  SR_START written -> the scan tick the poll timer schedules: the previous
//          job's end + 1000 ms (settle tick) + k x the poll interval, the
//          first such tick not before SR_START
//   job    picked up -> FinishJob done
//   link   the link floor, as in link_bench: the reset's pause (300 ms), each
//          character's round trip (2 bytes of 10 bits at the line speed), the
//          closing collection (3000 ms) and the family's own steps (family
//          4's 500 ms, family 5's ACK and 200 ms, family 3's receipt-number
//          request, family 6's whole-line sends); FinishJob's floor is 0 (file
//          operations only, no wait of its own)
//   floor  sched + link
//   over   raw / floor - 1
// and the medians.

#include "BenchOptions.h"
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <random>
#include <unistd.h>
#include <vector>

namespace {

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Polls `done` every 2 ms until it holds or `ms` passed.
bool waitUntil(const std::function<bool()>& done, int ms) {
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(2);
    }
    return true;
}

struct ProcSample {
    double cpuTicksMs = 0; // utime + stime, in ms (clock-tick resolution)
    double onCpuMs = 0;    // schedstat, ns resolution
    long voluntarySwitches = 0;
    long rssKb = 0;
    long hwmKb = 0;
};

ProcSample sample(qint64 pid) {
    ProcSample s;
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    const QByteArray stat = readFile(proc + QStringLiteral("stat"));
    const QList<QByteArray> f = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (f.size() > 12) { // fields 14 and 15 of the line; the 12th and 13th after the name
        const double tick = 1000.0 / double(sysconf(_SC_CLK_TCK));
        s.cpuTicksMs = (f.at(11).toDouble() + f.at(12).toDouble()) * tick;
    }
    s.onCpuMs = readFile(proc + QStringLiteral("schedstat")).split(' ').value(0).toDouble() / 1e6;
    for (const QByteArray& line : readFile(proc + QStringLiteral("status")).split('\n')) {
        const QList<QByteArray> kv = line.simplified().split(' ');
        if (kv.size() < 2) {
            continue;
        }
        if (kv[0] == "VmRSS:") {
            s.rssKb = kv[1].toLong();
        } else if (kv[0] == "VmHWM:") {
            s.hwmKb = kv[1].toLong();
        } else if (kv[0] == "voluntary_ctxt_switches:") {
            s.voluntarySwitches = kv[1].toLong();
        }
    }
    return s;
}

// link_bench's receipt with the job's number in its printed line (always 13
// characters: a text of 11 or 16 would be taken for a VAT number or tax code).
QByteArray receipt(int job) {
    QByteArray r;
    const char* names[] = {"PANE", "LATTE", "MOZZARELLA", "POMODORI", "PASTA", "OLIO", "CAFFE"};
    for (int i = 0; i < 34; ++i) {
        r += "PLUD,:" + QByteArray(names[i % 7]) + " " + QByteArray::number(i + 1) + ",P" +
             QByteArray::number(95 + 10 * i) + ",N" + QByteArray::number(1 + i % 5) + ";\r\n";
    }
    r += "PLUD,:ARANCE,P1.99,Q1.25,N2;\r\nDISC,%10;\r\nPRNT,:Scontrino " +
         QByteArray::number(job).rightJustified(3, '0') + ";\r\n";
    r += "CHEQ,V2000;\r\nCASH;\r\n";
    return r;
}

// The link floor of the commands in XON.txt (see the top of this file).
double linkFloorMs(const QByteArray& commands, int family, int baud) {
    const double byteMs = 10000.0 / baud;
    double floorMs = 300 + 3000;
    for (const QByteArray& line : commands.split('\n')) {
        const qsizetype n = line.endsWith('\r') ? line.size() - 1 : line.size();
        if (n == 0) {
            continue;
        }
        floorMs += family == 6 ? double((n + 300) / 100 * 100) : double(n) * 2 * byteMs;
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
    return floorMs;
}

// The stamp (ms since the epoch) of the first log line at or after `from`
// (a byte offset) that contains `text`; `from` moves past it.
std::optional<qint64> stampOf(const QByteArray& log, const QByteArray& text, qsizetype& from) {
    const qsizetype at = log.indexOf(text, from);
    if (at < 0) {
        return std::nullopt;
    }
    const qsizetype lineStart = log.lastIndexOf('\n', at) + 1;
    const QDateTime t = QDateTime::fromString(QString::fromLatin1(log.mid(lineStart, 23)),
                                              QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    from = at + text.size();
    return t.isValid() ? std::optional<qint64>(t.toMSecsSinceEpoch()) : std::nullopt;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption idleOption =
        velmar::bench::numberOption("idle-seconds", "idle time measured", 60);
    const QCommandLineOption jobsOption = velmar::bench::numberOption("jobs", "jobs measured", 11);
    const QCommandLineOption familyOption =
        velmar::bench::numberOption("family", "register family", 5);
    const QCommandLineOption baudOption = velmar::bench::numberOption("baud", "line speed", 9600);
    const QCommandLineOption seedOption =
        velmar::bench::numberOption("seed", "seed of the host's timing", 1);
    parser.addOptions({idleOption, jobsOption, familyOption, baudOption, seedOption});
    parser.process(app);
    const int idleSeconds = int(velmar::bench::numberValue(parser, idleOption, 1, 86400));
    const int jobs = int(velmar::bench::numberValue(parser, jobsOption, 1, 100000));
    const int family = int(velmar::bench::numberValue(parser, familyOption, 0, 6));
    const int baud = int(velmar::bench::numberValue(parser, baudOption, 9600, 115200));
    const auto seed = unsigned(velmar::bench::numberValue(parser, seedOption, 0, 2147483647));
    const int pollMs = 1000;

    QTemporaryDir dir;
    const QDir root(dir.path());
    const QString prog = root.filePath(QStringLiteral("velmar"));
    const QString link = root.filePath(QStringLiteral("ecr"));
    root.mkpath(QStringLiteral("velmar"));
    root.mkpath(QStringLiteral("config/Qarnwerk"));
    root.mkpath(QStringLiteral("run"));
    QFile::setPermissions(root.filePath(QStringLiteral("run")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString bin = QCoreApplication::applicationDirPath();
    bool ok = QFile::copy(bin + QStringLiteral("/velmard"), prog + QStringLiteral("/velmard")) &&
              QFile::copy(bin + QStringLiteral("/libqarn_slm1.so"),
                          prog + QStringLiteral("/libqarn_slm1.so"));
    ok =
        ok && writeFile(prog + QStringLiteral("/VMCHKCOM.TXT"), "1000\r\n") &&
        writeFile(prog + QStringLiteral("/VMTIMER1.TXT"), "1\r\n") &&
        writeFile(prog + QStringLiteral("/VMChkBd.txt"), QByteArray::number(baud) + "\r\n") &&
        writeFile(prog + QStringLiteral("/VMCHKSCO.TXT"),
                  " " + QByteArray::number(family) + " \r\n30\r\n0\r\n0\r\n\r\n\r\n\r\n3500\r\n") &&
        writeFile(root.filePath(QStringLiteral("config/Qarnwerk/QARNVELMAR.conf")),
                  "[SerialPorts]\nCOM1=" + link.toLocal8Bit() + "\n");
    if (!ok) {
        std::fprintf(stderr, "daemon_bench: cannot install velmard in %s\n", qPrintable(prog));
        return 1;
    }

    QProcess ecrsim;
    ecrsim.setReadChannel(QProcess::StandardError);
    ecrsim.start(bin + QStringLiteral("/ecrsim"),
                 {QStringLiteral("--family"), QString::number(family), QStringLiteral("--pty"),
                  link, QStringLiteral("--baud"), QString::number(baud), QStringLiteral("--buffer"),
                  QStringLiteral("65536"), QStringLiteral("--quiet")});
    QByteArray said;
    while (!said.contains('\n') && ecrsim.waitForReadyRead(5000)) {
        said += ecrsim.readAllStandardError();
    }
    if (!said.contains("listening")) {
        std::fprintf(stderr, "daemon_bench: ecrsim did not start\n");
        return 1;
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), root.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root.filePath(QStringLiteral("run")));
    const QString logPath = root.filePath(QStringLiteral("velmard.err"));
    QProcess velmard;
    velmard.setProcessEnvironment(env);
    velmard.setStandardErrorFile(logPath);
    velmard.setStandardOutputFile(QProcess::nullDevice());
    velmard.start(prog + QStringLiteral("/velmard"), {});
    if (!velmard.waitForStarted(5000)) {
        std::fprintf(stderr, "daemon_bench: velmard did not start\n");
        return 1;
    }
    const qint64 pid = velmard.processId();
    const auto file = [&prog](const char* base) {
        return prog + QLatin1Char('/') + QLatin1String(base) + QStringLiteral(".001");
    };
    if (!waitUntil([&] { return QFileInfo::exists(file("SR_MATR")); }, 30000)) {
        std::fprintf(stderr, "daemon_bench: the register was not identified\n%s\n",
                     readFile(logPath).constData());
        return 1;
    }
    std::printf("daemon_bench: velmard (pid %lld), family %d, %d baud, poll %d ms\n", pid, family,
                baud, pollMs);

    // Idle.
    QThread::sleep(3); // past the settle tick after the configuration dump
    const ProcSample before = sample(pid);
    QElapsedTimer idleWall;
    idleWall.start();
    QThread::sleep(static_cast<unsigned long>(idleSeconds));
    const ProcSample after = sample(pid);
    const double wallMs = double(idleWall.nsecsElapsed()) / 1e6;
    std::printf(
        "idle %.1f s: cpu (stat, 10 ms ticks) %.0f ms = %.4f%% of a core; on cpu (schedstat) "
        "%.2f ms = %.4f%%; %.2f wake-ups/s\n",
        wallMs / 1000, after.cpuTicksMs - before.cpuTicksMs,
        100 * (after.cpuTicksMs - before.cpuTicksMs) / wallMs, after.onCpuMs - before.onCpuMs,
        100 * (after.onCpuMs - before.onCpuMs) / wallMs,
        double(after.voluntarySwitches - before.voluntarySwitches) / (wallMs / 1000));
    std::printf("memory idle: VmRSS %ld kB, VmHWM %ld kB\n", after.rssKb, after.hwmKb);

    // Jobs.
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> offset(0, 2999);
    qsizetype logFrom = 0;
    qint64 lastEnd = 0;
    std::vector<double> overs, jobOvers, raws, picks;
    const ProcSample jobsBefore = sample(pid);
    QElapsedTimer jobsWall;
    jobsWall.start();
    std::printf("%4s %8s %8s %8s %7s %8s %8s %8s %8s %7s %7s\n", "job", "offset", "raw", "wait",
                "sched", "job", "link", "floor", "over", "job/ln", "late");
    for (int job = 0; job <= jobs; ++job) {
        const int wantedOffset = offset(rng);
        if (lastEnd != 0) {
            const qint64 at = lastEnd + wantedOffset;
            while (QDateTime::currentMSecsSinceEpoch() < at) {
                QThread::usleep(200);
            }
        }
        QFile::remove(file("SR_ERR"));
        writeFile(file("SR_DATI"), receipt(job));
        writeFile(file("SR_START"), "00000000\r\n");
        const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
        if (!waitUntil(
                [&] {
                    return !QFileInfo::exists(file("SR_START")) &&
                           (QFileInfo::exists(file("FINESCO")) ||
                            QFileInfo::exists(file("SR_ERR")));
                },
                60000) ||
            !QFileInfo::exists(file("FINESCO"))) {
            std::fprintf(stderr, "daemon_bench: job %d failed\n%s\n", job,
                         readFile(logPath).constData());
            return 1;
        }
        std::optional<qint64> pick, end;
        waitUntil(
            [&] {
                const QByteArray log = readFile(logPath);
                qsizetype from = logFrom;
                pick = stampOf(log, "stato: Velmar in esecuzione...", from);
                end = pick ? stampOf(log, "stato: Velmar in attesa esecuzione...", from)
                           : std::nullopt;
                if (end) {
                    logFrom = from;
                }
                return end.has_value();
            },
            5000);
        if (!pick || !end) {
            std::fprintf(stderr, "daemon_bench: job %d not in velmard's log\n", job);
            return 1;
        }
        const double link = linkFloorMs(readFile(prog + QStringLiteral("/XON.txt")), family, baud);
        if (lastEnd != 0) {
            qint64 tick = lastEnd + 1000 + pollMs; // the settle tick, then the first scan
            while (tick < t0) {
                tick += pollMs;
            }
            const double raw = double(*end - t0);
            const double wait = double(*pick - t0);
            const double sched = double(tick - t0);
            const double jobMs = double(*end - *pick);
            const double floorMs = sched + link;
            overs.push_back(raw / floorMs - 1);
            jobOvers.push_back(jobMs / link - 1);
            raws.push_back(raw);
            picks.push_back(wait - sched);
            std::printf("%4d %8d %8.0f %8.0f %7.0f %8.0f %8.0f %8.0f %7.2f%% %6.2f%% %7.0f\n", job,
                        int(t0 - lastEnd), raw, wait, sched, jobMs, link, floorMs,
                        100 * overs.back(), 100 * jobOvers.back(), wait - sched);
        }
        lastEnd = *end;
    }
    const ProcSample jobsAfter = sample(pid);
    const double jobsMs = double(jobsWall.nsecsElapsed()) / 1e6;
    std::printf(
        "median over %zu jobs: raw %.0f ms, %.2f%% over the floor; job %.2f%% over the link "
        "floor; picked up %.0f ms after the scheduled tick\n",
        overs.size(), median(raws), 100 * median(overs), 100 * median(jobOvers), median(picks));
    std::printf("during the jobs: on cpu %.1f ms over %.1f s = %.3f%% of a core; VmRSS %ld kB, "
                "VmHWM %ld kB\n",
                jobsAfter.onCpuMs - jobsBefore.onCpuMs, jobsMs / 1000,
                100 * (jobsAfter.onCpuMs - jobsBefore.onCpuMs) / jobsMs, jobsAfter.rssKb,
                jobsAfter.hwmKb);

    velmard.terminate();
    velmard.waitForFinished(10000);
    ecrsim.terminate();
    ecrsim.waitForFinished(3000);
    return 0;
}
