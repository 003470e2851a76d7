#pragma once
// The program's log: time-stamped lines on standard error at once, and in a
// log file in the data directory once that is known (lines written before it
// is opened are kept and written then). velmard writes VELMARD.LOG, velmar
// VELMAR.LOG.

#include <QFile>
#include <QString>
#include <QStringList>

namespace velmar {

class ProgramLog {
public:
    explicit ProgramLog(QString fileName) : fileName_(std::move(fileName)) {}

    void line(const QString& text);
    // Opens the log file in `folder` and writes the lines kept so far.
    void openIn(const QString& folder);
    QString filePath() const { return file_.fileName(); }

private:
    QString fileName_;
    QFile file_;
    QStringList early_;
};

} // namespace velmar
