// A broken property is a finding: say which, and stop so that libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define BW_FUZZ_CHECK(condition)                                                                  \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)
