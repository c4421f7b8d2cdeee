// The operating system's allocator under heap_alloc and heap_free; one
// definition per platform, chosen by the build.
#pragma once

#include <cstddef>

namespace iff {

// size is at least 1. Returns nullptr when the system has no memory to give.
void *system_alloc(size_t size);
// Accepts nullptr.
void system_free(void *block);

} // namespace iff
