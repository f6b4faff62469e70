// Small helpers the fuzz target bodies share, beside the tests' support.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "support/text.hpp"

// Stops the process with a message when a check on the program's outcome
// fails, so libFuzzer keeps the input and the replay test fails.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)
