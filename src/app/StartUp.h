#pragma once
// Bringing the engine up (the main window's load, without the window) and
// down (the shut-down of a close request).

#include "app/SettingsFiles.h"

#include <QString>
#include <functional>

namespace velmar {

class Engine;
class JobCycle;

class StartUp {
public:
    StartUp(Engine& engine, JobCycle& cycle, SettingsFiles& settings)
        : engine_(engine), cycle_(cycle), settings_(settings) {}

    // The load sequence: library probe, data directory, job state, settings,
    // port probes, stale channel files, tray icon, network connection, poll
    // timer. False when the program must end (the reason was told).
    bool Form_Load();

    // The manual's folder: the data directory chosen before the custom one.
    const QString& manualFolder() const { return manualFolder_; }
    // The start-up ended because another Velmar serves the data directory.
    bool dataDirectoryTaken() const { return dataDirectoryTaken_; }

private:
    bool chooseDataDirectory();

    Engine& engine_;
    JobCycle& cycle_;
    SettingsFiles& settings_;
    QString manualFolder_;
    bool dataDirectoryTaken_ = false;
};

} // namespace velmar
