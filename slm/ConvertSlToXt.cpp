// The library's C entry point: copies the line in, the command out.

#include "qarn_slm1.h"

#include "SlmMapping.h"

#include <algorithm>
#include <cstring>
#include <string_view>

extern "C" QARN_SLM1_API int32_t QARN_SLM1_CALL ConvertSlToXt(const char* sInput,
                                                              int32_t nInputLength, char* sOutput,
                                                              char* sStatus) {
    constexpr std::size_t kOutput = 64;
    constexpr std::size_t kStatus = 10;
    if (sOutput == nullptr) {
        return 1;
    }
    // The line ends at its length or at a NUL, whichever comes first.
    std::size_t length = 0;
    if (sInput != nullptr && nInputLength > 0) {
        const void* nul = std::memchr(sInput, '\0', static_cast<std::size_t>(nInputLength));
        length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - sInput)
                     : static_cast<std::size_t>(nInputLength);
    }

    qarn::Answer answer;
    try {
        answer = qarn::convertSlLine(std::string_view(sInput ? sInput : "", length));
    } catch (...) { // nothing may cross the C boundary
        answer = qarn::Answer{"ERRO: errore interno della libreria", false};
    }
    const std::size_t n = std::min(answer.command.size(), kOutput - 1);
    std::memcpy(sOutput, answer.command.data(), n);
    sOutput[n] = '\0';

    if (sStatus != nullptr) {
        std::memset(sStatus, 0, kStatus);
        std::memcpy(sStatus, answer.ok ? "OK" : "ERRO", answer.ok ? 2 : 4);
    }
    return answer.ok ? 0 : 1;
}
