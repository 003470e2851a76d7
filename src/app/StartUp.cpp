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
    // Stale channel files of an earlier run go; the host's receipt files stay:
    // only the register's acceptance of a receipt removes one. So does the
    // start file of a job the earlier run left in flight: it is answered once
    // the register is identified.
    for (int n = 1; n <= 4; ++n) {
        if (!job.bPortAvailable[static_cast<std::size_t>(n)]) {
            continue;
        }
        for (const char* base : {"SR_START", "SR_MATR", "SR_ERR", "SR_OUT", "FINESCO"}) {
            if (cycle_.needsAnswer(n) && QByteArray(base) == "SR_START") {
                continue;
            }
            e.files.VerifyExistenceAndKill(ChannelFiles::name(base, n));
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
