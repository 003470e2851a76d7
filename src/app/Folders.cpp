#include "app/Folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QOperatingSystemVersion>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace velmar {

QString Folders::programFolder() {
    return QCoreApplication::applicationDirPath();
}

bool Folders::isWritableFolder(const QString& folder) {
    // Permission bits lie for root and network folders: try it.
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".velmar-write-test-XXXXXX")));
    return probe.open();
}

QString Folders::settingsFolder(const QString& programFolder) {
    if (isWritableFolder(programFolder)) {
        return programFolder;
    }
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/Qarnwerk");
    QDir().mkpath(folder);
    return folder;
}

bool Folders::IsOS_Vista(const QString& programFolder) {
#ifdef Q_OS_WIN
    Q_UNUSED(programFolder)
    return QOperatingSystemVersion::current() >= QOperatingSystemVersion::WindowsVista;
#else
    // No common application-data branch: the data directory goes to
    // Read_CSIDL_COMMON_APPDATA's stand-in only when the program folder
    // cannot hold it.
    return !isWritableFolder(programFolder);
#endif
}

QString Folders::Read_CSIDL_COMMON_APPDATA() {
#ifdef Q_OS_WIN
    const QString folder = qEnvironmentVariable("ProgramData");
#else
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Qarnwerk");
#endif
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        return {};
    }
    return QDir::cleanPath(folder);
}

} // namespace velmar
