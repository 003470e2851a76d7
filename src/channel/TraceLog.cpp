#include "channel/TraceLog.h"

#include "common/Cp1252.h"
#include "common/SafeFile.h"

#include <QDir>
#include <QLocale>

namespace velmar {

void TraceLog::openTrace() {
    closeTrace();
    const QDateTime now = runtime_.currentDateTime().toLocalTime();
    QDir data(job_.DataDir);
    const QString folderName = QStringLiteral("TRACE_") + now.toString(QStringLiteral("yyyyMM"));
    QString folder = data.filePath(folderName);
    // A trace folder that is a link (or a file) is not Velmar's: the trace
    // goes into the data directory itself, as when the folder cannot be made.
    if (!safefile::makeFolder(folder, 0750)) {
        folder = job_.DataDir;
    }
    // Traces hold receipts: only Velmar's user and group read them.
    fileName_ = QDir(folder).filePath(QStringLiteral("TRACE_") +
                                      now.toString(QStringLiteral("yyyyMMdd_HHmmss")) +
                                      QStringLiteral(".TXT"));
    safefile::openForWriting(file_, fileName_, safefile::Write::Truncate, safefile::kPrivateMode);
}

void TraceLog::closeTrace() {
    if (file_.isOpen()) {
        file_.close();
    }
}

QByteArray TraceLog::CurrDateTime() const {
    const QDateTime utc = runtime_.currentDateTime().toUTC();
    return utc.toString(QStringLiteral("yyyyMMdd_HHmmss.zzz")).toLatin1() + " <--> ";
}

void TraceLog::line(const QByteArray& payload) {
    if (!active()) {
        return;
    }
    // Written and flushed line by line: a trace is read after things went wrong.
    file_.write(CurrDateTime() + payload + "\r\n");
    file_.flush();
}

void TraceLog::fault(const Fault& fault, const char* procedure) {
    line(" <-- Error " + QByteArray::number(fault.number()) + " (" +
         cp1252::encode(QString::fromUtf8(fault.description())) + ") in procedure " + procedure +
         " of Modulo Module1");
}

void TraceLog::logLine(const QString& message) {
    QFile log;
    if (!safefile::openForWriting(log, QDir(job_.DataDir).filePath(QStringLiteral("LOGFILE.TXT")),
                                  safefile::Write::Append, safefile::kPrivateMode)) {
        return;
    }
    const QDateTime now = runtime_.currentDateTime().toLocalTime();
    const QLocale locale = QLocale::system();
    const QString text = locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                         locale.toString(now.time(), QStringLiteral("HH:mm:ss")) +
                         QLatin1Char(' ') + message;
    log.write(cp1252::encode(text) + "\r\n");
}

} // namespace velmar
