#pragma once
// The job cycle: the poll tick, the channel scan, the job step, the result
// handling that answers the host, and the shut-down.
//
// Every job is claimed in its channel's durable record (VMJOB.00n) before a
// byte reaches the register, and answered from that record: printed
// (FINESCO), not printed with nothing left open (an error that invites a
// resend), or not known (E510: look at the register first). A job found in
// flight at start-up is answered the same way once its register is
// identified; a job already played is never played again.
//
// One Velmar serves a data directory: it holds the lock file VMLOCK.TXT there
// for its whole run. It takes no job it could not answer: the data directory
// must take a file (a probe, VMPROBE.TMP) before a job or a dump is taken,
// and is probed again on every scan while it does not; the log and the
// window say so once. A job waiting on a channel that is not in service is
// answered with E512 at once. The shut-down removes only SR_MATR, what tells
// the host that a driver runs; the answers of finished jobs stay for the
// host to collect.

#include "common/SafeFile.h"
#include "jobs/JobRecord.h"
#include "link/LinkState.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>

namespace velmar {

class ChannelFiles;
class ConfigDump;
class EcrLink;
class OperatorPanel;
class Runtime;
class RuntimeTimer;
class TraceLog;
struct JobState;

// The parts of the engine the job cycle works with.
struct JobCycleContext {
    Runtime& runtime;
    OperatorPanel& panel;
    JobState& job;
    LinkState& link;
    ChannelFiles& files;
    TraceLog& trace;
    ConfigDump& dump;
    EcrLink& ecr;
    RuntimeTimer& Timer21; // the poll timer: Timer21_Timer is its handler
};

class JobCycle : public QObject, public TransmitObserver {
    Q_OBJECT
public:
    // What each result code of a job tells the host (SR_ERR.00n) and the operator (Text2).
    static QByteArray errorText(std::int16_t code);  // empty: no error file
    static QString statusText(std::int16_t code);
    static constexpr const char* kE502 = "E502: Nessuna porta di comunicazione disponibile";
    static constexpr const char* kE504 =
        "E504: Nessun messaggio ricevuto: controllare connessione con l'Ecr";
    static constexpr const char* kE506 = "E506: Trasmissione non avvenuta: file di input non presente";
    // Velmar's own answers.
    static constexpr const char* kE503 =
        "E503: Trasmissione non avvenuta: impossibile scrivere nella cartella dati";
    static constexpr const char* kE510 =
        "E510: Esito sconosciuto: controllare sull'Ecr se lo scontrino e' stato stampato";
    static constexpr const char* kE511 =
        "E511: Lavoro gia' eseguito: Velmar non puo' cancellare SR_START e SR_DATI";
    static constexpr const char* kE512 = "E512: Trasmissione non avvenuta: canale non in servizio";
    // The data directory's lock, and the probe of whether Velmar may write there.
    static constexpr const char* kLockFile = "VMLOCK.TXT";
    static constexpr const char* kProbeFile = "VMPROBE.TMP";
    static constexpr qint64 kProbeBytes = 16384; // room for a job's answer and record
    static constexpr const char* kDataDirStatus = "CARTELLA DATI NON SCRIVIBILE";
    // After the text of a job whose open receipt Velmar voided.
    static constexpr const char* kVoidedNote = " (scontrino annullato)";

    explicit JobCycle(JobCycleContext context, QObject* parent = nullptr);

    void Timer21_Timer();    // one poll tick
    void txtTimer_Change();  // one job step
    // The first channel 1-4 with a job ready (0 when none); requests dumps on the way.
    std::int16_t iVerifyStartVelmar();
    void FinishJob(std::int16_t code);

    // The channels' job records, read from the data directory at start-up.
    void loadRecords();
    // Channel n's job was in flight when Velmar stopped: its start file is
    // kept, and it is answered once the register is identified.
    bool needsAnswer(int channel) const;

    // Takes the data directory's lock for the run. Held: another Velmar
    // serves the folder (who, in `about`); Failed: the folder could not take
    // the lock file (why, in `about`), which is taken later, once it can.
    safefile::FolderLock::Result lockDataDirectory(QString& about);
    // Whether Velmar may write its files into the data directory: `probe`
    // writes and removes a probe file, otherwise only the folder's access is
    // checked. Told once in the log and in Text2 when it changes.
    bool dataDirectoryUsable(bool probe);
    bool dataDirectoryOk() const { return dataDirOk_; }
    // SR_MATR.001 to SR_MATR.004, which tell the host that a driver serves
    // the channel; removed by every way the program ends (only by the holder
    // of the data directory's lock).
    QStringList registrationFiles() const;
    void removeRegistrationFiles();

    // A close request: false, refused, while a transmission runs. Otherwise
    // runs the whole shut-down, saving the settings through `saveSettings`,
    // and then calls `endProgram`.
    bool requestClose();
    std::function<void()> saveSettings;
    std::function<void()> endProgram;

    // TransmitObserver: keeps the record of the running job.
    std::int16_t reached(Stage stage) override;

signals:
    // A job ended: its channel, the status shown after "VELMAR TERMINATO : ",
    // and the line written into SR_ERR (empty when it printed).
    void jobEnded(int channel, const QString& statusText, const QByteArray& errorText);
    // A line for the program's log.
    void logLine(const QString& text);

private:
    JobRecord& record(int channel) { return records_[static_cast<std::size_t>(channel)]; }
    bool saveRecord(int channel);
    // The host's answer to the job of `channel` whose result is in its
    // record: SR_ERR or FINESCO, and the job's files cleared, except a
    // receipt that changed after the job was taken. An answer the data
    // directory would not take is written again at a later scan.
    void writeAnswer(int channel);
    // A start file on a channel that is not in service: answered with E512.
    void answerOutOfService(int channel);
    // Why channel n's answer cannot be written (a folder in an answer's
    // place); empty when it can.
    QString answerBlocked(int channel) const;
    // A job already played whose files Velmar could not delete.
    bool isReplay(int channel);
    void answerReplay(int channel);
    // A job found in flight at start-up: the register tells what it can.
    void answerInterrupted(int channel);
    // A dump whose register stayed silent: a host's waiting job is answered,
    // and the next try waits longer.
    void registerSilent(int channel);
    void runJob(int channel);
    // Idle: a cancel still owed to a register is delivered.
    void deliverPendingVoids();
    // A cancel is owed to the register of `channel` (over TCP: to the one
    // register every channel reaches).
    bool cancelOwed(int channel) const;
    void noteCancelOwed(int channel, bool owed);

    JobCycleContext e_;
    bool heartbeat_ = false;
    std::array<JobRecord, 5> records_{};
    JobRecord claim_;     // the job being taken, before it reaches its record
    bool claimed_ = false;
    std::array<std::int64_t, 5> nextDumpAtMs_{};
    std::array<int, 5> dumpFailures_{};
    std::array<std::int64_t, 5> nextVoidAtMs_{};
    safefile::FolderLock dataLock_;
    bool dataDirOk_ = true;
    QString dataDirWhy_;                      // what was told of the data directory
    std::array<QString, 5> blockedTold_{};    // what was told of a channel's answers
    std::array<FileIdentity, 5> outOfServiceAnswered_{}; // the start file answered with E512
    std::array<bool, 5> answerOwed_{};        // an answer of this run is still to be written
};

} // namespace velmar
