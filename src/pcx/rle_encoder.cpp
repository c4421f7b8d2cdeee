#include "pcx/rle_encoder.h"

#include <cstring>

#include "pcx/byte_scan.h"
#include "pcx/stream_io.h"
#include "pixels/planes.h"
#include "platform/cpu_features.h"

#ifdef IFF_X86_VECTORS
#include <immintrin.h>
#endif

namespace iff {

namespace {

#ifdef IFF_X86_VECTORS
// For eight bytes without runs, marks[b] set where a byte is 0xC0 or above:
// the shuffle that spreads the bytes to make room for a 0xC1 in front of
// each marked one (0x80 leaves a zero there), and those 0xC1 bytes.
struct SpreadTables {
    uint8_t order[256][16];
    uint8_t counts[256][16];
    uint8_t length[256];
};

constexpr SpreadTables make_spread_tables() {
    SpreadTables t{};
    for (int marks = 0; marks < 256; ++marks) {
        int at = 0;
        for (int i = 0; i < 16; ++i) {
            t.order[marks][i] = 0x80;
            t.counts[marks][i] = 0;
        }
        for (int i = 0; i < 8; ++i) {
            if ((marks >> i) & 1) t.counts[marks][at++] = 0xC1;
            t.order[marks][at++] = uint8_t(i);
        }
        t.length[marks] = uint8_t(at);
    }
    return t;
}

constexpr SpreadTables kSpread = make_spread_tables();

// Codes windows of 16 bytes by spreading each half with one shuffle, which
// makes room for a 0xC1 in front of each byte of 0xC0 or above. A window
// whose bytes (the 17th included) hold two equal neighbours is coded up to
// them, and the run that starts there is coded next; noisy lines, with few
// runs but many single bytes of 0xC0 or above, stay in this loop. Stops 17
// bytes before the end. Returns the new position.
__attribute__((target("ssse3"))) int32_t encode_windows(const uint8_t *line, int32_t i, int32_t size,
                                                        uint8_t *&out_ref) {
    uint8_t *out = out_ref;
    const __m128i top = _mm_set1_epi8(char(0xC0));
    while (i + 17 <= size) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i *>(line + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i *>(line + i + 1));
        const auto repeats = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(here, next)));
        const auto marks = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(here, top), top)));
        const uint32_t low = marks & 0xFF;
        const uint32_t high = marks >> 8;
        const __m128i low_bytes =
            _mm_or_si128(_mm_shuffle_epi8(here, _mm_loadu_si128(reinterpret_cast<const __m128i *>(kSpread.order[low]))),
                         _mm_loadu_si128(reinterpret_cast<const __m128i *>(kSpread.counts[low])));
        const __m128i high_half = _mm_srli_si128(here, 8);
        const __m128i high_bytes = _mm_or_si128(
            _mm_shuffle_epi8(high_half, _mm_loadu_si128(reinterpret_cast<const __m128i *>(kSpread.order[high]))),
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(kSpread.counts[high])));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), low_bytes);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + kSpread.length[low]), high_bytes);
        if (repeats == 0) {
            out += kSpread.length[low] + kSpread.length[high];
            i += 16;
            continue;
        }
        // The singles before the first repeat stay: a byte each, and a 0xC1
        // before each marked one (length[m] is 8 plus the marks in m).
        const auto singles = uint32_t(__builtin_ctz(repeats));
        const uint32_t kept = marks & ((1u << singles) - 1);
        out += singles + kSpread.length[kept & 0xFF] + kSpread.length[kept >> 8] - 16;
        i += int32_t(singles);
        // The run: two bytes at least, 63 at most.
        const uint8_t value = line[i];
        const int32_t limit = size - i > 63 ? i + 63 : size;
        int32_t end = i + 2;
        const __m128i repeated = _mm_set1_epi8(char(value));
        while (end + 16 <= limit) {
            const auto same = uint32_t(_mm_movemask_epi8(
                _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(line + end)), repeated)));
            if (same != 0xFFFF) {
                end += __builtin_ctz(~same);
                break;
            }
            end += 16;
        }
        while (end < limit && line[end] == value) ++end;
        *out++ = uint8_t(0xC0 | (end - i));
        *out++ = value;
        i = end;
    }
    out_ref = out;
    return i;
}
#endif

// End of the stretch from i of bytes that go out as they stand: single bytes
// (unequal to the next one) below 0xC0.
int32_t plain_stretch_end(const uint8_t *line, int32_t i, int32_t size) {
    for (; i + 9 <= size; i += 8) {
        const uint64_t here = load_word(line + i);
        const uint64_t marks = zero_byte_marks(here ^ load_word(line + i + 1)) | count_byte_marks(here);
        if (marks != 0) return i + int32_t(first_marked_byte(marks));
    }
    for (; i < size; ++i) {
        if (line[i] >= 0xC0 || (i + 1 < size && line[i] == line[i + 1])) return i;
    }
    return size;
}

// Copies n bytes that go out as they stand, eight at a time; may write up to
// seven bytes beyond them (kEncodeSlack) but reads only the room bytes that
// lie in the line from src.
inline void copy_plain(uint8_t *out, const uint8_t *src, int32_t n, int32_t room) {
    if (n <= 8 && room >= 8) {
        std::memcpy(out, src, 8);
        return;
    }
    if (n < 8) {
        for (int32_t k = 0; k < n; ++k) out[k] = src[k];
        return;
    }
    int32_t k = 0;
    for (; k + 8 <= n; k += 8) std::memcpy(out + k, src + k, 8);
    if (k < n) std::memcpy(out + n - 8, src + n - 8, 8);
}

} // namespace

int32_t encode_runs(const uint8_t *line, int32_t size, uint8_t *out) {
    uint8_t *const start = out;
    int32_t i = 0;
#ifdef IFF_X86_VECTORS
    const bool windows = cpu_level() >= CpuLevel::ssse3;
#endif
    while (i < size) {
#ifdef IFF_X86_VECTORS
        if (windows) {
            i = encode_windows(line, i, size, out);
            if (i >= size) break;
        }
#endif
        const int32_t plain_end = plain_stretch_end(line, i, size);
        copy_plain(out, line + i, plain_end - i, size - i);
        out += plain_end - i;
        i = plain_end;
        if (i == size) break;
        // A run, or a single byte of 0xC0 or above.
        const uint8_t value = line[i];
        int32_t end = i + 1;
        const int32_t limit = size - i > 63 ? i + 63 : size;
        while (end < limit && line[end] == value) ++end;
        const int32_t run = end - i;
        *out++ = uint8_t(0xC0 | run); // a single byte here is 0xC0 or above: 0xC1
        *out++ = value;
        i = end;
    }
    return int32_t(out - start);
}

int32_t encode_line(IFFHandle &h) {
    const int32_t size = h.scan_bytes > 0 ? h.scan_bytes : 0;
    const int32_t coded = encode_runs(h.line_buffer, size, h.encode_buffer);
    if (stream_write(h, h.encode_buffer, coded) != coded) {
        h.error = IFF_ERR_WRITE;
        return 1;
    }
    return 0;
}

int32_t put_lines(IFFHandle &h, uint32_t count, const uint8_t *source) {
    if (h.encode_buffer == nullptr || h.line_buffer == nullptr) return IFF_ERR_REQUEST;
    if (count > 0 && source == nullptr && h.error == 0) return IFF_ERR_REQUEST;
    for (uint32_t i = 0; i < count && h.error == 0; ++i) {
        split_line(h, source);
        encode_line(h);
        source += h.line_stride;
    }
    return int32_t(h.error);
}

} // namespace iff
