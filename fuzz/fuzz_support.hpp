// Small helpers the fuzz target bodies share.
#pragma once

#include <cstdio>
#include <cstdlib>

// Stops the process with a message when a check on the program's outcome
// fails, so libFuzzer keeps the input and the replay test fails.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

// A stream that discards everything written to it, opened once per process.
inline std::FILE* null_stream() {
#if defined(_WIN32)
    static std::FILE* const stream = std::fopen("NUL", "wb");
#else
    static std::FILE* const stream = std::fopen("/dev/null", "wb");
#endif
    FUZZ_CHECK(stream != nullptr);
    return stream;
}
