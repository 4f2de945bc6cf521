#pragma once
// A check that fails a fuzz run loudly, with the condition and line, in every build type.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                           \
    do {                                                                           \
        if (!(cond)) {                                                             \
            std::fprintf(stderr, "check failed: %s (line %d)\n", #cond, __LINE__); \
            std::abort();                                                          \
        }                                                                          \
    } while (0)
