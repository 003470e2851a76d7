#pragma once
// Where Velmar keeps its files, decided in one place.
//
//   program folder   the executable's folder (qarn_slm1, the manual)
//   settings folder  the program folder when Velmar may write there (a
//                    portable copy, as on a shop's workstation), otherwise the
//                    per-user configuration folder $XDG_CONFIG_HOME/Qarnwerk
//                    (~/.config/Qarnwerk; for the service, its own home)
//   data directory   chosen at start-up: see defaultDataDirectory()

#include <QString>

namespace velmar {

struct Folders {
    static QString programFolder();
    static QString settingsFolder(const QString& programFolder);
    // On Windows NT 6 and later the common application-data folder's
    // QARNVELMAR (the installer makes it); elsewhere the program folder when
    // writable, otherwise $XDG_DATA_HOME/Qarnwerk/QARNVELMAR
    // (~/.local/share/Qarnwerk/QARNVELMAR), made if missing.
    // True where the data directory lives in the application-data branch:
    // Windows NT 6 and later; elsewhere when `programFolder` is not writable.
    static bool IsOS_Vista(const QString& programFolder = Folders::programFolder());
    // The common application-data folder (created if missing), or empty.
    static QString Read_CSIDL_COMMON_APPDATA();
    static bool isWritableFolder(const QString& folder);
};

} // namespace velmar
