#pragma once
// The text rules every component shares: how numbers are read from text and
// written back, upper case in the workstation's code page, and the
// case-insensitive search with 1-based positions.
//
// Everything here works on bytes in the single-byte code page (Windows-1252)
// and is plain C++, so the conversion library can use it without Qt.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmar::text {

namespace detail {
// Windows-1252 upper case by byte value (see upperByte).
extern const std::array<unsigned char, 256> kUpperTable;
} // namespace detail

// The leading number of a text: leading blanks (spaces, tabs) skipped, an optional sign, then
// digits with at most one decimal point; reading stops at the first character
// that cannot continue the number. No digits at all reads as 0.
// "  12.5kg" -> 12.5, "1.2.3" -> 1.2, "-7x" -> -7, "" -> 0, "abc" -> 0.
// Throws Fault 6 (overflow) when the number is beyond a double.
double leadingNumber(std::string_view s);

// True when the whole text, blanks (spaces, tabs) trimmed, is one number in the form read by
// leadingNumber (at least one digit) and fits in a double.
bool isNumeric(std::string_view s);

// Rounds to the nearest integer, a half going to the even neighbour.
double roundHalfEven(double v);

// Round half to even, then convert; Fault 6 outside the type's range (NaN too).
std::int16_t toInt16(double v);
std::int32_t toInt32(double v);

// The shortest decimal text of a number, at most 15 significant digits, point
// as decimal separator, no trailing zeros, never an exponent: 1.5 -> "1.5",
// 2 -> "2", 0.25 -> "0.25", 1e20 -> "100000000000000000000",
// 0.00001 -> "0.00001". Independent of the process locale.
std::string numberText(double v);

// Upper case in Windows-1252: a-z, the accented letters 224-254 (but 247), and
// the four letters whose capitals sit in 128-159 (š, œ, ž, ÿ).
inline char upperByte(char c) {
    return static_cast<char>(detail::kUpperTable[static_cast<unsigned char>(c)]);
}
std::string toUpper(std::string_view s);
void toUpperInPlace(std::string& s);

// 1-based position of `needle` in `hay` at or after 1-based `start`, compared
// without regard to case; 0 when absent. An empty needle is found at `start`.
std::size_t findNoCase(std::string_view hay, std::string_view needle, std::size_t start = 1);

bool startsWithNoCase(std::string_view s, std::string_view prefix);

// Blanks (spaces) removed from both ends / from the left / from the right.
std::string_view trimBlanks(std::string_view s);
std::string_view trimLeftBlanks(std::string_view s);
std::string_view trimRightBlanks(std::string_view s);

// True when any digit is directly followed by `letter` ("500H1T" has 1T).
bool hasDigitBefore(std::string_view s, char letter);

} // namespace velmar::text
