#pragma once
// Where Velmar keeps its files, decided in one place.
//
//   program folder   the executable's folder (qarn_slm1, the manual)
//   portable copy    a program folder Velmar may write to that is not the
//                    package's (/usr/lib/velmar): settings and data live
//                    beside the program, as on a shop's workstation
//   settings folder  a portable copy's program folder, otherwise the
//                    per-user configuration folder $XDG_CONFIG_HOME/Qarnwerk
//                    (~/.config/Qarnwerk; the service sets its own)
//   data directory   chosen at start-up: see IsOS_Vista()
//   manual folder    the data directory before the custom one; for the
//                    package, its program folder, where manvelmar.pdf is

#include <QString>

namespace velmar {

struct Folders {
    // Where the package installs the programs (set by the build).
    static QString installedProgramFolder();
    static QString programFolder();
    static bool isPackageFolder(const QString& programFolder, const QString& installedFolder);
    // Writable and not the package's program folder (root may write there,
    // but an installed program must leave nothing behind in it).
    static bool isPortableCopy(const QString& programFolder,
                               const QString& installedFolder = installedProgramFolder());
    static QString settingsFolder(const QString& programFolder);
    // True where the data directory lives in the application-data branch
    // (QARNVELMAR there): Windows NT 6 and later; elsewhere when the program
    // is not a portable copy ($XDG_DATA_HOME/Qarnwerk/QARNVELMAR,
    // ~/.local/share/Qarnwerk/QARNVELMAR, made if missing).
    static bool IsOS_Vista(const QString& programFolder = Folders::programFolder());
    // The common application-data folder (created if missing), or empty.
    static QString Read_CSIDL_COMMON_APPDATA();
    static bool isWritableFolder(const QString& folder);
    static QString manualFolder(const QString& programFolder, const QString& dataDirectory);
};

} // namespace velmar
