#include "platform/heap.h"

#include <atomic>
#include <cstring>

#include "platform/system_heap.h"

namespace iff {
namespace {
std::atomic<uint64_t> fail_countdown{0};
std::atomic<bool> fail_sticky{false};
std::atomic<uint64_t> allocations_made{0};
std::atomic<uint64_t> live_blocks{0};
std::atomic<int> fill_byte{-1};

bool injected_failure() {
    allocations_made.fetch_add(1, std::memory_order_relaxed);
    uint64_t left = fail_countdown.load(std::memory_order_relaxed);
    if (left == 0) return false;
    if (left == 1) {
        if (!fail_sticky.load(std::memory_order_relaxed)) fail_countdown.store(0);
        return true;
    }
    fail_countdown.store(left - 1, std::memory_order_relaxed);
    return false;
}
} // namespace

void *heap_alloc(size_t size) {
    if (injected_failure()) return nullptr;
    void *block = system_alloc(size == 0 ? 1 : size);
    if (block == nullptr) return nullptr;
    live_blocks.fetch_add(1, std::memory_order_relaxed);
    const int fill = fill_byte.load(std::memory_order_relaxed);
    if (fill >= 0) std::memset(block, fill, size);
    return block;
}

void *heap_alloc_zeroed(size_t size) {
    void *block = heap_alloc(size);
    if (block) std::memset(block, 0, size);
    return block;
}

void heap_free(void *block) {
    if (block == nullptr) return;
    live_blocks.fetch_sub(1, std::memory_order_relaxed);
    system_free(block);
}

uint64_t heap_fail_after(uint64_t allocations, bool sticky) {
    fail_sticky.store(sticky);
    fail_countdown.store(allocations);
    return allocations_made.exchange(0);
}

uint64_t heap_live_blocks() {
    return live_blocks.load(std::memory_order_relaxed);
}

void heap_fill_pattern(int byte) {
    fill_byte.store(byte < 0 ? -1 : (byte & 0xFF));
}

} // namespace iff
