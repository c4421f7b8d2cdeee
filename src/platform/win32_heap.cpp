// The process heap, shared with the host and every other module in the process.
#include <windows.h>

#include "platform/system_heap.h"

namespace iff {

void *system_alloc(size_t size) {
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void system_free(void *block) {
    if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

} // namespace iff
