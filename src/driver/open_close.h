// The life of a handle: IFFOpen's and IFFClose's work.
#pragma once

#include <cstdint>

#include "iffpcx.h"

namespace iff {

// A positive handle value, or a status code negated.
int32_t open_image(const void *source, uint32_t mode, IFFImageInfo *info);

// Completes and releases the image a live handle value names.
int32_t close_image(int32_t value);

} // namespace iff
