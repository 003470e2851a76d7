#pragma once
// The rewrites the translator applies to a command after it is produced.

#include <string>
#include <string_view>

namespace velmar {

// The amount mark: the first "|" becomes "*" on a percent line and "H"
// otherwise, and the command is upper-cased; a "|" in first place is dropped
// (the command is upper-cased too).
void applyBarFix(std::string& out, bool percentLine);

// Deposit and withdrawal commands as the family's row wants them (its
// cashMovement): "14M"/"15M" for "10M"/"11M", paid in cash, without the
// closing "="; or only without the closing "=".
void applyDepositFix(std::string& out, int ecrVariant);

// A closing payment line: ends with "T" and has a digit right before a "T".
bool isPaymentLine(std::string_view out);

} // namespace velmar
