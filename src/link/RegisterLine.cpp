// The register's frames, as every part of the link reads them.

#include "link/RegisterLine.h"

namespace velmar {

std::pair<int, int> frameIn(const QByteArray& s) {
    const int stx = static_cast<int>(s.indexOf(RegisterLine::STX)) + 1;
    if (stx == 0) {
        return {0, 0};
    }
    const qsizetype etx = s.indexOf(RegisterLine::ETX, stx);
    return {stx, etx < 0 ? 0 : static_cast<int>(etx) + 1};
}

std::int16_t registerErrorCode(const QByteArray& bytes) {
    const qsizetype at = bytes.indexOf("\x02" "ERR");
    if (at < 0 || at + 6 >= bytes.size() || bytes.at(at + 6) != RegisterLine::ETX) {
        return 0;
    }
    switch (bytes.mid(at + 4, 2).toInt()) {
    case 2: return -3;  // printer cover open: E509
    case 3: return -7;  // electronic journal full: E508
    case 4: return -8;  // electronic journal nearly full: E507
    case 5: return -1;  // negative total: E505
    case 6: return -9;  // fiscal memory full: E1
    default: return -5; // anything else (paper out among them): the register's manual
    }
}

} // namespace velmar
