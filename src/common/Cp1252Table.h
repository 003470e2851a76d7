#pragma once
// The Windows-1252 code page as one table, plain C++: the driver's Cp1252
// functions and the register model's journal both read it, and the model
// stays free of the driver's libraries.

namespace velmar::cp1252 {

// 0x80..0x9F; the five undefined positions map to the C1 control of the same
// value. Every other byte is the Unicode character of the same number.
inline constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The character a byte stands for.
constexpr char16_t toUnicode(unsigned char b) {
    return b >= 0x80 && b <= 0x9F ? kHigh[b - 0x80] : char16_t(b);
}

} // namespace velmar::cp1252
