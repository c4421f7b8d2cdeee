// Decoding of coded lines in windows of 16, 32 or 64 coded bytes, on
// processors that have the instructions for it, or in spans of 64 by plain
// integer steps on any other. Each works while its window,
// the bytes behind it and a run's pair lie in the buffer and a window's output
// fits in the line, and returns with the cursor at the next pair or literal,
// leaving the rest of the line (its last bytes, a run that crosses its end,
// the buffer's end) to the caller.
#pragma once

#include <cstdint>

#include "platform/cpu_features.h"

namespace iff {

// Where a window loop stands: in the line (out, remaining bytes) and in the
// read buffer (cursor, available bytes). A record of its own, so that the
// caller's locals never escape and stay in registers; its fields are read
// and written one by one, as a record passed by value would cost stalls.
struct WindowState {
    uint8_t *out;
    uint8_t *cursor;
    uint32_t available;
    int32_t remaining;
};

using WindowDecoder = void (*)(WindowState &state);

// The window loops for a level, widest first; a narrower one takes over where
// the wider one stops short of the line's end. Null where there is none.
struct WindowDecoders {
    WindowDecoder wide;
    WindowDecoder narrow;
};

WindowDecoders window_decoders(CpuLevel level);

void decode_windows_portable(WindowState &state); // every processor
#ifdef IFF_X86_VECTORS
void decode_windows_16(WindowState &state);
void decode_windows_32(WindowState &state);
#ifdef IFF_X86_64_VECTORS
void decode_windows_64(WindowState &state);
#endif
#endif

} // namespace iff
