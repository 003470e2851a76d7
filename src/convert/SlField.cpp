#include "convert/SlField.h"

#include "common/TextRules.h"

namespace velmar {

std::int16_t GetSlField(bool bAtStart, std::string& sValue, std::string_view sLine,
                        std::string_view sKey) {
    std::size_t match = 0; // 1-based
    if (bAtStart) {
        // The first match is at position 1 exactly when the line starts with the key.
        if (!text::startsWithNoCase(sLine, sKey)) {
            return 0;
        }
        match = 1;
    } else {
        match = text::findNoCase(sLine, sKey);
        if (match == 0) {
            return 0;
        }
    }

    std::size_t first; // 1-based position of the value's first character
    if (sKey == "DISP" || sKey == "PRNT" || sKey == "CLER") {
        first = 7;
    } else if (sKey == ",S" || sKey == ",R") {
        first = match + 1;
    } else {
        first = match + 2;
    }

    sValue.clear();
    for (std::size_t i = first; i <= sLine.size(); ++i) {
        const char c = sLine[i - 1];
        if (c == ',' || c == ';') {
            break;
        }
        sValue.push_back(c);
    }
    return 1;
}

} // namespace velmar
