#include "app/Modulo1.h"

#include "app/Folders.h"

#include <QDir>
#include <QStandardPaths>

namespace velmar {

VelmarProgram::VelmarProgram(EngineServices services, const QString& settingsFolder, QObject* parent)
    : QObject(parent), engine(std::move(services)),
      settings(engine, settingsFolder.isEmpty() ? Folders::settingsFolder(engine.programFolder)
                                                : settingsFolder),
      cycle(engine), startup(engine, cycle, settings), handlers(engine, settings), monitor(engine, cycle) {
    engine.ecr.setProgramFolder(settings.folder()); // VMChkBd.txt lives with the other settings
    cycle.saveSettings = [this] { settings.SaveSettings(); };
    cycle.endProgram = [this] { emit ended(); };
}

bool VelmarProgram::start() {
    if (!startup.Form_Load()) {
        return false;
    }
    handlers.showTimerState();
    monitor.started();
    return true;
}

bool acquireSingleInstance(std::unique_ptr<QLockFile>& lock) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    QDir().mkpath(folder);
    lock = std::make_unique<QLockFile>(QDir(folder).filePath(QStringLiteral("velmar.lock")));
    lock->setStaleLockTime(0); // a lock of a process that is gone is taken over
    return lock->tryLock(0);
}

} // namespace velmar
