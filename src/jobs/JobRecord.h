#pragma once
// The durable record of a channel's job, VMJOB.00n in the data directory.
// It is written whole and flushed to disk before the first byte of a job
// reaches the register, again before the receipt reaches each point a crash
// must be able to tell apart (a document about to open, the first payment,
// the register's closing answer), before the host is answered and once the
// answer is written. A Velmar that stopped in the middle of a job (killed,
// power lost) finds it at its next start and answers the host from it,
// asking the register where the family can tell.
//
// It also keeps what outlives a job: the register's last receipt number as
// Velmar expects it, a cancel still owed to the register, and the identity
// of a job whose start file Velmar could not delete, so that the job is
// never played twice.

#include "link/LinkState.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>

namespace velmar {

// Which file a path names, and in which version: its inode and times. A host
// that writes the file again makes a new version.
struct FileIdentity {
    qint64 device = 0;
    qint64 inode = 0;
    qint64 size = -1; // -1: no such file
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;

    static FileIdentity of(const QString& path);
    bool exists() const { return size >= 0; }
    bool operator==(const FileIdentity&) const = default;
    QByteArray text() const;
    static FileIdentity fromText(const QByteArray& text);
};

// SHA-256 of a file's bytes, in hexadecimal; empty when it cannot be read.
QByteArray contentHash(const QString& path);

struct JobRecord {
    enum class State {
        Idle,      // no job yet
        InFlight,  // a job is being played: its outcome is not known yet
        Answering, // the outcome is known, the host's answer being written
        Done,      // answered
    };
    using Stage = TransmitObserver::Stage;

    State state = State::Idle;
    Stage stage = Stage::Sending;   // InFlight: how far the receipt went
    int family = -1;
    bool tcp = false;
    FileIdentity start;             // SR_START as the job was taken
    QByteArray receiptHash;         // SR_DATI as the job was taken
    QDateTime takenAt;
    std::int16_t code = 0;          // Answering, Done: the job's result
    bool voided = false;            // Velmar voided a receipt the job left open
    int closingNumber = -1;         // the receipt number of the register's closing answer
    bool startLeft = false;         // Done: SR_START could not be deleted
    bool replayAnswered = false;    // the host was told that job was played already
    // Outlives the job.
    int lastReceipt = -1;           // the register's last receipt number; -1 not known
    bool pendingVoid = false;       // a receipt may be open on the register

    bool needsAnswer() const { return state == State::InFlight || state == State::Answering; }

    // "VMJOB.003"
    static QString fileName(int channel);
    // A missing file is an idle record; `ok` false for one Velmar cannot read.
    static JobRecord load(const QString& path, bool* ok = nullptr);
    // Written whole under a temporary name, flushed, renamed into place, the
    // folder flushed: after a crash the file holds this record or the one
    // before. False when that failed.
    bool save(const QString& path) const;
};

} // namespace velmar
