// What the fuzz targets share: a failed invariant aborts with its line, so
// libFuzzer keeps the input and the replay runner fails its test.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition);                     \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

// Reads every byte, so a sanitizer sees each one the code under test handed
// out; the sum goes where the optimiser cannot drop it.
inline volatile unsigned touched_sum;
inline void touch_bytes(const unsigned char *bytes, size_t size) {
    unsigned sum = 0;
    for (size_t i = 0; i < size; ++i) sum += bytes[i];
    touched_sum = touched_sum + sum;
}
