#include "pcx/rle_window_steps.h"
#include "pcx/rle_windows.h"

#ifdef IFF_X86_VECTORS
#include <immintrin.h>

namespace iff {
namespace {

// For each eight-bit keep mask of an eight-byte quarter, the shuffle order
// that gathers its kept bytes, in order, at the start of the quarter: lower
// for the first quarter of a 16-byte lane, upper (its indices and place 8
// higher) for the second. Or-ed together they make one lane's order.
struct CompressTables {
    alignas(16) uint8_t lower[256][16];
    alignas(16) uint8_t upper[256][16];
};

constexpr CompressTables make_compress_tables() {
    CompressTables t{};
    for (int keep = 0; keep < 256; ++keep) {
        int n = 0;
        for (int i = 0; i < 8; ++i) {
            if ((keep >> i) & 1) {
                t.lower[keep][n] = uint8_t(i);
                t.upper[keep][8 + n] = uint8_t(8 + i);
                ++n;
            }
        }
    }
    return t;
}

constexpr CompressTables kCompress = make_compress_tables();

#define IFF_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))

// Where a window's C2 count bytes stand, the byte behind: the pair's two
// copies are then the count byte's place and the data byte's.
IFF_AVX2 inline __m256i take_pair_data(__m256i window, __m256i behind, uint32_t pair_counts) {
    // Byte i of the spread mask is all ones when bit i is set.
    const __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 3,
                                            3, 3, 3, 3, 3, 3, 3);
    const __m256i bit_of_byte = _mm256_set1_epi64x(int64_t(0x8040201008040201ULL));
    const __m256i bits = _mm256_shuffle_epi8(_mm256_set1_epi32(int(pair_counts)), spread);
    return _mm256_blendv_epi8(window, behind, _mm256_cmpeq_epi8(_mm256_and_si256(bits, bit_of_byte), bit_of_byte));
}

const __m128i *order_row(const uint8_t (*table)[16], uint32_t keep) {
    return reinterpret_cast<const __m128i *>(table[keep & 0xFF]);
}

// Stores the kept bytes of 32 at out, eight bytes a quarter, each quarter's
// store behind the one before; may write up to 32 bytes. Returns the end of
// the kept bytes.
IFF_AVX2 inline uint8_t *store_kept(uint8_t *out, __m256i source, uint32_t keep) {
    const __m128i low_order = _mm_or_si128(_mm_load_si128(order_row(kCompress.lower, keep)),
                                           _mm_load_si128(order_row(kCompress.upper, keep >> 8)));
    const __m128i high_order = _mm_or_si128(_mm_load_si128(order_row(kCompress.lower, keep >> 16)),
                                            _mm_load_si128(order_row(kCompress.upper, keep >> 24)));
    const __m256i kept =
        _mm256_shuffle_epi8(source, _mm256_inserti128_si256(_mm256_castsi128_si256(low_order), high_order, 1));
    const __m128i low = _mm256_castsi256_si128(kept);
    const __m128i high = _mm256_extracti128_si256(kept, 1);
    const auto first = uint32_t(__builtin_popcount(keep & 0xFF));
    const auto second = first + uint32_t(__builtin_popcount(keep & 0xFF00));
    const auto third = second + uint32_t(__builtin_popcount(keep & 0xFF0000));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), low);
    _mm_storeh_pi(reinterpret_cast<__m64 *>(out + first), _mm_castsi128_ps(low)); // unaligned is fine
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out + second), high);
    _mm_storeh_pi(reinterpret_cast<__m64 *>(out + third), _mm_castsi128_ps(high));
    return out + __builtin_popcount(keep);
}

// Marks of two 32-byte windows as one 64-bit word.
IFF_AVX2 inline uint64_t mask_of(__m256i first, __m256i second) {
    return uint32_t(_mm256_movemask_epi8(first)) | uint64_t(uint32_t(_mm256_movemask_epi8(second))) << 32;
}

} // namespace

// The 64-byte windows' method for processors with AVX2 but no byte compress,
// over two 32-byte windows a step: the count bytes come from one addition
// over the 64 marks, the C2 count bytes take their data bytes by one blend a
// window, and each quarter's kept bytes are gathered by one in-lane shuffle
// whose order two 256-entry tables give. One step's mask work serves 64
// bytes, which is what makes it faster than 32 a step.
IFF_AVX2 void decode_windows_32(WindowState &state) {
    // Locals, which the stores through out cannot alias.
    uint8_t *out = state.out;
    const uint8_t *cursor = state.cursor;
    uint32_t available = state.available;
    int32_t remaining = state.remaining;
    const __m256i single = _mm256_set1_epi8(char(kCountMark | 1));
    const __m256i pair = _mm256_set1_epi8(char(kCountMark | 2));
    uint32_t carry = 0;
    while (remaining >= 65 && available >= 65) {
        if (!carry && cursor[0] > (kCountMark | 2)) {
            // A run of three or more: run-heavy data spends its time here.
            if (!fill_run(out, cursor, available, remaining)) break;
            continue;
        }
        const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(cursor));
        const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(cursor + 32));
        const __m256i first_behind = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(cursor + 1));
        const __m256i second_behind = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(cursor + 33));
        // Both top bits set: the top bit of the byte and of the byte doubled.
        const uint64_t marks = mask_of(_mm256_and_si256(first, _mm256_add_epi8(first, first)),
                                       _mm256_and_si256(second, _mm256_add_epi8(second, second)));
        const uint64_t singles = mask_of(_mm256_cmpeq_epi8(first, single), _mm256_cmpeq_epi8(second, single));
        const uint64_t pairs = mask_of(_mm256_cmpeq_epi8(first, pair), _mm256_cmpeq_epi8(second, pair));
        uint64_t carry_out = carry;
        const uint64_t counts = marks & ~pair_data_bytes(marks, carry_out);
        const uint64_t runs = counts & ~(singles | pairs);
        // Bytes taken: up to the first other run.
        const uint64_t taken = runs ? (runs & (0 - runs)) - 1 : ~uint64_t{0};
        const uint64_t keep = taken & ~(counts & singles);
        const uint64_t pair_counts = counts & pairs;
        uint8_t *const half =
            store_kept(out, take_pair_data(first, first_behind, uint32_t(pair_counts)), uint32_t(keep));
        store_kept(half, take_pair_data(second, second_behind, uint32_t(pair_counts >> 32)), uint32_t(keep >> 32));
        const auto produced = uint32_t(__builtin_popcountll(keep));
        if (!pass_window(produced, runs, 64, uint32_t(carry_out), carry, out, cursor, available, remaining)) break;
    }
    state = hand_back(carry, out, cursor, available, remaining);
}

#undef IFF_AVX2

} // namespace iff
#endif
