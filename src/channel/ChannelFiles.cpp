#include "channel/ChannelFiles.h"

#include "common/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace velmar {

bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* why) {
    return safefile::replaceFile(path, bytes, safefile::kSharedMode, false, why);
}

QString ChannelFiles::name(const char* base, int channel) {
    return QLatin1String(base) + QStringLiteral(".00") + QString::number(channel);
}

QString ChannelFiles::path(const char* base, int channel) const {
    return path(name(base, channel));
}

QString ChannelFiles::path(const QString& fileName) const {
    return QDir(job_.DataDir).filePath(fileName);
}

bool ChannelFiles::exists(const char* base, int channel) const {
    return QFile::exists(path(base, channel));
}

bool ChannelFiles::present(const char* base, int channel) const {
    return safefile::exists(path(base, channel));
}

bool ChannelFiles::hasFile(const char* base, int channel) const {
    const QFileInfo info(path(base, channel));
    return info.isFile() && !info.isSymLink();
}

void ChannelFiles::VerifyExistenceAndKill(const QString& cFileName) {
    QString fileName = cFileName;
    while (fileName.startsWith(QLatin1Char('\\')) || fileName.startsWith(QLatin1Char('/'))) {
        fileName.remove(0, 1);
    }
    const QString full = path(fileName);
    if (safefile::exists(full)) {
        QFile::remove(full); // a link itself, never what it points to
    }
}

bool ChannelFiles::retry(int& failures, const QString& logText, const std::function<bool()>& step) {
    for (;;) {
        if (step()) {
            return true;
        }
        if (++failures >= kFailureBudget) {
            log_.logLine(logText);
            return false;
        }
        WaitMs(runtime_, kRetryMs);
    }
}

void ChannelFiles::killWithRetry(const char* base, const char* logName) {
    const QString file = path(base, job_.iCurrentCom);
    int failures = 0;
    retry(failures, QStringLiteral("Errore nella Kill di ") + QLatin1String(logName),
          [&file] { return !safefile::exists(file) || QFile::remove(file); });
}

void ChannelFiles::SubKillErrFile() {
    killWithRetry("SR_ERR", "SR_ERR");
}

void ChannelFiles::SubKillFileOut() {
    killWithRetry("SR_OUT", "SR_OUT");
}

void ChannelFiles::SubKillDatiFile() {
    killWithRetry("SR_DATI", "SR_DATI");
}

void ChannelFiles::SubKillStartFile() {
    const int c = job_.iCurrentCom;
    const QString start = path("SR_START", c);
    if (!safefile::exists(start)) {
        return;
    }
    int failures = 0; // one budget for every step of this call
    const QString logText = QStringLiteral("Errore nella Kill di SR_START");
    retry(failures, logText, [&start] { return !safefile::exists(start) || QFile::remove(start); });
    if (exists("SR_ERR", c)) {
        return;
    }
    const QString finesco = path("FINESCO", c);
    retry(failures, logText, [&finesco] { return writeWholeFile(finesco, "finesco"); });
}

bool ChannelFiles::writeFinesco(int channel) {
    const QString finesco = path("FINESCO", channel);
    int failures = 0;
    return retry(failures, QStringLiteral("Errore nella scrittura di ") + name("FINESCO", channel),
                 [&finesco] { return writeWholeFile(finesco, "finesco"); });
}

bool ChannelFiles::WriteErrFile(const QByteArray& cErrMesg, int iQualeCom) {
    const QString file = path("SR_ERR", iQualeCom);
    QString why;
    if (!writeWholeFile(file, cErrMesg + "\r\n", &why)) {
        log_.logLine(QStringLiteral("Errore nella scrittura di ") + name("SR_ERR", iQualeCom) +
                     QStringLiteral(": ") + why);
        return false;
    }
    return true;
}

} // namespace velmar
