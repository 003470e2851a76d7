#pragma once
// The state the register link shares with the rest of the engine. The
// converter sets the first three values; the transmission driver and the
// dialogue consume them.

#include <QString>
#include <cstdint>

namespace velmar {

struct LinkState {
    // Path of the translated job (XON.txt); set only by a conversion that
    // reached the end of its input, kept between jobs otherwise.
    QString ConvertedFilePath;
    // A non-fiscal document was opened by the receipt (OPNF).
    bool NonFiscalOpen = false;
    // Translated payment lines still to send (lines ending in "<digit>T").
    std::int16_t TotalLinesLeft = 0;
};

} // namespace velmar
