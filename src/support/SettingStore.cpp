#include "support/SettingStore.h"

#include <QSettings>

namespace velmar {

namespace {
QSettings store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Qarnwerk"),
                     QStringLiteral("QARNVELMAR"));
}
} // namespace

QString SettingStore::value(const QString& key, const QString& fallback) {
    const QVariant v = store().value(key);
    return v.isValid() ? v.toString() : fallback;
}

QString SettingStore::serialDevice(int port) {
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    return value(QStringLiteral("SerialPorts/COM%1").arg(port),
                 QStringLiteral("/dev/ttyS%1").arg(port - 1));
#endif
}

QString SettingStore::location() {
    return store().fileName();
}

} // namespace velmar
