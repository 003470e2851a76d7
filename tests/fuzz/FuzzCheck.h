#pragma once
// A broken invariant stops the fuzzer with a crash, which libFuzzer reports
// and keeps the input of; the message names the invariant.

#include <cstdio>

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "fuzz: invariant broken: %s\n", #cond);                           \
            __builtin_trap();                                                                      \
        }                                                                                          \
    } while (0)
