#pragma once
// The channel file set the host and Velmar exchange in the data directory:
// SR_START, SR_DATI, SR_OUT, SR_ERR, SR_MATR and FINESCO with the suffix
// .001 to .004, and the deletions with retry that every job ending uses.

#include "channel/JobState.h"
#include "channel/TraceLog.h"
#include "common/Runtime.h"

#include <QByteArray>
#include <QString>

namespace velmar {

class ChannelFiles {
public:
    static constexpr int kRetryMs = 500;
    static constexpr int kFailureBudget = 20;

    ChannelFiles(Runtime& runtime, JobState& job, TraceLog& log)
        : runtime_(runtime), job_(job), log_(log) {}

    // "SR_ERR.003"
    static QString name(const char* base, int channel);
    // Full path in the data directory.
    QString path(const char* base, int channel) const;
    QString path(const QString& fileName) const;
    bool exists(const char* base, int channel) const;
    // The name is taken, by anything (a dangling link too).
    bool present(const char* base, int channel) const;
    // The name is a regular file (an answer that was written).
    bool hasFile(const char* base, int channel) const;

    // Deletes data directory + cFileName when present (no retry).
    void VerifyExistenceAndKill(const QString& cFileName);
    // Deletes SR_ERR / SR_OUT / SR_DATI of iCurrentCom when present, retrying
    // a refused deletion every 500 ms; the 20th failure is logged and skipped.
    void SubKillErrFile();
    void SubKillFileOut();
    void SubKillDatiFile();
    // Deletes SR_START of iCurrentCom and, when no SR_ERR is left, writes
    // FINESCO ("finesco", seven bytes); the same retry budget for both steps.
    void SubKillStartFile();

    // FINESCO.00n ("finesco", seven bytes), retried as a deletion is; false
    // when it could not be written.
    bool writeFinesco(int channel);

    // SR_ERR.00n holds exactly one line: the text and CR LF. False (and a
    // line in LOGFILE.TXT) when it could not be written.
    bool WriteErrFile(const QByteArray& cErrMesg, int iQualeCom);

private:
    // Runs `step` until it succeeds or the call's budget is spent.
    bool retry(int& failures, const QString& logText, const std::function<bool()>& step);
    void killWithRetry(const char* base, const char* logName);

    Runtime& runtime_;
    JobState& job_;
    TraceLog& log_;
};

// Writes the whole file under a temporary name and renames it into place, so
// a host never reads it half-written and a link in its place is replaced, not
// followed. False, with the reason in `why`, when that failed.
bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* why = nullptr);

} // namespace velmar
