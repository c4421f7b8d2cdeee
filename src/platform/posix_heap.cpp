// The C runtime's heap, which the sanitizer builds also watch.
#include <cstdlib>

#include "platform/system_heap.h"

namespace iff {

void *system_alloc(size_t size) {
    return std::malloc(size);
}

void system_free(void *block) {
    std::free(block);
}

} // namespace iff
