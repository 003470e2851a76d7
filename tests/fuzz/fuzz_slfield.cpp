// Fuzzes the field reader GetSlField and the conversion library's own code
// (its line mapping and its C entry point, compiled into this target).
//
// Input: the first byte picks a key from the keys the translator uses, the
// rest is the line. Every key is looked up both as a keyword (at the start)
// and as a field; the line, raw and normalised, also goes through the
// library mapping and through ConvertSlToXt with an input area of exactly the
// line's length (no NUL after it), so any read past the line is caught.

#include "qarn_slm1.h"
#include "SlmMapping.h"

#include "common/Fault.h"
#include "common/TextRules.h"
#include "convert/SlField.h"
#include "convert/SlNormalizer.h"
#include "FuzzCheck.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 47> kKeys = {
    // keywords, as the translator tests them
    "READ", "OPEN,", "DISP,", "OPNF", "CLNF", "SALE,", "PLUD", "PRNT", "ADDS,", "CHEQ", "CARD",
    "CRED", "RECO,", "QRCO", "BARC", "EXTL,", "LOTT", "CASH", "TEND", "BANC", "TICK", "FUNC",
    "NDCR", "DELD", "DEPO", "PREL", "DISP", "CLER",
    // field keys
    ",N", ",:", ",P", ",Q", ",V", ",T", ",C", ",D", ",>", ",S1", ",S2", ",S3", ",S", ",R", ",%",
    // odd ones: empty, a bare comma, a key longer than most lines
    "", ",", ";", "PLUD,:LONG DESCRIPTION,P100,N1;"};

const std::string kSentinel = "\x01untouched";

void checkField(std::string_view line, std::string_view key) {
    std::string atStart = kSentinel;
    std::string anywhere = kSentinel;
    bool flag = true;
    const std::int16_t r1 = velmar::GetSlField(flag, atStart, line, key);
    flag = false;
    const std::int16_t r2 = velmar::GetSlField(flag, anywhere, line, key);

    FUZZ_CHECK(r1 == 0 || r1 == 1);
    FUZZ_CHECK(r2 == 0 || r2 == 1);
    for (const auto& [r, value] : {std::pair{r1, &atStart}, std::pair{r2, &anywhere}}) {
        if (r == 0) {
            FUZZ_CHECK(*value == kSentinel); // not found leaves the caller's preset
        } else {
            FUZZ_CHECK(value->find_first_of(",;") == std::string::npos);
            FUZZ_CHECK(value->empty() || line.find(*value) != std::string_view::npos);
        }
    }
    if (r1 == 1) {
        // Found at the start: it is the first match too, with the same value.
        FUZZ_CHECK(velmar::text::startsWithNoCase(line, key));
        FUZZ_CHECK(r2 == 1 && anywhere == atStart);
    }
    if (r2 == 0) {
        FUZZ_CHECK(r1 == 0);
    }
}

void checkLibrary(std::string_view line) {
    const qarn::Answer answer = qarn::convertSlLine(line);
    FUZZ_CHECK(answer.command.size() <= 63);
    if (!answer.ok) {
        FUZZ_CHECK(answer.command.starts_with("ERRO: "));
    }

    // The C entry point with the line in an area of exactly its length.
    const std::size_t n = line.size();
    std::unique_ptr<char[]> input(new char[n == 0 ? 1 : n]);
    if (n > 0) {
        std::memcpy(input.get(), line.data(), n);
    }
    std::array<char, 64> output;
    output.fill('#');
    std::array<char, 10> status;
    status.fill('#');
    const std::int32_t length = static_cast<std::int32_t>(n > 0x7fffffff ? 0x7fffffff : n);
    const std::int32_t rc = ConvertSlToXt(input.get(), length, output.data(), status.data());

    const void* nul = std::memchr(output.data(), '\0', output.size());
    FUZZ_CHECK(nul != nullptr); // the command is always ended inside the area
    const std::string command(
        output.data(), static_cast<std::size_t>(static_cast<const char*>(nul) - output.data()));
    // The entry point reads the line up to its length or its first NUL.
    const std::string_view upToNul = line.substr(0, line.find('\0'));
    const qarn::Answer direct = qarn::convertSlLine(upToNul);
    FUZZ_CHECK(command == direct.command);
    FUZZ_CHECK(rc == (direct.ok ? 0 : 1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view key = kKeys[data[0] % kKeys.size()];
    const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);

    checkField(line, key);
    checkLibrary(line);

    // What the translator really hands over: the normalised line.
    std::string normalised;
    try {
        normalised = velmar::NormalizeSlLine(line, 30);
    } catch (const velmar::Fault& fault) {
        FUZZ_CHECK(fault.number() == 6);
        return 0;
    }
    checkField(normalised, key);
    checkLibrary(normalised);
    return 0;
}
