// The one allocator behind every buffer of the library. Memory comes back
// uncleared; heap_free accepts nullptr.
#pragma once

#include <cstddef>
#include <cstdint>

namespace iff {

void *heap_alloc(size_t size);
void heap_free(void *block);

// Allocation that also clears the block.
void *heap_alloc_zeroed(size_t size);

// Test hook: the allocation that many allocations from now fails (1: the
// next one), and so does every later one while `sticky`; 0 turns it off.
// Returns the number of allocations made since the last call.
uint64_t heap_fail_after(uint64_t allocations, bool sticky = false);

// Test hook: blocks handed out and not yet released, so a test can tell that
// a failed step released everything it took.
uint64_t heap_live_blocks();

// Test hook: fill every new block with `byte` (0..255; -1, the default, leaves
// it as the system gives it). Decoding a file twice under two fills shows any
// output byte that came from memory the library never wrote.
void heap_fill_pattern(int byte);

} // namespace iff
