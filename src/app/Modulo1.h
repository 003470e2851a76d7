#pragma once
// The program: the engine, the settings files, the job cycle, the start-up
// and the operator's handlers, and the one-instance rule that `velmar` and
// `velmard` share.

#include "app/ChannelMonitor.h"
#include "app/Engine.h"
#include "app/OperatorHandlers.h"
#include "app/SettingsFiles.h"
#include "app/StartUp.h"
#include "jobs/JobCycle.h"

#include <QLocalServer>
#include <QLockFile>
#include <memory>

namespace velmar {

class VelmarProgram : public QObject {
    Q_OBJECT
public:
    // `settingsFolder` empty: the rule of Folders::settingsFolder.
    explicit VelmarProgram(EngineServices services, const QString& settingsFolder = {},
                           QObject* parent = nullptr);

    Engine engine;
    SettingsFiles settings;
    JobCycle cycle;
    // The poll tick reaches the job cycle first, the channel monitor after it.
    QMetaObject::Connection cycleTick_;
    StartUp startup;
    OperatorHandlers handlers;
    ChannelMonitor monitor;

    // The load sequence; false when the program must end.
    bool start();
    // A close request: false while a transmission runs.
    bool requestClose() { return cycle.requestClose(); }

signals:
    // The shut-down is done: the program may end.
    void ended();
};

// The running Velmar answers a second one on a per-user local socket beside
// the one-instance lock: a second velmar asks it to bring its window forward
// and learns whether a velmar (with a window) or a velmard runs.
class InstanceBeacon : public QObject {
    Q_OBJECT
public:
    // `program` is "velmar" or "velmard", the answer a second one receives.
    explicit InstanceBeacon(QString program, QObject* parent = nullptr);
    bool listen();
    // Asks the running one to come forward: its answer ("velmar",
    // "velmard"), or empty when none answered within `timeoutMs`.
    static QString askRunning(int timeoutMs = 3000);

signals:
    void comeForward(); // a second velmar was started

private:
    QString program_;
    QLocalServer* server_ = nullptr;
};

// Holds the one-instance lock for the whole run: false when another Velmar
// (windowed or not) runs for this user. The lock lives in the per-user runtime
// folder ($XDG_RUNTIME_DIR), which a test may point elsewhere.
bool acquireSingleInstance(std::unique_ptr<QLockFile>& lock);

} // namespace velmar
