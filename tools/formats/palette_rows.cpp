#include "palette_rows.h"

#include <cstring>

#include "cpu_features.h"

#ifdef IFF_X86_64_VECTORS
#include <immintrin.h>
#endif

namespace pcxtool {

namespace {

// Four pixels at a time as one 8-byte and one 4-byte store.
void expand_portable(const uint32_t *packed, const uint8_t *indices, size_t count, uint8_t *out) {
    size_t x = 0;
    for (; x + 4 <= count; x += 4, out += 12) {
        const uint64_t c2 = packed[indices[x + 2]];
        const uint64_t low = packed[indices[x]] | uint64_t{packed[indices[x + 1]]} << 24 | c2 << 48;
        const uint32_t high = static_cast<uint32_t>(c2 >> 16) | packed[indices[x + 3]] << 8;
        std::memcpy(out, &low, 8);
        std::memcpy(out + 8, &high, 4);
    }
    for (; x < count; ++x, out += 3) {
        const uint32_t c = packed[indices[x]];
        out[0] = static_cast<uint8_t>(c);
        out[1] = static_cast<uint8_t>(c >> 8);
        out[2] = static_cast<uint8_t>(c >> 16);
    }
}

#ifdef IFF_X86_64_VECTORS
// 64 pixels at a time: each channel is looked up in its 256-byte table by
// two 128-byte permutes chosen by the index's top bit, and the three
// channels are woven into 192 bytes of triples by one two-table permute and
// one masked permute per 64 output bytes.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) size_t
expand_vectors(const PaletteRows::Tables &t, const uint8_t *indices, size_t count, uint8_t *out) {
    __m512i table[3][4];
    for (int c = 0; c < 3; ++c) {
        for (int q = 0; q < 4; ++q) {
            table[c][q] = _mm512_load_si512(t.channels[c] + 64 * q);
        }
    }
    __m512i rg_order[3], b_order[3];
    __mmask64 blue_lanes[3];
    for (int k = 0; k < 3; ++k) {
        rg_order[k] = _mm512_load_si512(t.red_green[k]);
        b_order[k] = _mm512_load_si512(t.blue[k]);
        blue_lanes[k] = t.blue_lanes[k];
    }
    size_t x = 0;
    for (; x + 64 <= count; x += 64, out += 192) {
        const __m512i index = _mm512_loadu_si512(indices + x);
        const __mmask64 upper = _mm512_movepi8_mask(index);
        __m512i channel[3];
        for (int c = 0; c < 3; ++c) {
            const __m512i low = _mm512_permutex2var_epi8(table[c][0], index, table[c][1]);
            const __m512i high = _mm512_permutex2var_epi8(table[c][2], index, table[c][3]);
            channel[c] = _mm512_mask_blend_epi8(upper, low, high);
        }
        for (int k = 0; k < 3; ++k) {
            const __m512i rg = _mm512_permutex2var_epi8(channel[0], rg_order[k], channel[1]);
            _mm512_storeu_si512(out + 64 * k, _mm512_mask_permutexvar_epi8(rg, blue_lanes[k], b_order[k], channel[2]));
        }
    }
    return x;
}
#endif

} // namespace

PaletteRows::PaletteRows(const uint8_t (*colours)[3]) : tables_{} {
    for (int i = 0; i < 256; ++i) {
        packed_[i] = colours[i][0] | uint32_t{colours[i][1]} << 8 | uint32_t{colours[i][2]} << 16;
        for (int c = 0; c < 3; ++c) {
            tables_.channels[c][i] = colours[i][c];
        }
    }
    // Output byte j of part k is channel (64k + j) % 3 of pixel (64k + j) / 3:
    // red and green come from the two-table permute (green at 64 and up),
    // blue is laid over them by the masked one.
    for (int k = 0; k < 3; ++k) {
        for (int j = 0; j < 64; ++j) {
            const int position = 64 * k + j;
            const int pixel = position / 3;
            const int channel = position % 3;
            tables_.red_green[k][j] = static_cast<uint8_t>(channel == 1 ? 64 + pixel : pixel);
            tables_.blue[k][j] = static_cast<uint8_t>(pixel);
            if (channel == 2) {
                tables_.blue_lanes[k] |= uint64_t{1} << j;
            }
        }
    }
}

void PaletteRows::expand(const uint8_t *indices, size_t count, uint8_t *out) const {
    size_t done = 0;
#ifdef IFF_X86_64_VECTORS
    if (count >= 64 && iff::cpu_level() >= iff::CpuLevel::avx512) {
        done = expand_vectors(tables_, indices, count, out);
    }
#endif
    expand_portable(packed_, indices + done, count - done, out + 3 * done);
}

} // namespace pcxtool
