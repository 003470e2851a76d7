#include "convert/TaxCodeChecks.h"

#include "common/TextRules.h"

namespace velmar {

namespace {
// Value of a character at an odd position (1st, 3rd, ...), by letter index;
// digits count as the letters A..J.
constexpr int kOddValue[26] = {1,  0,  5,  7,  9,  13, 15, 17, 19, 21, 2,  4,  18,
                               20, 11, 3,  6,  8,  12, 14, 16, 10, 22, 25, 24, 23};
} // namespace

bool CheckCodiceFiscale(std::string_view sCode) {
    if (sCode.size() != 16) {
        return false;
    }
    const std::string code = text::toUpper(sCode);
    int sum = 0;
    for (int pos = 1; pos <= 15; ++pos) {
        const char c = code[static_cast<std::size_t>(pos - 1)];
        int k;
        if (c >= 'A' && c <= 'Z') {
            k = c - 'A';
        } else if (c >= '0' && c <= '9') {
            k = c - '0';
        } else {
            return false;
        }
        sum += (pos % 2 == 1) ? kOddValue[k] : k;
    }
    return code[15] == static_cast<char>('A' + sum % 26);
}

bool CheckPartitaIva(std::string_view sNumber) {
    sNumber = text::trimRightBlanks(sNumber);
    if (sNumber.size() != 11) {
        return false;
    }
    for (char c : sNumber) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    int sum = 0;
    for (int pos = 1; pos <= 10; ++pos) {
        const int d = sNumber[static_cast<std::size_t>(pos - 1)] - '0';
        if (pos % 2 == 1) {
            sum += d;
        } else {
            const int twice = 2 * d;
            sum += twice / 10 + twice % 10;
        }
    }
    int check = 10 - sum % 10;
    if (check == 10) {
        check = 0;
    }
    return sNumber[10] - '0' == check;
}

} // namespace velmar
