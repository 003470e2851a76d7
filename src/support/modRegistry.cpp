#include "support/modRegistry.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace velmar {

namespace {
constexpr int kBufferSize = 1024;
}

bool IsValidKeyName(const QString& keyPath) {
    return !keyPath.startsWith(QLatin1Char('\\')) && !keyPath.endsWith(QLatin1Char('\\')) &&
           !keyPath.contains(QLatin1String("\\\\"));
}

bool QueryRegValue(std::uint32_t root, const QString& keyPath, const QString& valueName,
                   QString& value) {
    if (!IsValidKeyName(keyPath) || root != HKEY_CURRENT_USER_ROOT) {
        return false;
    }
#ifdef Q_OS_WIN
    QSettings key(QStringLiteral("HKEY_CURRENT_USER\\") + keyPath, QSettings::NativeFormat);
#else
    // One key only lives in the setting store: Velmar's own.
    if (keyPath.compare(QLatin1String(kVelmarKey), Qt::CaseInsensitive) != 0) {
        return false;
    }
    QSettings key(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Qarnwerk"),
                  QStringLiteral("QARNVELMAR"));
#endif
    const QVariant stored = key.value(valueName);
    if (!stored.isValid()) {
        return false;
    }
    const QString text = stored.toString();
    if (text.size() >= kBufferSize) { // more data than the buffer
        return false;
    }
    value = text;
    return true;
}

QString GetCustomDataDir() {
    QString folder;
    if (!QueryRegValue(HKEY_CURRENT_USER_ROOT, QLatin1String(kVelmarKey),
                       QStringLiteral("CustomPathDataDir"), folder) ||
        folder.isEmpty()) {
        return {};
    }
    if (folder.endsWith(QLatin1Char('\\')) || folder.endsWith(QLatin1Char('/'))) {
        folder.chop(1);
    }
    if (folder.isEmpty() || !QFileInfo(folder + QLatin1Char('/')).isDir()) {
        return {};
    }
    return folder;
}

} // namespace velmar
