// velmar: the Velmar driver with its operator window. It starts once per
// user (a second velmar or velmard ends at once), shows the splash while the
// engine comes up, and then lives in the notification area; message boxes
// are real dialogs and also go to the log (standard error and VELMAR.LOG in
// the data directory).

#include "app/ProgramHost.h"
#include "app/ProgramOptions.h"
#include "app/QtOperatorUi.h"
#include "app/TrayIcon.h"
#include "app/fVelmar.h"
#include "common/ProgramIdentity.h"
#include "support/frmSplash.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWindow>
#include <memory>
#include <new>
#include <optional>

using namespace velmar;

namespace {

const char* const kHelp = R"(Usage: velmar [--help | --version]

The Velmar fiscal-receipt print driver with its operator window. It watches
the data directory for the host's channel files, prints each receipt on the
register and answers the host; the window shows the channels and holds the
settings. It sits in the notification area; a double click there brings the
window back.

Only one Velmar (velmar or velmard) runs per user; a second one ends at once.
)";

// The message boxes of the start-up come while the splash is on top of every
// window: it steps aside for each box, so that no box is hidden behind it.
class StartUpUi : public OperatorUi {
public:
    explicit StartUpUi(QtOperatorUi& dialogs) : dialogs_(dialogs) {}
    QPointer<QWidget> splash;
    MsgAnswer showMessage(const MessageBox& box) override {
        const bool hideSplash = splash && splash->isVisible();
        if (hideSplash) {
            splash->hide();
        }
        const MsgAnswer answer = dialogs_.showMessage(box);
        if (hideSplash && splash) {
            splash->show();
        }
        return answer;
    }

private:
    QtOperatorUi& dialogs_;
};

void startUpFailed(const QString& description, int number) {
    QApplication::restoreOverrideCursor();
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Errore durante il caricamento dell'applicazione"),
                    description + QStringLiteral(" - ") + QString::number(number));
    box.exec();
}

} // namespace

int main(int argc, char** argv) {
    QElapsedTimer sinceMain;
    sinceMain.start();
    // --help and --version answer without a display.
    QStringList args;
    for (int i = 0; i < argc; ++i) {
        args << QString::fromLocal8Bit(argv[i]);
    }
    if (const auto status = answerCommandLine(QStringLiteral("velmar"), args, kHelp, true)) {
        return *status;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velmar"));
    QApplication::setApplicationVersion(QLatin1String(identity::kVersionText));
    QApplication::setQuitOnLastWindowClosed(false); // the tray keeps the program
    if (const auto status =
            answerCommandLine(QStringLiteral("velmar"), QCoreApplication::arguments(), kHelp)) {
        return *status;
    }

    // Italian throughout, Qt's own buttons and menus too, whatever the
    // desktop's language.
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    const bool italian = installItalianTranslations();
    QApplication::setWindowIcon(ui::programIcon());

    const std::unique_ptr<ProgramHost> host = ProgramHost::claim(QStringLiteral("velmar"));
    if (!host) {
        // Another Velmar runs: a velmar brings its window forward; otherwise
        // this one says what runs, and ends.
        const QString running = InstanceBeacon::askRunning();
        if (running == QLatin1String("velmar")) {
            return 0;
        }
        QMessageBox box(QMessageBox::Information, QLatin1String(identity::kTitle),
                        running == QLatin1String("velmard")
                            ? QStringLiteral("Velmar è già in esecuzione come servizio (velmard), senza "
                                             "finestra.\nPer usare la finestra fermare prima il servizio.")
                            : QStringLiteral("Velmar è già in esecuzione."));
        box.exec();
        return 0;
    }

    ProgramLog& log = host->log();
    if (!italian) {
        log.line(QStringLiteral("velmar: Qt's Italian translations (qtbase_it.qm) are not installed; "
                                "standard buttons stay in English"));
    }
    QtOperatorUi dialogs;
    dialogs.log = [&log](const QString& text) { log.line(QStringLiteral("messaggio: ") + text); };
    StartUpUi ui(dialogs);
    VelmarProgram program(host->services(ui));
    host->attach(program);
    std::unique_ptr<fVelmar> window;
    qint64 engineMs = 0;
    try {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        QApplication::processEvents();
        frmSplash splash;
        splash.show();
        splash.raise();
        ui.splash = &splash;
        // The start-up keeps the event loop busy: paint the splash now, once
        // the window system has mapped it, or it would stay blank throughout.
        QElapsedTimer mapping;
        mapping.start();
        while (!splash.windowHandle()->isExposed() && mapping.elapsed() < 500) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        splash.repaint();
        QApplication::processEvents();

        window = std::make_unique<fVelmar>(program);
        window->log = [&log](const QString& text) { log.line(text); };
        dialogs.setParent(window.get());
        const qint64 engineStart = sinceMain.elapsed();
        const std::optional<int> failed = host->start();
        engineMs = sinceMain.elapsed() - engineStart;
        if (failed) {
            QApplication::restoreOverrideCursor();
            return *failed;
        }
        splash.close();
        QApplication::restoreOverrideCursor();
        window->show();
    } catch (const Fault& fault) {
        program.cycle.removeRegistrationFiles();
        startUpFailed(QString::fromStdString(fault.description()), fault.number());
        return 1;
    } catch (const std::bad_alloc&) {
        program.cycle.removeRegistrationFiles();
        startUpFailed(QStringLiteral("Memoria esaurita"), 7);
        return 1;
    }
    host->serving(
        QStringLiteral(
            "velmar %1: ready in %2 ms (engine start-up %3 ms), data directory %4, settings in %5")
            .arg(QLatin1String(identity::kVersionText), QString::number(sinceMain.elapsed()),
                 QString::number(engineMs), program.engine.job.DataDir, program.settings.folder()));

    // A second velmar brings this one's window forward, with the dump states.
    InstanceBeacon beacon(QStringLiteral("velmar"));
    if (!beacon.listen()) {
        log.line(QStringLiteral("velmar: a second velmar will not find this one's window"));
    }
    QObject::connect(&beacon, &InstanceBeacon::comeForward, &app, [&program, &log] {
        log.line(QStringLiteral("velmar: a second velmar was started; this window comes forward"));
        program.handlers.trayDoubleClicked();
        program.engine.panel.tray.notify(QLatin1String(identity::kTitle),
                                         QStringLiteral("Velmar è già in esecuzione: questa è la sua finestra."));
    });

    // SIGTERM, SIGINT and SIGHUP close the program as the menu's "Termina"
    // does: after the receipt being printed, if any.
    host->closeOnStopSignal([&window, &program] {
        if (program.engine.link.TransmitBusy) {
            return false;
        }
        window->requestShutDown();
        return true;
    });
    return app.exec();
}
