// Decoding of coded lines in windows of 16 or 64 coded bytes, on processors
// that have the instructions for it. Each works while its window, the bytes
// behind it and a run's pair lie in the buffer and a window's output fits in
// the line, and returns with the cursor at the next pair or literal, leaving
// the rest of the line (its last bytes, a run that crosses its end, the
// buffer's end) to the caller.
#pragma once

#include <cstdint>

namespace iff {

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define IFF_WINDOW_DECODER 1
#if defined(__x86_64__)
#define IFF_WIDE_WINDOW_DECODER 1 // 64-byte windows need 64-bit masks
#endif
#endif

// The widest window this processor can decode: 64, 16, or 0 for none.
int widest_window();

// Test hook: decode with windows no wider than `width` (0: none), so that
// every path is checked on a processor that has the widest; -1 restores the
// processor's own choice.
void limit_window_width(int width);

#ifdef IFF_WINDOW_DECODER
void decode_windows_16(uint8_t *&out, uint8_t *&cursor, uint32_t &available, int32_t &remaining);
#ifdef IFF_WIDE_WINDOW_DECODER
void decode_windows_64(uint8_t *&out, uint8_t *&cursor, uint32_t &available, int32_t &remaining);
#endif
#endif

} // namespace iff
