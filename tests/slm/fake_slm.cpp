// Stand-in conversion libraries that break the calling pattern in one way
// each, built as real shared libraries named qarn_slm1 in folders of their
// own, so the probe and the converter meet them as a site's replacement.

#include <cstdint>
#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))

#if defined(FAKE_NO_ENTRY)
EXPORT std::int32_t ConvertSomethingElse(const char*, std::int32_t, char*, char*) { return 0; }
#else
EXPORT std::int32_t ConvertSlToXt(const char*, std::int32_t, char* sOutput, char*) {
#if defined(FAKE_WRONG_ANSWER)
    std::strcpy(sOutput, "999H1R");
#elif defined(FAKE_LONGER_ANSWER)
    std::strcpy(sOutput, "1000H1RXYZ");
#elif defined(FAKE_NO_NUL)
    std::memcpy(sOutput, "1000H1R", 7);
    std::memset(sOutput + 7, 'A', 57); // all 64 bytes, no NUL
#elif defined(FAKE_ERRO_AFTER_NUL)
    std::memcpy(sOutput, "1000H1R\0 xx erro xx", 19);
#endif
    return 0;
}
#endif
