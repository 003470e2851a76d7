#pragma once
// The custom data directory an installation may set: the value
// "CustomPathDataDir" under HKEY_CURRENT_USER\SOFTWARE\Qarnwerk\QARNVELMAR on
// Windows, the key CustomPathDataDir of the setting store
// ($XDG_CONFIG_HOME/Qarnwerk/QARNVELMAR.conf) elsewhere. Read only.

#include <QString>
#include <cstdint>

namespace velmar {

inline constexpr std::uint32_t HKEY_CURRENT_USER_ROOT = 0x80000001u;
inline constexpr const char* kVelmarKey = "SOFTWARE\\Qarnwerk\\QARNVELMAR";

// The custom data directory without a trailing separator when it names an
// existing folder; otherwise empty.
QString GetCustomDataDir();

// Reads one value of `keyPath` under `root`: true and the value when the read
// succeeded; false (and `value` untouched) when the key or value is missing,
// refused, longer than 1023 characters, or the path is not a valid key name.
bool QueryRegValue(std::uint32_t root, const QString& keyPath, const QString& valueName,
                   QString& value);

// No leading or trailing backslash, no two backslashes in a row.
bool IsValidKeyName(const QString& keyPath);

} // namespace velmar
