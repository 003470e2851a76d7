#include "support/modRegistry.h"

#include "common/Fault.h"

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

void RaiseOnRegError(std::int32_t status) {
    if (status != 0) {
        throw Fault(faultno::InvalidCall);
    }
}

bool QueryRegValue(std::uint32_t root, const QString& keyPath, const QString& valueName,
                   QString& value) {
    if (!IsValidKeyName(keyPath)) {
        return false;
    }
    try {
#ifdef Q_OS_WIN
        RaiseOnRegError(root == HKEY_CURRENT_USER_ROOT ? 0 : 2);
        QSettings key(QStringLiteral("HKEY_CURRENT_USER\\") + keyPath, QSettings::NativeFormat);
#else
        // One key only lives in the setting store: Velmar's own.
        RaiseOnRegError(root == HKEY_CURRENT_USER_ROOT &&
                                keyPath.compare(QLatin1String(kVelmarKey), Qt::CaseInsensitive) == 0
                            ? 0
                            : 2);
        QSettings key(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Qarnwerk"),
                      QStringLiteral("QARNVELMAR"));
#endif
        const QVariant stored = key.value(valueName);
        RaiseOnRegError(stored.isValid() ? 0 : 2);
        const QString text = stored.toString();
        RaiseOnRegError(text.size() < kBufferSize ? 0 : 234); // more data than the buffer
        value = text;
        return true;
    } catch (const Fault&) {
        return false;
    }
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
