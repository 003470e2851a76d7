#include "app/Modulo1.h"

#include "app/Folders.h"

#include <QDir>
#include <QEventLoop>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

namespace velmar {

VelmarProgram::VelmarProgram(EngineServices services, const QString& settingsFolder, QObject* parent)
    : QObject(parent), engine(std::move(services)),
      settings(engine, settingsFolder.isEmpty() ? Folders::settingsFolder(engine.programFolder)
                                                : settingsFolder),
      cycle(JobCycleContext{engine.runtime, engine.panel, engine.job, engine.link, engine.files,
                            engine.trace, engine.dump, engine.ecr, *engine.Timer21}),
      cycleTick_(connect(&engine, &Engine::pollTick, &cycle, &JobCycle::Timer21_Timer)),
      startup(engine, cycle, settings), handlers(engine, settings), monitor(engine, cycle) {
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

namespace {

QString runtimeFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    QDir().mkpath(folder);
    return folder;
}

QString beaconName() {
    return QDir(runtimeFolder()).filePath(QStringLiteral("velmar.sock"));
}

} // namespace

InstanceBeacon::InstanceBeacon(QString program, QObject* parent)
    : QObject(parent), program_(std::move(program)), server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (!peer->canReadLine()) {
                    return;
                }
                const QByteArray request = peer->readLine().trimmed();
                peer->write(program_.toUtf8() + '\n');
                peer->flush();
                if (request == "show") {
                    emit comeForward();
                }
            });
        }
    });
}

bool InstanceBeacon::listen() {
    // Only the holder of the one-instance lock listens: a name left by a
    // program that ended without closing it is stale.
    QLocalServer::removeServer(beaconName());
    return server_->listen(beaconName());
}

QString InstanceBeacon::askRunning(int timeoutMs) {
    QLocalSocket socket;
    QEventLoop loop;
    QString answer;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QLocalSocket::connected, &loop, [&socket] { socket.write("show\n"); });
    QObject::connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
        if (socket.canReadLine()) {
            answer = QString::fromUtf8(socket.readLine().trimmed());
            loop.quit();
        }
    });
    QObject::connect(&socket, &QLocalSocket::errorOccurred, &loop, &QEventLoop::quit);
    socket.connectToServer(beaconName());
    if (answer.isEmpty() && socket.state() != QLocalSocket::UnconnectedState) {
        loop.exec();
    }
    return answer;
}

bool acquireSingleInstance(std::unique_ptr<QLockFile>& lock) {
    const QString folder = runtimeFolder();
    lock = std::make_unique<QLockFile>(QDir(folder).filePath(QStringLiteral("velmar.lock")));
    lock->setStaleLockTime(0); // a lock of a process that is gone is taken over
    return lock->tryLock(0);
}

} // namespace velmar
