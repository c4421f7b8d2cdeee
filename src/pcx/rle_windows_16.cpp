#include "pcx/rle_window_steps.h"
#include "pcx/rle_windows.h"

#ifdef IFF_X86_VECTORS
#include <immintrin.h>

namespace iff {
namespace {

// Tables for 16-byte windows taken as two halves of eight bytes.
struct WindowTables {
    // counts[c][marks]: which marked bytes of a half are count bytes, when the
    // byte in front of the half was a count byte (c = 1) or not; bit 8 says
    // the half's last byte is a count byte, so the next byte is data.
    uint16_t counts[2][256];
    // shuffle[keep]: the indices of the bytes a half keeps, in order.
    uint8_t shuffle[256][8];
};

constexpr WindowTables make_window_tables() {
    WindowTables t{};
    for (int carry = 0; carry < 2; ++carry) {
        for (int marks = 0; marks < 256; ++marks) {
            int counts = 0;
            bool previous = carry != 0;
            for (int i = 0; i < 8; ++i) {
                const bool is_count = ((marks >> i) & 1) && !previous;
                counts |= is_count << i;
                previous = is_count;
            }
            t.counts[carry][marks] = uint16_t(counts | (previous ? 0x100 : 0));
        }
    }
    for (int keep = 0; keep < 256; ++keep) {
        int n = 0;
        for (int i = 0; i < 8; ++i) {
            if ((keep >> i) & 1) t.shuffle[keep][n++] = uint8_t(i);
        }
    }
    return t;
}

constexpr WindowTables kWindow = make_window_tables();

} // namespace

// Photos code most pixels as literals and short pairs: single bytes (C1 xx,
// often for data of 0xC0 or above) and pairs of equal bytes (C2 xx). A window
// of 16 coded bytes is decoded without a branch per pair: its count bytes are
// found from the marks, C1 count bytes are dropped, C2 count bytes take their
// data byte's value (its second copy is the data byte itself), and the kept
// bytes are gathered by one shuffle per half. Windows lie a fixed 16 bytes
// apart, so the next one is loaded before this one is worked out; a pair that
// straddles two windows leaves `carry` set: the next window's first byte is
// data. Another run (C0, C3 and up) ends the window's stretch and is filled
// on its own. Works while a window, the byte behind it and a run's pair lie in
// the buffer and 17 bytes of output in the line, and returns with the cursor
// at the next pair or literal; a run that crosses the line's end is left to
// the caller.
__attribute__((target("ssse3,popcnt"))) void decode_windows_16(WindowState &state) {
    // Locals, which the stores through out cannot alias.
    uint8_t *out = state.out;
    const uint8_t *cursor = state.cursor;
    uint32_t available = state.available;
    int32_t remaining = state.remaining;
    const __m128i top = _mm_set1_epi8(char(kCountMark));
    const __m128i single = _mm_set1_epi8(char(kCountMark | 1));
    const __m128i pair = _mm_set1_epi8(char(kCountMark | 2));
    const __m128i high_half = _mm_set1_epi8(8);
    // A 16-bit mask spread over the window's bytes: byte i is all ones when bit i is set.
    const __m128i spread = _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1);
    const __m128i bit_of_byte = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, char(128), 1, 2, 4, 8, 16, 32, 64, char(128));
    uint32_t carry = 0;
    while (remaining >= 17 && available >= 17) {
        if (!carry && cursor[0] > (kCountMark | 2)) {
            // A run of three or more: run-heavy data spends its time here.
            if (!fill_run(out, cursor, available, remaining)) break;
            continue;
        }
        const __m128i window = _mm_loadu_si128(reinterpret_cast<const __m128i *>(cursor));
        const __m128i behind = _mm_loadu_si128(reinterpret_cast<const __m128i *>(cursor + 1));
        const auto marks = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(window, top), top)));
        const auto singles = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(window, single)));
        const auto pairs = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(window, pair)));
        // The window's last byte is a count byte when the marked bytes that
        // end it are odd in number; a window marked throughout passes the
        // carry on. Only a conditional move lies between windows.
        const uint32_t unmarked = ~marks & 0xFFFF;
        const uint32_t carry_out = unmarked ? ((31u - uint32_t(__builtin_clz(unmarked))) ^ 15u) & 1u : carry;
        const uint32_t low = kWindow.counts[carry][marks & 0xFF];
        const uint32_t high = kWindow.counts[low >> 8][marks >> 8];
        const uint32_t counts = (low & 0xFF) | (high & 0xFF) << 8;
        const uint32_t runs = counts & ~(singles | pairs);
        // Bytes taken: up to the first other run.
        const uint32_t taken = runs ? (runs & (0u - runs)) - 1 : 0xFFFF;
        const uint32_t keep = taken & ~(counts & singles);
        const __m128i doubled = _mm_cmpeq_epi8(
            _mm_and_si128(_mm_shuffle_epi8(_mm_cvtsi32_si128(int(counts & pairs)), spread), bit_of_byte), bit_of_byte);
        const __m128i source = _mm_or_si128(_mm_andnot_si128(doubled, window), _mm_and_si128(doubled, behind));
        const __m128i low_order = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(kWindow.shuffle[keep & 0xFF]));
        const __m128i high_order =
            _mm_add_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(kWindow.shuffle[keep >> 8])), high_half);
        const auto low_kept = uint32_t(__builtin_popcount(keep & 0xFF));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out), _mm_shuffle_epi8(source, low_order));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + low_kept), _mm_shuffle_epi8(source, high_order));
        const auto produced = uint32_t(__builtin_popcount(keep));
        if (!pass_window(produced, runs, 16, uint32_t(carry_out), carry, out, cursor, available, remaining)) break;
    }
    state = hand_back(carry, out, cursor, available, remaining);
}

} // namespace iff
#endif
