#pragma once
// The one field-lookup rule of the receipt language.

#include <cstdint>
#include <string>
#include <string_view>

namespace velmar {

// Finds keyword or field `sKey` in `sLine`, ignoring case; the first match wins.
// With bAtStart the match must be at the start of the line (keywords such as
// "SALE,"); otherwise `sKey` is a comma and a tag (",N", ",:", ",S1").
// Returns 1 and the value (from just after the key up to the next "," or ";")
// when found; 0 and `sValue` untouched when not. Key-specific starts: the keys
// "DISP", "PRNT" and "CLER" take the value from the 7th character, ",S" and
// ",R" keep the tag letter in the value.
std::int16_t GetSlField(bool bAtStart, std::string& sValue, std::string_view sLine,
                        std::string_view sKey);

} // namespace velmar
