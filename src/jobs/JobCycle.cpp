#include "jobs/JobCycle.h"

#include "app/Engine.h"
#include "common/Fault.h"

#include <QFileInfo>

namespace velmar {

namespace {
constexpr int kAfterJobMs = 1000; // the settle tick after a job or a dump
}

QByteArray JobCycle::errorText(std::int16_t code) {
    switch (code) {
    case -1: return "E505: Totale scontrino negativo";
    case -2:
    case -4: return "E504: Nessun messaggio ricevuto: controllare connessione con l'Ecr";
    case -3: return "E509: Coperchio stampante aperto";
    case -5: return "Errore generico sull'Ecr, verificare sul manuale del registratore";
    case -7: return "E508: Giornale elettronico esaurito : sostituire";
    case -8: return "E507: Giornale elettronico in esaurimento";
    case -9: return "E1: MF esaurita : contattare assistenza tecnica";
    case -10: return "Fine Buffer di stampa: chiudere manualmente lo scontrino";
    case -11: return "ERRORE DI CONVERSIONE ";
    // A receipt that never reached the register is never a success for the
    // host: the nearest texts hosts already know.
    case -12: return kE502;
    case -100: return kE506;
    default: return {};
    }
}

QString JobCycle::statusText(std::int16_t code) {
    switch (code) {
    case 0: return QStringLiteral("TUTTO OK");
    case -1: return QStringLiteral("TOTALE SCONTRINO NEGATIVO");
    case -2: return QStringLiteral("SCONTRINO APERTO");
    case -3: return QStringLiteral("CHIUDERE SPORTELLINO STAMPANTE");
    case -4: return QStringLiteral("TIMEOUT SCADUTO");
    case -5: return QStringLiteral("ERRORE GENERICO SU ECR");
    case -7: return QStringLiteral("GIORNALE ELETTR. ESAURITO : SOSTITUIRE");
    case -8: return QStringLiteral("GIORNALE ELETTR. IN ESAURIMENTO : SOSTITUIRE");
    case -9: return QStringLiteral("MF ESAURITA");
    case -10: return QStringLiteral("BUFFER STAMPA ESAURITO : CHIUDERE SCONTRINO");
    case -11: return QStringLiteral("ERRORE DI CONVERSIONE ");
    case -12: return QStringLiteral("PORTA SERIALE NON DISPONIBILE");
    case -100: return QStringLiteral("FILE DI INPUT NON PRESENTE");
    default: return {};
    }
}

JobCycle::JobCycle(Engine& engine, QObject* parent) : QObject(parent), e_(engine) {
    connect(&e_, &Engine::pollTick, this, &JobCycle::Timer21_Timer);
}

void JobCycle::Timer21_Timer() {
    JobState& job = e_.job;
    if (job.bDumpInProgress) {
        return; // the timer stays armed; nothing else happens
    }
    e_.Timer21->stop();
    if (job.iSettleTicks != 0) {
        job.iSettleTicks = 0;
        e_.Timer21->setInterval(job.nPollInterval);
        e_.Timer21->start();
        return;
    }
    if (job.bShowStatus) {
        heartbeat_ = !heartbeat_;
        e_.panel.Text3.setText(heartbeat_ ? QStringLiteral("Timer ON") : QStringLiteral("Timer on"));
    }
    job.iTickCount = job.iTickCount < 30001 ? std::int16_t(job.iTickCount + 1) : std::int16_t(0);
    e_.panel.txtTimer.setText(QString::number(job.iTickCount));
    txtTimer_Change();
}

std::int16_t JobCycle::iVerifyStartVelmar() {
    JobState& job = e_.job;
    bool anyPort = false;
    for (std::int16_t n = 1; n <= 4; ++n) {
        const bool available = job.bPortAvailable[static_cast<std::size_t>(n)];
        anyPort = anyPort || available;
        if (e_.panel.check(n).value() != 1 || !available) {
            continue;
        }
        if (!e_.files.exists("SR_MATR", n)) {
            e_.dump.RunDumpRequest(n);
            continue;
        }
        job.iCurrentCom = n;
        if (e_.files.exists("SR_START", n)) {
            e_.files.VerifyExistenceAndKill(ChannelFiles::name("FINESCO", n));
            e_.files.SubKillFileOut();
            job.bDumpConf[static_cast<std::size_t>(n)] = false;
            return n; // a lower channel always wins
        }
    }
    if (!anyPort) {
        for (int n = 1; n <= 4; ++n) {
            e_.files.WriteErrFile(kE502, n);
        }
    }
    return 0;
}

void JobCycle::txtTimer_Change() {
    JobState& job = e_.job;
    // A fault in the step is passed over; the step goes on.
    const auto step = [](const std::function<void()>& fn) {
        try {
            fn();
        } catch (const Fault&) {
        }
    };
    e_.Timer21->stop();
    std::int16_t n = 0;
    step([&] { n = iVerifyStartVelmar(); });
    bool ready = false;
    if (n >= 1 && n <= 4) {
        job.iCurrentCom = n;
        const QString dati = e_.files.path("SR_DATI", n);
        if (!QFileInfo::exists(dati)) {
            step([&] {
                e_.files.WriteErrFile(kE506, n);
                e_.files.SubKillStartFile();
            });
        } else {
            job.InputFilePath = dati;
            job.OutputFilePath = e_.files.path("SR_OUT", n);
            ready = true;
        }
    }
    if (!ready || job.bDumpInProgress) {
        e_.Timer21->start();
        return;
    }

    job.bJobRunning = true;
    e_.panel.tray.show(TrayControl::Icon::Busy, QStringLiteral("Velmar in esecuzione..."));
    if (job.bShowStatus) {
        e_.panel.Text2.setText(QStringLiteral("TRASMISSIONE VELMAR IN CORSO .."));
    }
    if (e_.panel.chbTrace.value() == 1) {
        e_.trace.openTrace();
    }
    std::int16_t code = 0;
    step([&] { code = e_.ecr.TransmitFile(); });
    step([&] { FinishJob(code); });
    if (e_.trace.isOpen() && e_.panel.chbTrace.value() == 1) {
        e_.trace.closeTrace();
    }
}

void JobCycle::FinishJob(std::int16_t code) {
    JobState& job = e_.job;
    OperatorPanel& p = e_.panel;
    const bool ended = job.bJobRunning;
    QByteArray written;
    if (job.bShowStatus && job.bJobRunning) {
        p.Text2.setText(QStringLiteral("VELMAR TERMINATO : ") + statusText(code));
        if (code == 0) {
            p.Text1.setText(QString());
        }
    }
    if (job.bJobRunning) {
        if (code == 0) {
            e_.files.SubKillErrFile();
            e_.files.SubKillDatiFile(); // the register accepted the receipt
            e_.files.SubKillStartFile();
        } else {
            const QByteArray text = errorText(code);
            if (!text.isEmpty()) {
                e_.files.WriteErrFile(text, job.iCurrentCom);
                written = text;
            }
            e_.files.SubKillStartFile();
        }
        job.bJobRunning = false;
    }
    job.iSettleTicks = 2;
    e_.Timer21->setInterval(kAfterJobMs);
    e_.Timer21->start();
    p.CMBFile.setEnabled(true);
    p.tray.show(TrayControl::Icon::Window, QStringLiteral("Velmar in attesa esecuzione..."));
    if (ended) {
        emit jobEnded(job.iCurrentCom, statusText(code), written);
    }
}

bool JobCycle::requestClose() {
    JobState& job = e_.job;
    if (e_.link.TransmitBusy) {
        return false;
    }
    e_.Timer21->stop();
    job.bClosing = true;
    e_.panel.tray.remove();
    e_.panel.Form1.setVisible(true); // "Chiusura programma Velmar in corso ..."
    e_.runtime.serveEvents(false);
    e_.runtime.sleepServing(1000);

    const auto finish = [this] {
        if (saveSettings) {
            saveSettings();
        }
        e_.panel.Form1.setVisible(false);
        if (endProgram) {
            endProgram();
        }
    };
    if ((job.bDumpInProgress || job.bJobRunning) && !job.bDumpConfActive) {
        // A job or dump is still waiting: cut its waits short and leave the
        // channel files as they are.
        e_.link.ReplyTimedOut = true;
        e_.runtime.serveEvents(false);
        e_.runtime.sleepServing(2000);
        finish();
        return true;
    }
    for (std::int16_t n = 1; n <= 4; ++n) {
        if (!job.bPortAvailable[static_cast<std::size_t>(n)]) {
            continue;
        }
        job.iCurrentCom = n;
        e_.ecr.CloseSerialPort();
        e_.runtime.sleepServing(1000);
        for (const char* base : {"SR_MATR", "SR_START", "SR_ERR", "SR_OUT", "FINESCO"}) {
            e_.files.VerifyExistenceAndKill(ChannelFiles::name(base, n));
        }
    }
    finish();
    return true;
}

} // namespace velmar
