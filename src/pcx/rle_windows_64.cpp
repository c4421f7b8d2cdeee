#include "pcx/rle_window_steps.h"
#include "pcx/rle_windows.h"

#ifdef IFF_X86_64_VECTORS
#include <immintrin.h>

namespace iff {

// The 16-byte windows' method over 64 bytes at a time: the count bytes come
// from one addition over the window's marks instead of tables, the C2 count
// bytes take their data bytes by one blend, and the kept bytes are gathered
// by one compress.
__attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,popcnt"))) void decode_windows_64(WindowState &state) {
    // Locals, which the stores through out cannot alias.
    uint8_t *out = state.out;
    const uint8_t *cursor = state.cursor;
    uint32_t available = state.available;
    int32_t remaining = state.remaining;
    const __m512i top = _mm512_set1_epi8(char(kCountMark));
    const __m512i single = _mm512_set1_epi8(char(kCountMark | 1));
    const __m512i pair = _mm512_set1_epi8(char(kCountMark | 2));
    uint32_t carry = 0;
    while (remaining >= 65 && available >= 65) {
        if (!carry && cursor[0] > (kCountMark | 2)) {
            // A run of three or more: run-heavy data spends its time here.
            if (!fill_run(out, cursor, available, remaining)) break;
            continue;
        }
        const __m512i window = _mm512_loadu_si512(cursor);
        const __m512i behind = _mm512_loadu_si512(cursor + 1);
        const uint64_t marks = _mm512_cmpge_epu8_mask(window, top);
        const uint64_t singles = _mm512_cmpeq_epi8_mask(window, single);
        const uint64_t pairs = _mm512_cmpeq_epi8_mask(window, pair);
        uint64_t carry_out = carry;
        const uint64_t counts = marks & ~pair_data_bytes(marks, carry_out);
        const uint64_t runs = counts & ~(singles | pairs);
        // Bytes taken: up to the first other run.
        const uint64_t taken = runs ? (runs & (0 - runs)) - 1 : ~uint64_t{0};
        const uint64_t keep = taken & ~(counts & singles);
        const __m512i source = _mm512_mask_blend_epi8(counts & pairs & taken, window, behind);
        _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(keep, source));
        const auto produced = uint32_t(__builtin_popcountll(keep));
        if (!pass_window(produced, runs, 64, uint32_t(carry_out), carry, out, cursor, available, remaining)) break;
    }
    state = hand_back(carry, out, cursor, available, remaining);
}

} // namespace iff
#endif
