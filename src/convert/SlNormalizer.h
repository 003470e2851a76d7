#pragma once
// Brings a receipt line into canonical form before it is translated: keyword
// cut to four letters and upper-cased, numeric fields reduced to digits with
// fixed decimals, descriptions upper-cased, plain-lettered (a double quote
// becomes an apostrophe: texts end up inside double quotes) and cut to the
// maximum description length, and a closing ";".

#include <cstdint>
#include <string>
#include <string_view>

namespace velmar {

// An empty line stays empty. Throws Fault 6 when a number in the line is beyond
// a double, Fault 5 when MaxDescrLen is below -1.
std::string NormalizeSlLine(std::string_view sLine, std::int16_t MaxDescrLen);

} // namespace velmar
