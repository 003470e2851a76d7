#pragma once
// A whole Velmar program (start-up, poll timer, job cycle, shut-down) on the
// virtual runtime, talking to the in-process register model, seen from the
// host's side of the data directory: the host writes SR_DATI and SR_START and
// reads the answers, virtual time runs in microseconds.

#include "app/Modulo1.h"
#include "support/SimLink.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

namespace velmar::test {

// The program ended: whatever was running unwinds, as when the process ends.
struct ProgramEnded {};

struct CycleOptions {
    QByteArray ticks = "1000"; // VMCHKCOM.TXT
    QByteArray interval = "1"; // VMTIMER1.TXT, as the operator typed it
    int family = 0;
    bool tcp = false;
    QStringList faults{}; // the register's faults, as ecrsim --fault takes them
    std::uint64_t seed = 1;
};

// The per-user setting store of this test process lives in a folder of its
// own, so the custom data directory can point at each fixture's folder.
inline void useTestSettingStore() {
    static QTemporaryDir store;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store.path());
}

class CycleFixture {
public:
    explicit CycleFixture(const CycleOptions& o = {})
        : model(modelConfig(o.family, o.tcp, o.faults, o.seed)) {
        useTestSettingStore();
        QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Qarnwerk"),
                  QStringLiteral("QARNVELMAR"))
            .setValue(QStringLiteral("CustomPathDataDir"), dataDir.path()); // written as it goes
        writeSetting("VMCHKCOM.TXT", o.ticks + "\r\n");
        writeSetting("VMTIMER1.TXT", o.interval + "\r\n");
        writeSetting("VMCHKSCO.TXT", QByteArray::number(o.family) + "\r\n30\r\n0\r\n" +
                                         (o.tcp ? "1\r\n127.0.0.1\r\n6660\r\n" : "0\r\n\r\n\r\n") +
                                         "\r\n3500\r\n");
        makeProgram();
    }

    // The program dies where it stands (kill -9, a power cut): none of its
    // shut-down runs; the system closes its port and its connection.
    void crash() {
        program.reset();
        if (serial.portOpen()) {
            serial.setPortOpen(false);
        }
        socket.close();
        busy_ = false;
    }
    // A new run of the program, on what the last one left on disk.
    bool restart() {
        makeProgram();
        return start();
    }

    // --- the program ---------------------------------------------------------
    bool start() { return program->start(); }
    Engine& engine() { return program->engine; }
    JobState& job() { return program->engine.job; }
    OperatorPanel& panel() { return program->engine.panel; }

    // The operator ticks channel n (enabling the box first, as after a dump).
    void tick(int n) {
        panel().check(n).setEnabled(true);
        panel().check(n).setValue(1);
    }

    // The operator ticks the channels until each has SR_MATR (a successful
    // dump takes the other channels out of service, so a channel may need its
    // tick again), then ticks them all again. False when a channel could not
    // be identified in time.
    bool bringIntoService(const QList<int>& channels, int maxMs = 120000) {
        const std::int64_t deadline = rt.nowMs() + maxMs;
        for (;;) {
            int missing = 0;
            for (int n : channels) {
                if (!exists("SR_MATR", n)) {
                    missing = n;
                    break;
                }
            }
            if (missing == 0) {
                break;
            }
            if (panel().check(missing).value() != 1) {
                tick(missing);
            }
            const auto left = int(deadline - rt.nowMs());
            const auto settled = [&] {
                return exists("SR_MATR", missing) || panel().check(missing).value() != 1;
            };
            if (left <= 0 || !runUntil(settled, left)) {
                return false;
            }
        }
        for (int n : channels) {
            if (panel().check(n).value() != 1) {
                tick(n);
            }
        }
        return true;
    }

    // A close request from the operator or the service manager: false when
    // refused; true when the program ended.
    bool close() {
        try {
            return program->requestClose();
        } catch (const ProgramEnded&) {
            return true;
        }
    }

    // --- virtual time --------------------------------------------------------
    void runFor(int ms) {
        runUntil([] { return false; }, ms);
    }
    // Runs until `done` holds between two events, the program ended, or
    // `maxMs` passed. Returns whether `done` held.
    bool runUntil(const std::function<bool()>& done, int maxMs) {
        const std::int64_t deadline = rt.nowUs() + std::int64_t(maxMs) * 1000;
        while (!done()) {
            if (ended || rt.nowUs() >= deadline) {
                return false;
            }
            try {
                rt.runUntilUs(std::min(deadline, rt.nowUs() + 10000));
            } catch (const ProgramEnded&) {
            }
        }
        return true;
    }
    // Calls `fn` every `ms` of virtual time (also inside the engine's waits)
    // until it returns false.
    void every(int ms, std::function<bool()> fn) {
        rt.callLater(ms, [this, ms, fn] {
            if (fn()) {
                every(ms, fn);
            }
        });
    }

    // --- the host's side -----------------------------------------------------
    QString path(const char* base, int n) const {
        return QDir(dataDir.path()).filePath(ChannelFiles::name(base, n));
    }
    bool exists(const char* base, int n) const { return QFile::exists(path(base, n)); }
    QByteArray read(const char* base, int n) const { return readFile(path(base, n), "<missing>"); }
    void put(const char* base, int n, const QByteArray& bytes) const {
        QVERIFY(writeFile(path(base, n), bytes));
    }
    void remove(const char* base, int n) const { QFile::remove(path(base, n)); }
    // The job on channel n is answered: its start file is gone, an answer is there.
    bool answered(int n) const {
        return !exists("SR_START", n) && (exists("FINESCO", n) || exists("SR_ERR", n));
    }
    // The files of channel n there are.
    QStringList present(int n) const {
        QStringList out;
        for (const char* base : {"SR_START", "SR_DATI", "SR_MATR", "SR_OUT", "SR_ERR", "FINESCO"}) {
            if (exists(base, n)) {
                out << QLatin1String(base);
            }
        }
        return out;
    }
    // The receipt first, then the start file, as a host does.
    void writeJob(int n, const QByteArray& receipt) const {
        put("SR_DATI", n, receipt);
        put("SR_START", n, "1\r\n");
    }
    static QByteArray receipt(const QByteArray& marker) {
        return "FUNC,N25;\r\nPRNT,:" + marker + ";\r\nPLUD,:PANE,P150,N1;\r\nCASH;\r\n";
    }

    QString settingPath(const char* name) const {
        return QDir(settingsDir.path()).filePath(QLatin1String(name));
    }
    void writeSetting(const char* name, const QByteArray& bytes) const {
        QVERIFY(writeFile(settingPath(name), bytes));
    }
    QByteArray readSetting(const char* name) const {
        return readFile(settingPath(name), "<missing>");
    }

    QList<QJsonObject> documents(const QString& kind) { return journal.documents(kind); }

    // --- what was seen, with virtual times in ms ------------------------------
    struct Seen {
        std::int64_t atMs;
        int channel;
    };
    QList<Seen> jobStarts;     // the busy icon went up: a job began on iCurrentCom
    QList<Seen> jobEnds;       // the busy icon went down
    QList<std::int64_t> scans; // a poll tick ran the job step (txtTimer changed)
    QStringList text2;         // every text shown in Text2

    QTemporaryDir dataDir;
    QTemporaryDir settingsDir;
    VirtualRuntime rt;
    sim::RegisterModel model;
    ModelJournal journal{model};
    SimSerialControl serial{rt, model};
    SimSocketControl socket{rt, model};
    ScriptedOperatorUi ui;
    RecordingProgramExit programExit;
    std::unique_ptr<VelmarProgram> program;
    bool ended = false;
    std::int64_t endedAtMs = -1;

private:
    void makeProgram() {
        program = std::make_unique<VelmarProgram>(
            EngineServices{rt, serial, socket, ui, programExit, binDir()}, settingsDir.path());
        program->cycle.endProgram = [this] {
            ended = true;
            endedAtMs = rt.nowMs();
            throw ProgramEnded{};
        };
        observe();
    }
    void observe() {
        OperatorPanel& p = panel();
        QObject::connect(&p.tray, &TrayControl::changed, &p.tray, [this] {
            OperatorPanel& p = panel();
            const bool busy = p.tray.icon() == TrayControl::Icon::Busy;
            if (busy && !busy_) {
                jobStarts << Seen{rt.nowMs(), job().iCurrentCom};
            } else if (!busy && busy_) {
                jobEnds << Seen{rt.nowMs(), job().iCurrentCom};
            }
            busy_ = busy;
        });
        QObject::connect(&p.txtTimer, &TextControl::changed, &p.txtTimer,
                         [this](const QString&) { scans << rt.nowMs(); });
        QObject::connect(&p.Text2, &TextControl::changed, &p.Text2,
                         [this](const QString& t) { text2 << t; });
    }

    bool busy_ = false;
};

} // namespace velmar::test
