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

// Holds the one-instance lock for the whole run: false when another Velmar
// (windowed or not) runs for this user. The lock lives in the per-user runtime
// folder ($XDG_RUNTIME_DIR), which a test may point elsewhere.
bool acquireSingleInstance(std::unique_ptr<QLockFile>& lock);

} // namespace velmar
