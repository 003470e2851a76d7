#pragma once
// What velmar and velmard share around the program: the one-instance lock,
// the program log, the real clock and channel ports, the signals and the
// shut-down. Each main keeps what is its own: the window, or the log lines
// that stand in for it.

#include "app/Modulo1.h"
#include "app/ProgramLog.h"
#include "common/QtRuntime.h"
#include "common/SignalWatcher.h"
#include "link/QtSerialControl.h"
#include "link/QtSocketControl.h"

#include <functional>
#include <memory>
#include <optional>
#include <QLockFile>
#include <QTimer>

namespace velmar {

class ProgramHost {
public:
    // Takes the one-instance lock for `program` ("velmar" or "velmard"):
    // null when another Velmar runs for this user. From then on no stray
    // signal ends the program where it stands, and the log is kept
    // (VELMAR.LOG or VELMARD.LOG once the data directory is known).
    static std::unique_ptr<ProgramHost> claim(const QString& program);

    ProgramLog& log() { return log_; }
    // What a VelmarProgram runs on, with `ui` for its messages.
    EngineServices services(OperatorUi& ui);
    // Before program.start(): the job results, the converter's refusals and
    // the settings files' faults go to the log; the end of the program ends
    // the event loop; whatever ends it removes the registration files.
    void attach(VelmarProgram& program);
    // program.start(): nullopt when the program serves, else its exit status
    // (3: another Velmar serves the data directory, 1: any other failure).
    std::optional<int> start();
    // The program serves: a crash removes its registration files, the log
    // file opens in the data directory and `ready` is its first own line.
    void serving(const QString& ready);
    // SIGTERM, SIGINT and SIGHUP try `close` at once, then every 500 ms until
    // it returns true (a receipt being printed is finished first).
    void closeOnStopSignal(std::function<bool()> close);

private:
    ProgramHost(QString program, std::unique_ptr<QLockFile> lock);
    void tryClose();

    std::unique_ptr<QLockFile> lock_;
    QString name_;
    SignalWatcher watcher_;
    ProgramLog log_;
    LoggedProgramExit exit_;
    QtRuntime runtime_;
    QtSerialControl serial_;
    QtSocketControl socket_;
    VelmarProgram* program_ = nullptr;
    std::function<bool()> close_;
    QTimer retry_;
};

} // namespace velmar
