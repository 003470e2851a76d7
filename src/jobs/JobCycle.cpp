#include "jobs/JobCycle.h"

#include "channel/ChannelFiles.h"
#include "channel/JobState.h"
#include "channel/TraceLog.h"
#include "common/Fault.h"
#include "common/Runtime.h"
#include "ident/ConfigDump.h"
#include "link/EcrLink.h"
#include "panel/OperatorPanel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace velmar {

namespace {
constexpr int kAfterJobMs = 1000;     // the settle tick after a job or a dump
constexpr int kFirstDumpPauseMs = 2000; // after a failed dump; doubles up to the next
constexpr int kLongestDumpPauseMs = 60000;

bool printedCode(std::int16_t code) {
    return code == 0;
}
} // namespace

QByteArray JobCycle::errorText(std::int16_t code) {
    switch (code) {
    case -1: return "E505: Totale scontrino negativo";
    case -2:
    case -4: return kE504;
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
    // Velmar's own: a receipt that may have printed, and one that could not
    // be sent because its files could not be written.
    case EcrLink::kOutcomeUnknown: return kE510;
    case EcrLink::kDataDirFault: return kE503;
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
    case EcrLink::kOutcomeUnknown: return QStringLiteral("ESITO SCONOSCIUTO : VERIFICARE SU ECR");
    case EcrLink::kDataDirFault: return QStringLiteral("CARTELLA DATI NON SCRIVIBILE");
    case EcrLink::kReceiptChanged: return QStringLiteral("SCONTRINO MODIFICATO : RIPETO");
    default: return {};
    }
}

JobCycle::JobCycle(JobCycleContext context, QObject* parent) : QObject(parent), e_(context) {
    e_.dump.onRegisterSilent = [this](int channel) { registerSilent(channel); };
    e_.dump.onReceiptNumber = [this](int channel, int number) {
        // Not while a job of the channel waits for its answer: its receipt
        // may be the one this number counts.
        if (!record(channel).needsAnswer()) {
            e_.link.LastReceiptNumber = number;
            record(channel).lastReceipt = number;
            saveRecord(channel);
        }
    };
    connect(&e_.ecr, &EcrLink::jobFileFault, this, [this](const QString& what) {
        emit logLine(QStringLiteral("COM%1: ").arg(e_.job.iCurrentCom) + what);
    });
    connect(&e_.ecr, &EcrLink::portInUse, this, [this](const QString& what) {
        emit logLine(QStringLiteral("COM%1: ").arg(e_.job.iCurrentCom) + what);
    });
}

safefile::FolderLock::Result JobCycle::lockDataDirectory(QString& about) {
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty()) {
        user = QString::number(::geteuid());
    }
    const QByteArray owner =
        QStringLiteral("%1 pid %2, utente %3, computer %4, dal %5\n")
            .arg(QCoreApplication::applicationName(), QString::number(QCoreApplication::applicationPid()),
                 user, QSysInfo::machineHostName(),
                 e_.runtime.currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
            .toUtf8();
    const auto result = dataLock_.take(e_.job.DataDir, QLatin1String(kLockFile), owner);
    about = dataLock_.about();
    return result;
}

bool JobCycle::dataDirectoryUsable(bool probe) {
    const QString dir = e_.job.DataDir;
    QString why;
    bool ok = true;
    if (!dataLock_.held()) {
        // The folder could not take the lock at start-up: it is taken first.
        QString about;
        const auto taken = lockDataDirectory(about);
        ok = taken == safefile::FolderLock::Result::Taken;
        if (taken == safefile::FolderLock::Result::Held) {
            why = QStringLiteral("servita da un altro Velmar: ") + about;
        } else if (!ok) {
            why = about;
        }
    }
    if (ok && probe) {
        ok = safefile::canWriteIn(dir, QLatin1String(kProbeFile), kProbeBytes, &why);
    } else if (ok && ::access(QFile::encodeName(dir).constData(), W_OK | X_OK) != 0) {
        ok = false;
        why = safefile::reason(errno);
    }
    if (ok == dataDirOk_ && why == dataDirWhy_) {
        return ok;
    }
    dataDirOk_ = ok;
    dataDirWhy_ = why;
    if (!ok) {
        emit logLine(QStringLiteral("cartella dati %1 non scrivibile (%2): nessun lavoro preso "
                                    "finché Velmar non può scriverci; nuovo controllo a ogni ciclo")
                         .arg(dir, why));
        e_.panel.Text2.setText(QLatin1String(kDataDirStatus));
    } else {
        emit logLine(QStringLiteral("cartella dati %1 di nuovo scrivibile: Velmar riprende i lavori").arg(dir));
        if (e_.panel.Text2.text() == QLatin1String(kDataDirStatus)) {
            e_.panel.Text2.setText(QString());
        }
    }
    return ok;
}

QStringList JobCycle::registrationFiles() const {
    QStringList files;
    for (int n = 1; n <= 4; ++n) {
        files << e_.files.path("SR_MATR", n);
    }
    return files;
}

void JobCycle::removeRegistrationFiles() {
    if (!dataLock_.held()) {
        return; // another Velmar's, or none
    }
    for (int n = 1; n <= 4; ++n) {
        e_.files.VerifyExistenceAndKill(ChannelFiles::name("SR_MATR", n));
    }
}

QString JobCycle::answerBlocked(int n) const {
    // SR_OUT in the way is no bar: the job is answered E503 without a byte sent.
    for (const char* base : {"SR_ERR", "FINESCO"}) {
        if (safefile::isRealFolder(e_.files.path(base, n))) {
            return ChannelFiles::name(base, n) + QStringLiteral(" è una cartella");
        }
    }
    if (safefile::isRealFolder(e_.files.path(JobRecord::fileName(n)))) {
        return JobRecord::fileName(n) + QStringLiteral(" è una cartella");
    }
    return {};
}

void JobCycle::answerOutOfService(int n) {
    const auto i = static_cast<std::size_t>(n);
    if (!e_.files.exists("SR_START", n) || record(n).needsAnswer()) {
        return;
    }
    const FileIdentity start = FileIdentity::of(e_.files.path("SR_START", n));
    if (start == outOfServiceAnswered_[i]) {
        return; // answered already; its start file could not be deleted
    }
    outOfServiceAnswered_[i] = start;
    if (!dataDirectoryUsable(true) || !answerBlocked(n).isEmpty()) {
        outOfServiceAnswered_[i] = {};
        return;
    }
    const std::int16_t current = e_.job.iCurrentCom;
    e_.job.iCurrentCom = static_cast<std::int16_t>(n);
    if (e_.files.WriteErrFile(kE512, n)) {
        e_.files.SubKillStartFile();
    }
    e_.job.iCurrentCom = current;
    emit logLine(QStringLiteral("COM%1: canale non in servizio (%2): lavoro respinto con E512")
                     .arg(n)
                     .arg(e_.panel.check(n).value() != 1 ? QStringLiteral("non spuntato")
                                                         : QStringLiteral("porta non disponibile")));
}

void JobCycle::loadRecords() {
    QDateTime newest;
    for (int n = 1; n <= 4; ++n) {
        bool ok = true;
        records_[static_cast<std::size_t>(n)] =
            JobRecord::load(e_.files.path(JobRecord::fileName(n)), &ok);
        if (!ok) {
            emit logLine(JobRecord::fileName(n) + QStringLiteral(" non leggibile: ignorato"));
        }
        if (record(n).needsAnswer()) {
            emit logLine(QStringLiteral("COM%1: lavoro interrotto all'arresto precedente, "
                                        "risposta all'host dopo il dump")
                             .arg(n));
        }
        // The register's count is the one the latest job saw: channels in
        // network mode share one register.
        if (record(n).takenAt.isValid() && (!newest.isValid() || record(n).takenAt > newest)) {
            newest = record(n).takenAt;
            e_.link.LastReceiptNumber = record(n).lastReceipt;
        }
    }
}

bool JobCycle::cancelOwed(int channel) const {
    // Over TCP every channel reaches the same register.
    if (!e_.panel.serialMode()) {
        for (int n = 1; n <= 4; ++n) {
            if (records_[static_cast<std::size_t>(n)].pendingVoid) {
                return true;
            }
        }
    }
    return records_[static_cast<std::size_t>(channel)].pendingVoid;
}

void JobCycle::noteCancelOwed(int channel, bool owed) {
    record(channel).pendingVoid = owed;
    if (!owed && !e_.panel.serialMode()) {
        for (int n = 1; n <= 4; ++n) {
            if (n != channel && record(n).pendingVoid) {
                record(n).pendingVoid = false;
                saveRecord(n);
            }
        }
    }
}

bool JobCycle::needsAnswer(int channel) const {
    return records_[static_cast<std::size_t>(channel)].needsAnswer();
}

bool JobCycle::saveRecord(int channel) {
    if (record(channel).save(e_.files.path(JobRecord::fileName(channel)))) {
        return true;
    }
    emit logLine(QStringLiteral("impossibile scrivere ") + JobRecord::fileName(channel));
    return false;
}

void JobCycle::Timer21_Timer() {
    JobState& job = e_.job;
    if (job.bDumpInProgress) {
        return; // the timer stays armed; nothing else happens
    }
    e_.Timer21.stop();
    if (job.iSettleTicks != 0) {
        job.iSettleTicks = 0;
        e_.Timer21.setInterval(job.nPollInterval);
        e_.Timer21.start();
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
    // Nothing is taken that could not be answered: while the data directory
    // takes no file, it is probed again on every scan.
    if (!dataDirectoryUsable(!dataDirOk_)) {
        return 0;
    }
    bool anyPort = false;
    for (int n = 1; n <= 4; ++n) {
        const auto i = static_cast<std::size_t>(n);
        anyPort = anyPort || job.bPortAvailable[i];
        if (e_.panel.check(n).value() != 1 || !job.bPortAvailable[i]) {
            answerOutOfService(n); // a host waiting there is told at once
        }
    }
    for (std::int16_t n = 1; n <= 4; ++n) {
        const auto i = static_cast<std::size_t>(n);
        const bool available = job.bPortAvailable[i];
        if (e_.panel.check(n).value() != 1 || !available) {
            continue;
        }
        if (!e_.files.exists("SR_MATR", n)) {
            // A register that does not answer is asked again, less and less often.
            if (e_.runtime.nowMs() >= nextDumpAtMs_[i] && dataDirectoryUsable(true)) {
                e_.dump.RunDumpRequest(n);
                if (e_.files.exists("SR_MATR", n)) {
                    dumpFailures_[i] = 0;
                } else if (!job.bDumpInProgress) {
                    const int pause = std::min(kFirstDumpPauseMs << std::min(dumpFailures_[i], 5),
                                               kLongestDumpPauseMs);
                    ++dumpFailures_[i];
                    nextDumpAtMs_[i] = e_.runtime.nowMs() + pause;
                }
            }
            continue;
        }
        job.iCurrentCom = n;
        if (e_.files.exists("SR_START", n) || record(n).needsAnswer()) {
            // Taken only when its answer can be written and the job cleared.
            const QString blocked = answerBlocked(n);
            if (blocked != blockedTold_[i]) {
                blockedTold_[i] = blocked;
                if (!blocked.isEmpty()) {
                    emit logLine(QStringLiteral("COM%1: %2: impossibile rispondere all'host, "
                                                "il lavoro aspetta")
                                     .arg(n)
                                     .arg(blocked));
                }
            }
            if (!blocked.isEmpty()) {
                continue; // the other channels are served
            }
            if (!dataDirectoryUsable(true)) {
                return 0;
            }
            if (!record(n).needsAnswer() && !isReplay(n)) {
                e_.files.VerifyExistenceAndKill(ChannelFiles::name("FINESCO", n));
                if (!safefile::isRealFolder(e_.files.path("SR_OUT", n))) {
                    e_.files.SubKillFileOut();
                }
            }
            job.bDumpConf[i] = false;
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
    const auto step = [this](const std::function<void()>& fn) {
        try {
            fn();
        } catch (const Fault& f) {
            e_.trace.fault(f, "txtTimer_Change");
        }
    };
    e_.Timer21.stop();
    std::int16_t n = 0;
    step([&] { n = iVerifyStartVelmar(); });
    bool ready = false;
    if (n >= 1 && n <= 4 && !job.bDumpInProgress) {
        job.iCurrentCom = n;
        const QString dati = e_.files.path("SR_DATI", n);
        if (record(n).needsAnswer()) {
            step([&] { answerInterrupted(n); });
        } else if (isReplay(n)) {
            step([&] { answerReplay(n); });
        } else if (!QFileInfo::exists(dati)) {
            step([&] {
                if (e_.files.WriteErrFile(kE506, n)) { // never a FINESCO for it
                    e_.files.SubKillStartFile();
                }
            });
        } else {
            job.InputFilePath = dati;
            job.OutputFilePath = e_.files.path("SR_OUT", n);
            ready = true;
        }
    }
    if (!ready || job.bDumpInProgress) {
        if (n == 0 && !job.bDumpInProgress) {
            step([&] { deliverPendingVoids(); });
        }
        e_.Timer21.start();
        return;
    }
    runJob(n);
}

void JobCycle::deliverPendingVoids() {
    constexpr int kVoidRetryMs = 30000;
    for (int n = 1; n <= 4; ++n) {
        const auto i = static_cast<std::size_t>(n);
        if (!record(n).pendingVoid || e_.panel.check(n).value() != 1 || !e_.job.bPortAvailable[i] ||
            !e_.files.exists("SR_MATR", n) || e_.runtime.nowMs() < nextVoidAtMs_[i]) {
            continue;
        }
        nextVoidAtMs_[i] = e_.runtime.nowMs() + kVoidRetryMs;
        e_.job.iCurrentCom = static_cast<std::int16_t>(n);
        e_.link.PendingVoid = true;
        const bool delivered = e_.ecr.sendPendingVoid();
        noteCancelOwed(n, e_.link.PendingVoid);
        saveRecord(n);
        if (delivered) {
            emit logLine(QStringLiteral("COM%1: scontrino rimasto aperto annullato sull'Ecr").arg(n));
        }
    }
}

void JobCycle::runJob(int n) {
    JobState& job = e_.job;
    OperatorPanel& p = e_.panel;
    job.bJobRunning = true;
    p.tray.show(TrayControl::Icon::Busy, QStringLiteral("Velmar in esecuzione..."));
    if (job.bShowStatus) {
        p.Text2.setText(QStringLiteral("TRASMISSIONE VELMAR IN CORSO .."));
    }
    if (p.chbTrace.value() == 1) {
        e_.trace.openTrace();
    }
    // The job is claimed: which start file and which receipt it is. The
    // claim reaches the disk before the first byte reaches the register.
    claim_ = record(n);
    claim_.start = FileIdentity::of(e_.files.path("SR_START", n));
    claim_.receiptHash = contentHash(job.InputFilePath);
    claim_.takenAt = e_.runtime.currentDateTime();
    claim_.family = p.ecrVariant();
    claim_.tcp = !p.serialMode();
    claim_.code = 0;
    claim_.voided = false;
    claim_.closingNumber = -1;
    claim_.startLeft = false;
    claim_.replayAnswered = false;
    claimed_ = false;
    claim_.lastReceipt = e_.link.LastReceiptNumber;
    e_.link.PendingVoid = cancelOwed(n);
    e_.link.Observer = this;

    const bool cancelWasEnabled = p.AnnullaSco.enabled();
    p.AnnullaSco.setEnabled(false); // the operator's cancel waits for the receipt
    std::int16_t code = EcrLink::kOutcomeUnknown;
    try {
        code = e_.ecr.TransmitFile();
    } catch (const Fault& f) {
        e_.trace.fault(f, "TransmitFile");
    }
    e_.link.Observer = nullptr;
    p.AnnullaSco.setEnabled(cancelWasEnabled);
    try {
        FinishJob(code);
    } catch (const Fault& f) {
        e_.trace.fault(f, "FinishJob");
    }
    if (e_.trace.isOpen() && p.chbTrace.value() == 1) {
        e_.trace.closeTrace();
    }
}

std::int16_t JobCycle::reached(Stage stage) {
    const int n = e_.job.iCurrentCom;
    JobRecord& rec = record(n);
    if (stage == Stage::Sending) {
        // What was converted must still be what the host left: a receipt
        // replaced meanwhile is taken afresh at the next scan.
        if (contentHash(e_.job.InputFilePath) != claim_.receiptHash) {
            return EcrLink::kReceiptChanged;
        }
        rec = claim_;
        claimed_ = true;
        rec.state = JobRecord::State::InFlight;
    } else if (stage == Stage::Closed) {
        rec.closingNumber = e_.link.ClosingNumber;
    }
    rec.stage = stage;
    rec.pendingVoid = e_.link.PendingVoid;
    return saveRecord(n) ? std::int16_t(0) : EcrLink::kDataDirFault;
}

void JobCycle::FinishJob(std::int16_t code) {
    JobState& job = e_.job;
    OperatorPanel& p = e_.panel;
    const int n = job.iCurrentCom;
    if (code == EcrLink::kReceiptChanged && job.bJobRunning) {
        // Nothing was sent: the new receipt is the job of the next scan.
        emit logLine(QStringLiteral("COM%1: SR_DATI cambiato durante la conversione, "
                                    "ripreso al prossimo ciclo")
                         .arg(n));
        job.bJobRunning = false;
        code = 1; // no status text, no answer
    }
    if (job.bShowStatus && job.bJobRunning) {
        p.Text2.setText(QStringLiteral("VELMAR TERMINATO : ") + statusText(code));
        if (code == 0) {
            p.Text1.setText(QString());
        }
    }
    if (job.bJobRunning) {
        JobRecord& rec = record(n);
        if (!claimed_) {
            rec = claim_; // a job that ended before it was sent (refused, no file)
            claimed_ = true;
        }
        rec.state = JobRecord::State::Answering;
        rec.code = code;
        rec.voided = e_.link.ReceiptVoided;
        rec.lastReceipt = e_.link.LastReceiptNumber;
        noteCancelOwed(n, e_.link.PendingVoid);
        saveRecord(n);
        writeAnswer(n);
        job.bJobRunning = false;
    }
    job.iSettleTicks = 2;
    e_.Timer21.setInterval(kAfterJobMs);
    e_.Timer21.start();
    p.CMBFile.setEnabled(true);
    p.tray.show(TrayControl::Icon::Window, QStringLiteral("Velmar in attesa esecuzione..."));
}

void JobCycle::writeAnswer(int n) {
    JobRecord& rec = record(n);
    const QString dati = e_.files.path("SR_DATI", n);
    const QString start = e_.files.path("SR_START", n);
    // A receipt the host replaced after the job was taken is not the one
    // played: it stays, with its start file, for the next scan.
    const bool replaced = QFileInfo::exists(dati) && contentHash(dati) != rec.receiptHash;
    if (replaced) {
        emit logLine(QStringLiteral("COM%1: SR_DATI cambiato durante il lavoro: "
                                    "conservato per il prossimo ciclo")
                         .arg(n));
    }
    QByteArray text;
    if (printedCode(rec.code)) {
        e_.files.SubKillErrFile();
        if (!replaced) {
            e_.files.SubKillDatiFile(); // the register accepted the receipt
        }
    } else {
        text = errorText(rec.code);
        if (!text.isEmpty() && rec.voided) {
            text += kVoidedNote;
        }
        if (!text.isEmpty()) {
            e_.files.WriteErrFile(text, n);
        }
    }
    if (replaced) {
        if (printedCode(rec.code) && !e_.files.exists("SR_ERR", n)) {
            e_.files.writeFinesco(n);
        }
    } else {
        e_.files.SubKillStartFile(); // writes FINESCO when no SR_ERR is left
    }
    // An answer the data directory did not take (full, read-only) is written
    // at the next scan that finds it writable; the job is not taken again.
    if (printedCode(rec.code) && !e_.files.hasFile("FINESCO", n) && !e_.files.present("SR_ERR", n) &&
        answerBlocked(n).isEmpty()) {
        e_.files.writeFinesco(n);
    }
    const bool answered = printedCode(rec.code)
                              ? e_.files.hasFile("FINESCO", n)
                              : e_.files.hasFile("SR_ERR", n) || e_.files.hasFile("FINESCO", n);
    answerOwed_[static_cast<std::size_t>(n)] = !answered;
    if (!answered) {
        emit logLine(QStringLiteral("COM%1: risposta all'host non scritta (%2): sarà scritta appena "
                                    "la cartella dati lo permette")
                         .arg(n)
                         .arg(statusText(rec.code)));
        dataDirOk_ = false; // probed at the next scan
        saveRecord(n);
        emit jobEnded(n, statusText(rec.code), text);
        return;
    }
    rec.startLeft = !replaced && FileIdentity::of(start) == rec.start && rec.start.exists();
    if (rec.startLeft) {
        emit logLine(QStringLiteral("COM%1: impossibile cancellare SR_START: il lavoro non "
                                    "sara' ripetuto")
                         .arg(n));
    }
    rec.state = JobRecord::State::Done;
    saveRecord(n);
    emit jobEnded(n, statusText(rec.code), text);
}

bool JobCycle::isReplay(int n) {
    const JobRecord& rec = record(n);
    if (rec.state != JobRecord::State::Done || !rec.startLeft) {
        return false;
    }
    if (FileIdentity::of(e_.files.path("SR_START", n)) != rec.start) {
        return false; // a start file written since: a new job
    }
    const QString dati = e_.files.path("SR_DATI", n);
    return !QFileInfo::exists(dati) || contentHash(dati) == rec.receiptHash;
}

void JobCycle::answerReplay(int n) {
    JobRecord& rec = record(n);
    // Told once, after the host collected the job's own answer.
    if (rec.replayAnswered || e_.files.exists("FINESCO", n) || e_.files.exists("SR_ERR", n)) {
        return;
    }
    e_.files.WriteErrFile(kE511, n);
    rec.replayAnswered = true;
    saveRecord(n);
    emit logLine(QStringLiteral("COM%1: SR_START di un lavoro gia' eseguito non cancellabile: "
                                "non ristampato, controllare i permessi della cartella dati")
                     .arg(n));
}

void JobCycle::answerInterrupted(int n) {
    JobRecord& rec = record(n);
    if (rec.state == JobRecord::State::InFlight) {
        // The count as it was when the job was taken.
        e_.link.LastReceiptNumber = rec.lastReceipt;
        e_.link.PendingVoid = cancelOwed(n);
        e_.link.ClosingNumber = rec.closingNumber;
        rec.code = e_.ecr.settleInterrupted(rec.stage);
        rec.voided = e_.link.ReceiptVoided;
        rec.lastReceipt = e_.link.LastReceiptNumber;
        noteCancelOwed(n, e_.link.PendingVoid);
        rec.state = JobRecord::State::Answering;
        saveRecord(n);
    }
    if (answerOwed_[static_cast<std::size_t>(n)]) {
        emit logLine(QStringLiteral("COM%1: risposta all'host scritta ora: %2").arg(n).arg(statusText(rec.code)));
    } else {
        emit logLine(QStringLiteral("COM%1: lavoro interrotto all'arresto precedente: %2")
                         .arg(n)
                         .arg(statusText(rec.code)));
    }
    writeAnswer(n);
    if (e_.job.bShowStatus) {
        e_.panel.Text2.setText(QStringLiteral("VELMAR TERMINATO : ") + statusText(rec.code));
    }
}

void JobCycle::registerSilent(int n) {
    // The host's job waits for a register that does not answer: it is told
    // now, rather than left waiting; nothing of it was sent.
    if (!e_.files.exists("SR_START", n) || record(n).needsAnswer() || isReplay(n)) {
        return;
    }
    const std::int16_t current = e_.job.iCurrentCom;
    e_.job.iCurrentCom = static_cast<std::int16_t>(n);
    if (e_.files.WriteErrFile(kE504, n)) { // never a FINESCO for it
        e_.files.SubKillStartFile();
    }
    e_.job.iCurrentCom = current;
    emit logLine(QStringLiteral("COM%1: l'Ecr non risponde: lavoro in attesa respinto con E504").arg(n));
}

bool JobCycle::requestClose() {
    JobState& job = e_.job;
    if (e_.link.TransmitBusy) {
        return false;
    }
    e_.Timer21.stop();
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
        removeRegistrationFiles(); // nothing tells the host that a driver still serves
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
    }
    // Only SR_MATR goes: the answers of finished jobs stay until the host
    // collects them, and a job not taken keeps its files.
    removeRegistrationFiles();
    finish();
    return true;
}

} // namespace velmar
