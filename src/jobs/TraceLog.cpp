#include "jobs/TraceLog.h"

#include "common/Cp1252.h"

#include <QDir>
#include <QLocale>

namespace velmar {

void TraceLog::openTrace() {
    closeTrace();
    const QDateTime now = runtime_.currentDateTime().toLocalTime();
    QDir data(job_.DataDir);
    const QString folderName = QStringLiteral("TRACE_") + now.toString(QStringLiteral("yyyyMM"));
    QString folder = data.filePath(folderName);
    if (!QDir(folder).exists() && !data.mkdir(folderName)) {
        folder = job_.DataDir;
    }
    file_.setFileName(QDir(folder).filePath(QStringLiteral("TRACE_") +
                                            now.toString(QStringLiteral("yyyyMMdd_HHmmss")) +
                                            QStringLiteral(".TXT")));
    file_.open(QIODevice::WriteOnly | QIODevice::Truncate);
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

void TraceLog::logLine(const QString& message) {
    QFile log(QDir(job_.DataDir).filePath(QStringLiteral("LOGFILE.TXT")));
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append)) {
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
