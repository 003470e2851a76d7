#pragma once
// The diagnostic files: the trace of one job or dump (every string sent and
// every answer, with a UTC millisecond stamp), and LOGFILE.TXT for the rare
// failures to delete a channel file.

#include "channel/JobState.h"
#include "common/Fault.h"
#include "common/Runtime.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <functional>
#include <utility>

namespace velmar {

class TraceLog {
public:
    // `ticked`: whether the operator asked for a trace (read at each line,
    // so ticking it takes effect at once).
    TraceLog(Runtime& runtime, std::function<bool()> ticked, const JobState& job)
        : runtime_(runtime), ticked_(std::move(ticked)), job_(job) {}

    // A new trace file TRACE_YYYYMM/TRACE_YYYYMMDD_hhmmss.TXT in the data
    // directory (local time; the data directory itself when the folder cannot
    // be made). A file of the same name is replaced.
    void openTrace();
    void closeTrace();
    bool isOpen() const { return file_.isOpen(); }
    QString fileName() const { return fileName_; }

    // "YYYYMMDD_hhmmss.mmm <--> " in UTC: the prefix of every trace line.
    QByteArray CurrDateTime() const;
    // Writes prefix + payload when tracing is ticked and a trace file is open.
    void line(const QByteArray& payload);
    // A fault caught in `procedure`: its number and description, so a fault
    // that is passed over still leaves its number for the technician.
    void fault(const Fault& fault, const char* procedure);
    bool active() const { return ticked_() && file_.isOpen(); }

    // Appends "date time message" to LOGFILE.TXT (local regional formats).
    void logLine(const QString& message);

private:
    Runtime& runtime_;
    std::function<bool()> ticked_;
    const JobState& job_;
    QFile file_;
    QString fileName_; // of the trace file last opened
};

} // namespace velmar
