// Fuzzes NormalizeSlLine: any bytes as a receipt line, the maximum description
// length from the first byte (signed, so -128..127: below -1 the normaliser
// must refuse with Fault 5). A Fault 6 (a number beyond a double) is allowed;
// any other exception, a crash or a sanitizer report is a finding.

#include "common/Fault.h"
#include "convert/SlNormalizer.h"
#include "FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// The pieces of a normalised line between commas.
void checkTextFields(std::string_view out, int maxLen) {
    std::size_t from = 0;
    bool first = true;
    for (;;) {
        const std::size_t comma = out.find(',', from);
        const bool last = comma == std::string_view::npos;
        const std::string_view piece = out.substr(from, last ? out.npos : comma - from);
        // A text field keeps ":" and at most maxLen characters; the last one
        // may also carry the ";" that closes the line.
        if (!first && !piece.empty() && piece[0] == ':' && maxLen >= 0) {
            FUZZ_CHECK(piece.size() <= static_cast<std::size_t>(maxLen) + 1 + (last ? 1 : 0) ||
                       piece == ": " || piece == ": ;");
        }
        if (last) {
            break;
        }
        first = false;
        from = comma + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::int16_t maxLen = static_cast<std::int8_t>(data[0]);
    const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);

    std::string out;
    try {
        out = velmar::NormalizeSlLine(line, maxLen);
    } catch (const velmar::Fault& fault) {
        // 6: a number beyond a double; 5: a negative description length.
        FUZZ_CHECK(fault.number() == 6 || (fault.number() == 5 && maxLen < -1));
        return 0;
    }

    if (line.empty()) {
        FUZZ_CHECK(out.empty());
        return 0;
    }
    FUZZ_CHECK(out.find(';') != std::string::npos);
    // Growth is bounded: at most two letters for one, "1" for an empty
    // number, "0" and three decimals for a bare point, the closing ";".
    FUZZ_CHECK(out.size() <= 3 * line.size() + 2);
    checkTextFields(out, maxLen);

    // The keyword: the first four bytes of the first field, upper-cased, when
    // that field is not empty.
    const std::size_t comma = line.find(',');
    const std::string_view keyword = line.substr(0, comma);
    if (!keyword.empty()) {
        const std::size_t k = keyword.size() < 4 ? keyword.size() : 4;
        FUZZ_CHECK(out.size() >= k);
        for (std::size_t i = 0; i < k; ++i) {
            const char c = keyword[i];
            const char u = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
            // Bytes above 127 follow the code page's own case rules.
            if (static_cast<unsigned char>(c) < 128) {
                FUZZ_CHECK(out[i] == u);
            }
        }
    }
    return 0;
}
