#pragma once
// The program's log: time-stamped lines on standard error at once, and in a
// log file in the data directory once that is known (lines written before it
// is opened are kept and written then). velmard writes VELMARD.LOG, velmar
// VELMAR.LOG.

#include "common/OperatorUi.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <functional>

namespace velmar {

class ProgramLog {
public:
    explicit ProgramLog(QString fileName) : fileName_(std::move(fileName)) {}

    void line(const QString& text);
    // Opens the log file in `folder` and writes the lines kept so far.
    void openIn(const QString& folder);
    QString filePath() const { return path_; }

private:
    QString fileName_;
    QFile file_;
    QString path_;
    QStringList early_;
};

// "End the program" of a program with a log: the reason goes to the log,
// `beforeEnd` runs (it removes what announces a running driver), and the
// event loop ends with status 1.
class LoggedProgramExit : public ProgramExit {
public:
    LoggedProgramExit(ProgramLog& log, QString program) : log_(log), program_(std::move(program)) {}
    void endProgram(const QString& reason) override;
    std::function<void()> beforeEnd;

private:
    ProgramLog& log_;
    QString program_;
};

} // namespace velmar
