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

#include "jobs/JobRecord.h"
#include "link/LinkState.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>

namespace velmar {

class Engine;

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
    // After the text of a job whose open receipt Velmar voided.
    static constexpr const char* kVoidedNote = " (scontrino annullato)";

    explicit JobCycle(Engine& engine, QObject* parent = nullptr);

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
    // receipt that changed after the job was taken.
    void writeAnswer(int channel);
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

    Engine& e_;
    bool heartbeat_ = false;
    std::array<JobRecord, 5> records_{};
    JobRecord claim_;     // the job being taken, before it reaches its record
    bool claimed_ = false;
    std::array<std::int64_t, 5> nextDumpAtMs_{};
    std::array<int, 5> dumpFailures_{};
    std::array<std::int64_t, 5> nextVoidAtMs_{};
};

} // namespace velmar
