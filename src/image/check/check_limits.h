// The caller's options with the defaults filled in: no options, the
// defaults; a zero limit, the most the format allows.
#pragma once

#include <cstdint>

#include "core/pcx_format.h"
#include "iffpcx_check.h"

namespace iffpcx_check {

struct CheckLimits {
    bool strict = false;
    uint64_t max_pixels = 16384ull * 16384ull;
    uint64_t max_file_bytes = 0x7FFFFFFF; // stream positions are 32-bit
    uint32_t max_pages = pcx_format::kDcxMostPages;
};

inline CheckLimits limits_of(const iffpcx_check_options *options) {
    CheckLimits limits;
    if (options == nullptr) return limits;
    limits.strict = (options->flags & IFFPCX_CHECK_STRICT) != 0;
    limits.max_pixels = options->limits.max_pixels != 0 ? options->limits.max_pixels : UINT64_MAX;
    if (options->limits.max_file_bytes != 0 && options->limits.max_file_bytes < limits.max_file_bytes)
        limits.max_file_bytes = options->limits.max_file_bytes;
    if (options->limits.max_pages != 0 && options->limits.max_pages < limits.max_pages)
        limits.max_pages = options->limits.max_pages;
    return limits;
}

} // namespace iffpcx_check
