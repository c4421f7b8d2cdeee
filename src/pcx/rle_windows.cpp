#include "pcx/rle_windows.h"

#include <atomic>

namespace iff {
namespace {

int processor_window() {
#ifndef IFF_WINDOW_DECODER
    return 0;
#else
#ifdef IFF_WIDE_WINDOW_DECODER
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi") &&
        __builtin_cpu_supports("popcnt"))
        return 64;
#endif
    if (__builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt")) return 16;
    return 0;
#endif
}

std::atomic<int> window_limit{-1};

} // namespace

int widest_window() {
    static const int width = processor_window();
    const int limit = window_limit.load(std::memory_order_relaxed);
    return limit >= 0 && limit < width ? limit : width;
}

void limit_window_width(int width) {
    window_limit.store(width, std::memory_order_relaxed);
}

} // namespace iff
