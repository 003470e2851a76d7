// velmard: the Velmar driver without windows, for a service or a kiosk.
// Settings come from the settings files and the setting store, as for the
// windowed program; message boxes and status texts go to the log (standard
// error and VELMARD.LOG in the data directory); SIGTERM, SIGINT and SIGHUP
// run the normal shut-down, which waits while a receipt is being transmitted;
// other stray signals are logged and change nothing. Exit status: 0 after a
// shut-down, 1 when the start-up or a fault ended it, 3 when another Velmar
// serves the data directory, 2 for a usage error.

#include "app/ProgramHost.h"
#include "app/ProgramOptions.h"
#include "common/ProgramIdentity.h"

#include <QCoreApplication>
#include <QTimer>

using namespace velmar;

namespace {

const char* const kHelp = R"(Usage: velmard [--help | --version]

The Velmar fiscal-receipt print driver without windows. It watches the data
directory for the host's channel files (SR_START.00n, SR_DATI.00n), prints each
receipt on the register, and answers with SR_OUT.00n and FINESCO.00n or
SR_ERR.00n.

It reads no other command line: its settings are the settings files
(VMCHKCOM.TXT, VMTIMER1.TXT, VMChkBd.txt, VMCHKSCO.TXT) beside the program
in a portable copy (a writable folder other than the package's), otherwise
in ~/.config/Qarnwerk, and the
setting store ~/.config/Qarnwerk/QARNVELMAR.conf (CustomPathDataDir, the
serial devices SerialPorts/COM1..COM4).

Only one Velmar (velmar or velmard) runs per user; a second one ends at once.
Only one Velmar serves a data directory (the lock file VMLOCK.TXT there): a
second one says which holds it and ends with status 3.
SIGTERM, SIGINT and SIGHUP end it cleanly: after the receipt being printed, if
any. SIGUSR1, SIGUSR2, SIGQUIT and SIGALRM are logged and change nothing.
)";

using Log = ProgramLog;

// What the window would show, as log lines.
void logPanel(OperatorPanel& p, Log& log) {
    for (TextControl* t : {&p.Text1, &p.Text2, &p.Text4, &p.Text5, &p.Text6, &p.Text7, &p.Text8,
                           &p.txtStatoEcr1, &p.txtStatoEcr2, &p.txtStatoEcr3, &p.txtStatoEcr4}) {
        QObject::connect(t, &TextControl::changed, [&log, t](const QString& text) {
            if (!text.isEmpty()) {
                log.line(t->name() + QStringLiteral(": ") + text);
            }
        });
    }
    QObject::connect(&p.ShapeConn, &LampControl::changed, [&log, &p] {
        log.line(p.ShapeConn.fillColor() == LampControl::kGreen ? QStringLiteral("connessione: aperta")
                                                                 : QStringLiteral("connessione: chiusa"));
    });
    QObject::connect(&p.tray, &TrayControl::changed, [&log, &p] {
        if (p.tray.visible()) {
            log.line(QStringLiteral("stato: ") + p.tray.tip());
        }
    });
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmard"));
    QCoreApplication::setApplicationVersion(QLatin1String(identity::kVersionText));
    if (const auto status =
            answerCommandLine(QStringLiteral("velmard"), QCoreApplication::arguments(), kHelp)) {
        return *status;
    }
    const std::unique_ptr<ProgramHost> host = ProgramHost::claim(QStringLiteral("velmard"));
    if (!host) {
        return 0; // another Velmar runs: this one ends at once
    }
    Log& log = host->log();
    LoggingOperatorUi ui([&log](const QString& text) { log.line(QStringLiteral("messaggio: ") + text); });
    VelmarProgram program(host->services(ui));
    logPanel(program.engine.panel, log);
    host->attach(program);
    if (const auto status = host->start()) {
        return *status;
    }
    host->serving(QStringLiteral("velmard %1: data directory %2, settings in %3")
                      .arg(QLatin1String(identity::kVersionText), program.engine.job.DataDir,
                           program.settings.folder()));

    // A second velmar learns that velmard runs, without a window.
    InstanceBeacon beacon(QStringLiteral("velmard"));
    beacon.listen();
    QObject::connect(&beacon, &InstanceBeacon::comeForward, &app, [&log] {
        log.line(QStringLiteral("velmard: a second velmar was started; it was told that velmard runs"));
    });

    // In network mode a dump whose reset went unanswered waits for the
    // operator's "Reset Connessione". velmard has no button: it presses it
    // when a dump has stayed pending over two checks 30 s apart (a dump takes
    // seconds).
    QTimer pendingDump;
    bool seenPending = false;
    pendingDump.setInterval(30000);
    QObject::connect(&pendingDump, &QTimer::timeout, [&program, &log, &seenPending] {
        Engine& e = program.engine;
        const bool pending = e.panel.OptionRete.value() && e.job.bDumpInProgress &&
                             !e.job.bDumpConfActive && !e.link.TransmitBusy;
        if (pending && seenPending) {
            log.line(QStringLiteral("velmard: the register did not answer; resetting the connection"));
            seenPending = false;
            e.ecr.cmdResetConn_Click();
            return;
        }
        seenPending = pending;
    });
    pendingDump.start();

    // A stop request waits for the receipt being printed, then shuts down.
    host->closeOnStopSignal([&program, &log, waiting = false]() mutable {
        if (program.requestClose()) {
            waiting = false;
            return true;
        }
        if (!waiting) {
            log.line(QStringLiteral("velmard: a receipt is being printed; closing when it is done"));
            waiting = true;
        }
        return false;
    });
    return app.exec();
}
