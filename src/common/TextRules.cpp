#include "common/TextRules.h"

#include "common/Fault.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace velmar::text {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The extent of a number at the start of `s` (after blanks): sign, digits,
// one point. Reports where the digits are so the caller can parse them.
struct NumberExtent {
    bool negative = false;
    std::string_view body; // digits and at most one point, no sign
    std::size_t end = 0;   // index just past the number in the original text
    bool hasDigit = false;
};

NumberExtent scanNumber(std::string_view s, std::size_t i) {
    NumberExtent n;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        n.negative = s[i] == '-';
        ++i;
    }
    const std::size_t start = i;
    bool point = false;
    while (i < s.size()) {
        if (isDigit(s[i])) {
            n.hasDigit = true;
        } else if (s[i] == '.' && !point) {
            point = true;
        } else {
            break;
        }
        ++i;
    }
    n.body = s.substr(start, i - start);
    n.end = i;
    return n;
}

// Parses digits-and-point text; a magnitude below the smallest double reads 0.
bool parseBody(std::string_view body, double& out) {
    // Most numbers on a receipt are a few whole digits: exact without parsing.
    if (!body.empty() && body.size() <= 15 && body.find('.') == std::string_view::npos) {
        std::int64_t n = 0;
        for (char c : body) {
            n = n * 10 + (c - '0');
        }
        out = static_cast<double>(n);
        return true;
    }
    // from_chars does not take a bare leading point everywhere: give it "0.5".
    std::string buf;
    buf.reserve(body.size() + 1);
    if (!body.empty() && body.front() == '.') {
        buf.push_back('0');
    }
    buf.append(body);
    if (!buf.empty() && buf.back() == '.') {
        buf.pop_back();
    }
    double v = 0;
    auto [ptr, ec] = std::from_chars(buf.data(), buf.data() + buf.size(), v);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        // Out of range is either too large (overflow) or too small (reads 0).
        for (char c : buf) {
            if (c == '.') {
                break;
            }
            if (c != '0') {
                return false;
            }
        }
        v = 0;
    } else if (ec != std::errc()) {
        v = 0;
    }
    out = v;
    return true;
}

constexpr std::array<unsigned char, 256> makeUpperTable() {
    std::array<unsigned char, 256> t{};
    for (int i = 0; i < 256; ++i) {
        t[i] = static_cast<unsigned char>(i);
    }
    for (int c = 'a'; c <= 'z'; ++c) {
        t[c] = static_cast<unsigned char>(c - 32);
    }
    for (int c = 224; c <= 254; ++c) {
        if (c != 247) { // division sign
            t[c] = static_cast<unsigned char>(c - 32);
        }
    }
    t[154] = 138; // s caron
    t[156] = 140; // oe
    t[158] = 142; // z caron
    t[255] = 159; // y diaeresis
    return t;
}

} // namespace

namespace detail {
constexpr std::array<unsigned char, 256> kUpperTable = makeUpperTable();
} // namespace detail

double leadingNumber(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && isBlank(s[i])) {
        ++i;
    }
    NumberExtent n = scanNumber(s, i);
    if (!n.hasDigit) {
        return 0;
    }
    double v = 0;
    if (!parseBody(n.body, v)) {
        throw Fault(faultno::Overflow);
    }
    return n.negative ? -v : v;
}

bool isNumeric(std::string_view s) {
    // Blanks as leadingNumber skips them: spaces and tabs, at both ends.
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    if (s.empty()) {
        return false;
    }
    NumberExtent n = scanNumber(s, 0);
    if (!n.hasDigit || n.end != s.size()) {
        return false;
    }
    double v = 0;
    return parseBody(n.body, v);
}

double roundHalfEven(double v) {
    // The default floating-point environment rounds to nearest, ties to even.
    return std::nearbyint(v);
}

std::int16_t toInt16(double v) {
    const double r = roundHalfEven(v);
    if (!(r >= -32768.0 && r <= 32767.0)) {
        throw Fault(faultno::Overflow);
    }
    return static_cast<std::int16_t>(r);
}

std::int32_t toInt32(double v) {
    const double r = roundHalfEven(v);
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) {
        throw Fault(faultno::Overflow);
    }
    return static_cast<std::int32_t>(r);
}

std::string numberText(double v) {
    if (v == 0 || !std::isfinite(v)) {
        return "0";
    }
    // Whole numbers below 10^15 are written digit for digit.
    if (std::fabs(v) < 1e15 && v == std::trunc(v)) {
        return std::to_string(static_cast<std::int64_t>(v));
    }
    // Fifteen significant digits, then written out as plain decimal text: a
    // reader of "1E+15" would take the 1 and stop at the E.
    char buf[64];
    auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific, 14);
    if (ec != std::errc()) {
        return "0";
    }
    const std::string sci(buf, ptr); // d.dddddddddddddde+XX
    const std::size_t e = sci.find('e');
    std::string digits = sci.substr(0, 1) + sci.substr(2, e - 2);
    const int exponent = std::stoi(sci.substr(e + 1));
    while (digits.size() > 1 && digits.back() == '0') {
        digits.pop_back();
    }
    std::string out = v < 0 ? "-" : "";
    const int whole = exponent + 1; // digits before the point
    if (whole <= 0) {
        out += "0." + std::string(static_cast<std::size_t>(-whole), '0') + digits;
    } else if (static_cast<std::size_t>(whole) >= digits.size()) {
        out += digits + std::string(static_cast<std::size_t>(whole) - digits.size(), '0');
    } else {
        out += digits.substr(0, static_cast<std::size_t>(whole)) + "." +
               digits.substr(static_cast<std::size_t>(whole));
    }
    return out;
}

std::string toUpper(std::string_view s) {
    std::string out(s);
    toUpperInPlace(out);
    return out;
}

void toUpperInPlace(std::string& s) {
    for (char& c : s) {
        c = upperByte(c);
    }
}

std::size_t findNoCase(std::string_view hay, std::string_view needle, std::size_t start) {
    if (start < 1) {
        start = 1;
    }
    if (start > hay.size() + 1) {
        return 0;
    }
    if (needle.empty()) {
        return start;
    }
    if (needle.size() > hay.size()) {
        return 0;
    }
    const char first = upperByte(needle[0]);
    const std::size_t last = hay.size() - needle.size();
    for (std::size_t i = start - 1; i <= last; ++i) {
        if (upperByte(hay[i]) != first) {
            continue;
        }
        std::size_t k = 1;
        while (k < needle.size() && upperByte(hay[i + k]) == upperByte(needle[k])) {
            ++k;
        }
        if (k == needle.size()) {
            return i + 1;
        }
    }
    return 0;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (prefix.size() > s.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (upperByte(s[i]) != upperByte(prefix[i])) {
            return false;
        }
    }
    return true;
}

std::string_view trimLeftBlanks(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') {
        ++i;
    }
    return s.substr(i);
}

std::string_view trimRightBlanks(std::string_view s) {
    std::size_t n = s.size();
    while (n > 0 && s[n - 1] == ' ') {
        --n;
    }
    return s.substr(0, n);
}

std::string_view trimBlanks(std::string_view s) {
    return trimRightBlanks(trimLeftBlanks(s));
}

bool hasDigitBefore(std::string_view s, char letter) {
    for (std::size_t i = 1; i < s.size(); ++i) {
        if (s[i] == letter && isDigit(s[i - 1])) {
            return true;
        }
    }
    return false;
}

} // namespace velmar::text
