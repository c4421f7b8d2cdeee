// IFFControl's requests.
#pragma once

#include <cstdint>

#include "core/handle.h"

namespace iff {

int32_t control(IFFHandle &h, uint32_t request, uint32_t flags, int32_t value, void *data);

} // namespace iff
