#pragma once
// The per-user setting store: on Windows the registry key
// HKEY_CURRENT_USER\SOFTWARE\Qarnwerk\QARNVELMAR, elsewhere the INI file
// $XDG_CONFIG_HOME/Qarnwerk/QARNVELMAR.conf (~/.config/... by default).
//
// Keys read on Linux:
//   SerialPorts/COM1 .. SerialPorts/COM4   device of channel n's port
//                                          (default /dev/ttyS0 .. /dev/ttyS3)
// Velmar never writes the store: installers and operators do.

#include <QString>
#include <QVariant>

namespace velmar {

class SettingStore {
public:
    // A text value, or `fallback` when the key is absent.
    static QString value(const QString& key, const QString& fallback = {});
    // The device behind COMn: on Windows the name COMn itself.
    static QString serialDevice(int port);
    // Where the store lives, for messages.
    static QString location();
};

} // namespace velmar
