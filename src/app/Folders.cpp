#include "app/Folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QOperatingSystemVersion>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace velmar {

QString Folders::installedProgramFolder() {
    return QStringLiteral(VELMAR_INSTALLED_PROGRAM_FOLDER);
}

bool Folders::isPackageFolder(const QString& programFolder, const QString& installedFolder) {
    const QString installed = QFileInfo(installedFolder).canonicalFilePath();
    return !installed.isEmpty() && QFileInfo(programFolder).canonicalFilePath() == installed;
}

bool Folders::isPortableCopy(const QString& programFolder, const QString& installedFolder) {
    return !isPackageFolder(programFolder, installedFolder) && isWritableFolder(programFolder);
}

QString Folders::manualFolder(const QString& programFolder, const QString& dataDirectory) {
    return isPackageFolder(programFolder, installedProgramFolder()) ? programFolder : dataDirectory;
}

QString Folders::programFolder() {
    return QCoreApplication::applicationDirPath();
}

bool Folders::isWritableFolder(const QString& folder) {
    // Permission bits lie for root and network folders: try it.
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".velmar-write-test-XXXXXX")));
    return probe.open();
}

QString Folders::settingsFolder(const QString& programFolder) {
    if (isPortableCopy(programFolder)) {
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
    // Read_CSIDL_COMMON_APPDATA's stand-in unless this is a portable copy.
    return !isPortableCopy(programFolder);
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
