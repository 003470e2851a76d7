#include "app/ChannelMonitor.h"

#include "app/Engine.h"
#include "common/Cp1252.h"
#include "common/LineFile.h"
#include "jobs/JobCycle.h"
#include "support/SettingStore.h"

#include <QFileInfo>

namespace velmar {

namespace {
constexpr std::size_t at(int channel) {
    return static_cast<std::size_t>(channel);
}
} // namespace

ChannelMonitor::ChannelMonitor(Engine& engine, JobCycle& cycle, QObject* parent)
    : QObject(parent), e_(engine), cycle_(cycle), probeTimer_(engine.runtime.createTimer([this] { probeMissingPorts(); })) {
    probeTimer_->setInterval(kProbeIntervalMs);
    connect(&cycle, &JobCycle::jobEnded, this, &ChannelMonitor::jobEnded);
    connect(&cycle, &JobCycle::logLine, this, &ChannelMonitor::note); // what the job cycle has to say
    // After the cycle's own handler: the tick's job or dump is over by then.
    connect(&e_, &Engine::pollTick, this, &ChannelMonitor::refresh);
    OperatorPanel& p = e_.panel;
    for (int n = 1; n <= 4; ++n) {
        connect(&p.check(n), &CheckControl::clicked, this, &ChannelMonitor::refresh);
    }
    connect(&p.ShapeConn, &LampControl::changed, this, &ChannelMonitor::refresh);
    connect(&p.OptionRete, &OptionControl::changed, this, &ChannelMonitor::refresh);
    connect(&p.Text8, &TextControl::changed, this, &ChannelMonitor::refresh);
}

ChannelMonitor::~ChannelMonitor() = default;

QString ChannelMonitor::jobLine(int channel, const QString& statusText, const QByteArray& errorText) {
    QString line = QStringLiteral("COM%1: VELMAR TERMINATO : %2").arg(channel).arg(statusText);
    if (!errorText.isEmpty()) {
        line += QStringLiteral(" - SR_ERR: ") + cp1252::decode(errorText);
    }
    return line;
}

void ChannelMonitor::started() {
    for (int n = 1; n <= 4; ++n) {
        if (!e_.job.bPortAvailable[at(n)]) {
            e_.panel.portLamp(n).setColor(LampControl::kRed);
            emit note(QStringLiteral("COM%1: porta non disponibile (%2); nuovo controllo ogni %3 s")
                          .arg(n)
                          .arg(SettingStore::serialDevice(n))
                          .arg(kProbeIntervalMs / 1000));
        }
    }
    probeTimer_->start();
    refresh();
}

void ChannelMonitor::probeMissingPorts() {
    JobState& job = e_.job;
    // A probe sets the serial control up for another port: only while nothing
    // uses it.
    if (job.bJobRunning || job.bDumpInProgress || job.bClosing || e_.link.TransmitBusy ||
        e_.serial.portOpen()) {
        return;
    }
    bool changed = false;
    for (int n = 1; n <= 4; ++n) {
        if (job.bPortAvailable[at(n)] || !e_.ecr.ProbeSerialPort(static_cast<std::int16_t>(n))) {
            continue;
        }
        job.bPortAvailable[at(n)] = true;
        // A registration file of an earlier run would skip the register's
        // identification: the register on the port may not be the same.
        e_.files.VerifyExistenceAndKill(ChannelFiles::name("SR_MATR", n));
        e_.panel.portLamp(n).setColor(LampControl::kGreen);
        emit note(QStringLiteral("COM%1: porta di nuovo disponibile (%2)").arg(n).arg(SettingStore::serialDevice(n)));
        changed = true;
    }
    if (changed) {
        refresh();
    }
}

QString ChannelMonitor::stateOf(int n) const {
    const JobState& job = e_.job;
    OperatorPanel& p = e_.panel;
    if (p.check(n).value() != 1) {
        return QStringLiteral("Non attivo");
    }
    if (!job.bPortAvailable[at(n)]) {
        return QStringLiteral("Porta non disponibile");
    }
    if (!cycle_.dataDirectoryOk()) {
        return QStringLiteral("Cartella dati non scrivibile");
    }
    if (p.OptionRete.value() && p.ShapeConn.fillColor() != LampControl::kGreen) {
        return QStringLiteral("Rete non collegata");
    }
    if (!e_.files.exists("SR_MATR", n)) {
        // A failed identification leaves its error file.
        return e_.files.exists("SR_ERR", n) ? QStringLiteral("Non risponde")
                                            : QStringLiteral("Da riconoscere");
    }
    return noAnswer_[at(n)] ? QStringLiteral("Non risponde") : QStringLiteral("In linea");
}

void ChannelMonitor::refresh() {
    OperatorPanel& p = e_.panel;
    for (int n = 1; n <= 4; ++n) {
        p.ecrState(n).setText(stateOf(n));
        const QFileInfo matr(e_.files.path("SR_MATR", n));
        const QDateTime stamp = matr.exists() ? matr.lastModified() : QDateTime();
        if (stamp != matrSeen_[at(n)] || !matr.exists()) {
            matrSeen_[at(n)] = stamp;
            const std::vector<std::string> lines = readLines(matr.filePath()).lines;
            p.registration(n).setText(lines.empty() ? QString() : cp1252::decode(lines.front()));
        }
    }
}

void ChannelMonitor::jobEnded(int channel, const QString& statusText, const QByteArray& errorText) {
    if (channel < 1 || channel > 4) {
        return;
    }
    OperatorPanel& p = e_.panel;
    const QString time = e_.runtime.currentDateTime().toString(QStringLiteral("HH:mm:ss"));
    const QString result = errorText.isEmpty() ? statusText : cp1252::decode(errorText);
    p.lastJob(channel).setText(time + QStringLiteral("  ") + result);
    noAnswer_[at(channel)] = errorText.startsWith("E504");
    emit note(jobLine(channel, statusText, errorText));
    if (!errorText.isEmpty()) {
        p.tray.notify(QStringLiteral("Velmar - errore su COM%1").arg(channel),
                      cp1252::decode(errorText));
    }
    refresh();
}

} // namespace velmar
