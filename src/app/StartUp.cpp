#include "app/StartUp.h"

#include "app/Engine.h"
#include "app/Folders.h"
#include "jobs/JobCycle.h"

#include <QByteArray>
#include "support/modRegistry.h"

#include <QDir>
#include <QFileInfo>

namespace velmar {

bool StartUp::chooseDataDirectory() {
    OperatorPanel& p = engine_.panel;
    QString dataDir = engine_.programFolder;
    if (Folders::IsOS_Vista(engine_.programFolder)) {
        const QString common = Folders::Read_CSIDL_COMMON_APPDATA();
        if (common.isEmpty()) {
            engine_.ui.message(QStringLiteral("Path non disponibile"));
        } else {
            dataDir = QDir(common).filePath(QStringLiteral("QARNVELMAR"));
#ifndef Q_OS_WIN
            QDir().mkpath(dataDir); // no installer makes it here
#endif
            if (!QFileInfo(dataDir).isDir()) {
                engine_.ui.message(dataDir + QStringLiteral(" : DIR NON ESISTENTE"));
                return false;
            }
        }
        p.txtAppDataVista.setText(QDir::toNativeSeparators(dataDir));
    }
    p.lblPathVista.setVisible(true);
    p.txtAppDataVista.setVisible(true);
    manualFolder_ = Folders::manualFolder(engine_.programFolder, dataDir);

    const QString custom = GetCustomDataDir();
    if (!custom.isEmpty()) {
        dataDir = custom;
    }
    p.txtAppDataVista.setText(QDir::toNativeSeparators(dataDir));
    engine_.setDataDirectory(QDir::cleanPath(dataDir));
    return true;
}

bool StartUp::Form_Load() {
    Engine& e = engine_;
    OperatorPanel& p = e.panel;
    JobState& job = e.job;

    job.nPollInterval = 1000;
    if (!ProbeConversionLibrary(e.library, e.programFolder, e.ui)) {
        return false;
    }
    e.trace.closeTrace();
    if (!chooseDataDirectory()) {
        return false;
    }
    // One Velmar per data directory: a second one touches nothing there.
    QString about;
    switch (cycle_.lockDataDirectory(about)) {
    case safefile::FolderLock::Result::Held:
        dataDirectoryTaken_ = true;
        e.ui.message(QStringLiteral("La cartella dati %1 è già servita da un altro Velmar (%2): "
                                    "questo Velmar non la serve e termina.")
                         .arg(QDir::toNativeSeparators(job.DataDir), about),
                     MsgIcon::Exclamation);
        return false;
    case safefile::FolderLock::Result::Failed:
        emit cycle_.logLine(QStringLiteral("impossibile creare %1 nella cartella dati (%2)")
                                .arg(QLatin1String(JobCycle::kLockFile), about));
        break;
    case safefile::FolderLock::Result::Taken: break;
    }
    cycle_.dataDirectoryUsable(true); // said plainly when Velmar may not write there
    cycle_.loadRecords(); // a job Velmar stopped in the middle of is answered, not dropped

    job.bJobRunning = false;
    job.bDumpInProgress = false;
    job.bShowStatus = false;
    job.iSettleTicks = 0;
    job.iTickCount = 0;
    e.link.ResetString = "KK";
    e.link.XonChar = 17;
    e.link.XoffChar = 19;
    if (e.link.BaudRate == 0) {
        e.link.BaudRate = 9600;
    }

    settings_.loadChannelTicks();
    // A missing port keeps its tick: the tick is the operator's choice and is
    // saved as it is; the channel scan passes the channel over until the port
    // is there (ChannelMonitor probes it again).
    for (int n = 1; n <= 4; ++n) {
        job.bPortAvailable[static_cast<std::size_t>(n)] = e.ecr.ProbeSerialPort(static_cast<std::int16_t>(n));
    }
    // What an earlier run left: its registration files go (the register is
    // identified again), and so do the start files of jobs it never took.
    // The answers of its finished jobs stay until the host collects them, and
    // the host's receipt files stay: only the register's acceptance of a
    // receipt removes one. A job the earlier run left in flight keeps its
    // start file: it is answered once the register is identified.
    cycle_.removeRegistrationFiles();
    for (int n = 1; n <= 4; ++n) {
        if (!job.bPortAvailable[static_cast<std::size_t>(n)]) {
            continue;
        }
        if (!cycle_.needsAnswer(n)) {
            e.files.VerifyExistenceAndKill(ChannelFiles::name("SR_START", n));
        }
        p.portLamp(n).setColor(LampControl::kGreen);
    }
    for (int n = 1; n <= 4; ++n) {
        job.bDumpConf[static_cast<std::size_t>(n)] = true;
    }

    settings_.loadPollInterval();
    settings_.loadLineSpeed();
    settings_.loadOptions();

    p.tray.show(TrayControl::Icon::Window, QStringLiteral("Velmar in attesa esecuzione..."));

    if (p.OptionRete.value() && !p.TcpPort.text().isEmpty() && !e.socket.remoteHost().isEmpty()) {
        e.socket.setRemotePort(p.TcpPort.text().toInt());
        e.ecr.ConnectSocket(false);
    }
    // The mode follows the loaded ticks: any tick set is service (polling,
    // test and cancel), none is configuration (no polling).
    e.Timer21->stop();
    e.Timer21->setInterval(job.nPollInterval);
    bool anyTick = false;
    for (int n = 1; n <= 4; ++n) {
        anyTick = anyTick || p.check(n).value() == 1;
    }
    if (anyTick) {
        e.ecr.EnterServiceMode();
    } else {
        e.ecr.EnterConfigMode();
    }
    return true;
}

} // namespace velmar
