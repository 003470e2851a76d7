#pragma once
// The library's mapping from a normalised receipt line to a register command.

#include <string>
#include <string_view>

namespace qarn {

struct Answer {
    std::string command; // the command, or a text beginning "ERRO: " with the reason
    bool ok = true;
};

// Converts one normalised line ("SALE,N1,P1000;"). Lines with a blank keyword
// convert to nothing. The command is at most 63 characters.
Answer convertSlLine(std::string_view line);

} // namespace qarn
