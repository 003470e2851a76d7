#pragma once
// What the converter reads of the operator's choices, handed to it with every
// conversion: the register family, the description length and the register's
// registration number. A plain value, so a program converts a file without
// the operator panel.

#include <cstdint>
#include <string>

namespace velmar {

struct ConverterSettings {
    int family = 0;                 // the register family, 0 to 6
    std::string maxDescrLen = "30"; // the description length as chosen, in code page bytes
    std::string registrationNumber; // from the settings: a document reference must name it

    // The leading number of maxDescrLen, 30 when it is not numeric. Throws
    // Fault 6 when the number does not fit 16 bits, which refuses the receipt
    // at its first line, as any fault while converting does.
    std::int16_t descriptionLength() const;
};

} // namespace velmar
