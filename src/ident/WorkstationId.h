#pragma once
// The registration number for register families that cannot tell their own:
// eight characters derived from this machine's stable identity.

#include <QByteArray>

namespace velmar {

// The first 8 hexadecimal digits (upper case) of the SHA-256 of the machine's
// unique id (/etc/machine-id on Linux, the machine GUID on Windows); of its
// host name when the platform has no such id. The same machine always gives
// the same text; the id itself is not disclosed.
QByteArray workstationIdentifier();

} // namespace velmar
