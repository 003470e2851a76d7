#include "ident/WorkstationId.h"

#include <QCryptographicHash>
#include <QString>
#include <QSysInfo>

namespace velmar {

QByteArray workstationIdentifier() {
    QByteArray identity = QSysInfo::machineUniqueId();
    if (identity.isEmpty()) {
        identity = QSysInfo::machineHostName().toUtf8();
    }
    return QCryptographicHash::hash(identity, QCryptographicHash::Sha256).toHex().toUpper().left(8);
}

} // namespace velmar
