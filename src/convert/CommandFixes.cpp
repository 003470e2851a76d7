#include "convert/CommandFixes.h"

#include "common/EcrFamily.h"
#include "common/TextRules.h"

namespace velmar {

void applyBarFix(std::string& out, bool percentLine) {
    const std::size_t bar = out.find('|');
    if (bar == std::string::npos) {
        return;
    }
    if (bar == 0) {
        out.erase(0, 1);
    } else {
        out[bar] = percentLine ? '*' : 'H';
    }
    text::toUpperInPlace(out);
}

void applyDepositFix(std::string& out, int ecrVariant) {
    const auto dropClosingSubtotal = [&out] {
        if (!out.empty() && out.back() == '=') {
            out.pop_back();
        }
    };
    using CashMovement = EcrFamily::CashMovement;
    const CashMovement form = ecrFamily(ecrVariant).cashMovement;
    if (form == CashMovement::Codes14And15InCash) {
        const bool in = out.starts_with("10M");
        const bool outOfDrawer = out.starts_with("11M");
        if (!in && !outOfDrawer) {
            return;
        }
        out[1] = in ? '4' : '5';
        const std::size_t t = out.find('T');
        if (t != std::string::npos && t > 0) {
            out[t - 1] = '1';
        }
        dropClosingSubtotal();
    } else if (form == CashMovement::NoClosingSubtotal) {
        dropClosingSubtotal();
    }
}

bool isPaymentLine(std::string_view out) {
    return !out.empty() && out.back() == 'T' && text::hasDigitBefore(out, 'T');
}

} // namespace velmar
