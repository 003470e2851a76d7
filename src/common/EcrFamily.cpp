#include "common/EcrFamily.h"

#include <array>

namespace velmar {

namespace {

using Display = EcrFamily::Display;
using CashMovement = EcrFamily::CashMovement;
using Echo = EcrFamily::Echo;
using SerialAnswer = EcrFamily::SerialAnswer;
constexpr int kByLine = EcrFamily::kChosenByLine;

// Each row names only what differs from the standard set (the defaults in
// EcrFamily.h).
const std::array<EcrFamily, 7> kFamilies{{
    // 0 Vers. Standard
    {.index = 0},
    // 1 Vers. Custom Eng.
    {.index = 1,
     .payments = {2, 3, 7, 8, 5},
     .display = Display::EveryLine,
     .barCodes = true,
     .qrCodes = true,
     .extraLines = true,
     .swapsKeys3And8 = true,
     .cashMovement = CashMovement::Codes14And15InCash,
     .serialAnswer = SerialAnswer::AskedAfterClosingKey,
     .infoLinesFromFooter = true,
     .numberRequest = "Y",
     .numberAsInFooter = true},
    // 2 Vers. Ditron
    {.index = 2, .payments = {3, 5, kByLine, 4, 4}, .creditRecoveryByDriver = true},
    // 3 Vers. 3I
    {.index = 3,
     .display = Display::NotSecondLine,
     .cashMovement = CashMovement::NoClosingSubtotal,
     .serialAnswer = SerialAnswer::StatusAfterReceipt,
     .numberRequest = "89F"},
    // 4 Vers. SystemConnection
    {.index = 4, .documentStart = "A"},
    // 5 Vers. Emotiq
    {.index = 5,
     .payments = {5, 18, kByLine, 6, 3},
     .barCodes = true,
     .swapsKeys3And8 = true,
     .defaultTcpPort = 6660,
     .serialAnswer = SerialAnswer::Footer,
     .infoLinesFromFooter = true},
    // 6 Vers. Asem SF85
    {.index = 6,
     .echo = Echo::WholeCommand,
     .receiptVoid = "k",
     .serialAnswer = SerialAnswer::Footer,
     .infoLinesFromFooter = true,
     .footerWithRt = true,
     .numberRequest = "89F",
     .identityRequest = "89F"},
}};

} // namespace

const EcrFamily& ecrFamily(int index) {
    const bool known = index >= 0 && index < static_cast<int>(kFamilies.size());
    return kFamilies[known ? static_cast<std::size_t>(index) : 0];
}

} // namespace velmar
