#pragma once
// The whole program on the virtual runtime, with scripted ports, in a program
// folder of its own that holds a copy of qarn_slm1 (as an installed copy does).
// Settings files are placed in that folder before start().

#include "app/Modulo1.h"
#include "support/ScriptedPorts.h"
#include "support/TestSupport.h"

#include <memory>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

namespace velmar::test {

// A serial control on which some of the ports COM1..COM4 do not exist.
class PartialSerialControl : public ScriptedSerialControl {
public:
    using ScriptedSerialControl::ScriptedSerialControl;
    QSet<int> missing;
    void setCommPort(int p) override {
        if (missing.contains(p)) {
            throw Fault(faultno::InvalidPort);
        }
        ScriptedSerialControl::setCommPort(p);
    }
};

// Points the per-user folders at `root` (config, data, runtime), so a test
// never reads or writes the real user's settings. Call before any QSettings use.
inline void isolateUserFolders(const QString& root) {
    QDir(root).mkpath(QStringLiteral("config"));
    QDir(root).mkpath(QStringLiteral("data"));
    qputenv("XDG_CONFIG_HOME", QDir(root).filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", QDir(root).filePath(QStringLiteral("data")).toLocal8Bit());
}

struct ProgramFixture {
    explicit ProgramFixture(bool withLibrary = true) {
        if (withLibrary) {
            QFile::copy(binDir() + QStringLiteral("/libqarn_slm1.so"),
                        folder(QStringLiteral("libqarn_slm1.so")));
        }
    }

    QString folder(const QString& name) const { return QDir(programDir.path()).filePath(name); }
    QString data(const QString& name) const {
        return QDir(program.engine.job.DataDir).filePath(name);
    }
    // A null `bytes` leaves the file absent; an empty one writes an empty file.
    void setting(const char* name, const QByteArray& bytes) {
        if (!bytes.isNull()) {
            writeFile(folder(QLatin1String(name)), bytes);
        }
    }
    QByteArray saved(const char* name) const { return readFile(folder(QLatin1String(name))); }
    // The four channel ticks as VMCHKCOM.TXT writes them, "1010".
    QByteArray ticks() const {
        QByteArray t;
        for (int n = 1; n <= 4; ++n) {
            t += panel.check(n).value() == 1 ? '1' : '0';
        }
        return t;
    }
    bool start() { return program.start(); }

    QTemporaryDir programDir;
    VirtualRuntime rt;
    PartialSerialControl serial{rt};
    ScriptedSocketControl socket{rt};
    ScriptedOperatorUi ui;
    RecordingProgramExit programExit;
    VelmarProgram program{EngineServices{rt, serial, socket, ui, programExit, programDir.path()},
                          programDir.path()};
    Engine& engine = program.engine;
    OperatorPanel& panel = program.engine.panel;
};

} // namespace velmar::test
