// Handle values: a pointer does not fit in the 31 bits a handle value has, so
// a value names a slot in a table of live records, with the slot's generation
// in its upper bits so that a closed handle's value is never taken for a
// later handle's.
#pragma once

#include <cstdint>

#include "core/handle.h"

namespace iff {

// Takes a free slot for a record still being opened; returns its positive
// handle value, or 0 when no slot can be had (the table is full or cannot
// grow). Lookups of the value fail until bind_handle gives it its record.
// Taken before an open touches the stream, so that a full table never costs
// the host a file.
int32_t reserve_handle();

// Makes a reserved value name record.
void bind_handle(int32_t value, IFFHandle *record);

// The live record a value names, or nullptr for a value that is zero or below,
// never issued, or closed.
IFFHandle *find_handle(int32_t value);

// Frees the slot of a live or reserved value; later lookups of the value fail.
void unregister_handle(int32_t value);

// Blocks the table holds for the life of the process, so a test that counts
// the allocator's live blocks can tell them from a handle's.
int32_t handle_table_blocks();

// Test hook: at most `limit` slots taken at once (0: the table's own size).
void limit_handles(int32_t limit);

} // namespace iff
