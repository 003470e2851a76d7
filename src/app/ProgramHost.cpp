#include "app/ProgramHost.h"

#include "common/ProgramIdentity.h"

#include <cstdlib>
#include <QCoreApplication>

namespace velmar {

std::unique_ptr<ProgramHost> ProgramHost::claim(const QString& program) {
    std::unique_ptr<QLockFile> lock;
    if (!acquireSingleInstance(lock)) {
        return nullptr;
    }
    return std::unique_ptr<ProgramHost>(new ProgramHost(program, std::move(lock)));
}

ProgramHost::ProgramHost(QString program, std::unique_ptr<QLockFile> lock)
    : lock_(std::move(lock)), name_(std::move(program)),
      log_(name_.toUpper() + QStringLiteral(".LOG")), exit_(log_, name_) {
    QObject::connect(&watcher_, &SignalWatcher::ignoredSignal, [this](int number) {
        log_.line(QStringLiteral("%1: signal %2 ignored").arg(name_).arg(number));
    });
    retry_.setInterval(500);
    QObject::connect(&retry_, &QTimer::timeout, [this] { tryClose(); });
}

EngineServices ProgramHost::services(OperatorUi& ui) {
    return EngineServices{runtime_, serial_, socket_,
                          ui,       exit_,   QCoreApplication::applicationDirPath()};
}

void ProgramHost::attach(VelmarProgram& program) {
    program_ = &program;
    // Every job's result, the ports missing and back: whatever the window
    // shows or hides.
    QObject::connect(&program.monitor, &ChannelMonitor::note,
                     [this](const QString& line) { log_.line(line); });
    QObject::connect(
        &program.engine.ecr, &EcrLink::conversionRefused, [this](const QString& reason) {
            log_.line(name_ + QStringLiteral(": receipt refused by the converter: ") + reason);
        });
    program.settings.log = [this](const QString& line) { log_.line(line); };
    QObject::connect(&program, &VelmarProgram::ended, QCoreApplication::instance(), [this] {
        // A shut-down that cut a job's or a dump's waits short ends at once:
        // what was under way must not go on to touch the channel files.
        if (program_->engine.job.bJobRunning || program_->engine.job.bDumpInProgress) {
            log_.line(name_ + QStringLiteral(
                                  ": ended during a job or dump; channel files left as they are"));
            std::exit(0);
        }
        QCoreApplication::exit(0);
    });
    // Whatever ends the program removes what tells the host that it serves.
    exit_.beforeEnd = [this] { program_->cycle.removeRegistrationFiles(); };
}

std::optional<int> ProgramHost::start() {
    if (program_->start()) {
        return std::nullopt;
    }
    log_.line(name_ + QStringLiteral(": start-up failed; see the messages above"));
    if (program_->startup.dataDirectoryTaken()) {
        return 3;
    }
    program_->cycle.removeRegistrationFiles();
    return 1;
}

void ProgramHost::serving(const QString& ready) {
    SignalWatcher::removeOnCrash(program_->cycle.registrationFiles());
    log_.openIn(program_->engine.job.DataDir);
    log_.line(ready);
}

void ProgramHost::closeOnStopSignal(std::function<bool()> close) {
    close_ = std::move(close);
    QObject::connect(&watcher_, &SignalWatcher::stopRequested, [this](int number) {
        log_.line(QStringLiteral("%1: signal %2, shutting down").arg(name_).arg(number));
        tryClose();
    });
}

void ProgramHost::tryClose() {
    if (close_()) {
        retry_.stop();
    } else {
        retry_.start();
    }
}

} // namespace velmar
