// Scan lines between the file's plane layout and the host's pixel layout.
#include "pixels/planes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "pixels/sample_layout.h"
#include "pixels/samples.h"
#include "platform/cpu_features.h"

#ifdef IFF_X86_VECTORS
#include <immintrin.h>
#endif

namespace iff {
namespace {

// A 1-bit line of more planes has the value of its first 8.
constexpr int32_t kMaxBitPlanes = 8;

// spread[b]: byte k is bit 7 - k of b, so eight pixels of one plane byte
// become eight 0/1 lanes of a 64-bit word. Lanes never carry into each
// other below, so the byte order of the word does not matter.
constexpr std::array<std::array<uint8_t, 8>, 256> make_spread() {
    std::array<std::array<uint8_t, 8>, 256> table{};
    for (int b = 0; b < 256; ++b)
        for (int k = 0; k < 8; ++k) table[b][k] = uint8_t((b >> (7 - k)) & 1);
    return table;
}
constexpr auto kSpread = make_spread();

uint64_t spread_bits(uint8_t b) {
    uint64_t lanes;
    std::memcpy(&lanes, kSpread[b].data(), 8);
    return lanes;
}

constexpr uint64_t kEveryLane = 0x0101010101010101ULL;

// Pixel values of eight pixels (one byte of each plane) in eight lanes.
uint64_t gather_values(const uint8_t *source, int64_t stride, int32_t planes) {
    uint64_t lanes = 0;
    for (int32_t p = 0; p < planes; ++p) lanes |= spread_bits(source[p * stride]) << p;
    return lanes;
}

// Mode 0: the values of `pixels` pixels (1..8), `planes` bits each, MSB
// first; the last byte's unused low bits are zero. Returns bytes written.
int32_t pack_values(uint8_t *destination, uint64_t lanes, int32_t planes, int32_t pixels) {
    uint8_t value[8];
    std::memcpy(value, &lanes, 8);
    uint64_t bits = 0;
    for (int32_t k = 0; k < pixels; ++k) bits = (bits << planes) | value[k];
    const int32_t used = pixels * planes;
    const int32_t bytes = (used + 7) / 8;
    bits <<= bytes * 8 - used;
    for (int32_t j = 0; j < bytes; ++j) destination[j] = uint8_t(bits >> (8 * (bytes - 1 - j)));
    return bytes;
}

struct PlaneReads {
    int32_t planes_used;
    int32_t plane_span;
};

// What the conversions of the handle's layout read, whatever the mode.
PlaneReads plane_reads(const IFFHandle &h) {
    const int64_t w = std::max<int64_t>(h.width, 0);
    const int32_t planes = h.planes;
    int64_t span;
    int32_t used;
    if (h.bits_per_pixel == 1) {
        used = std::min(planes, kMaxBitPlanes);
        span = (w + 7) / 8;
    } else if (h.bits_per_pixel == 8 && (planes == 3 || planes == 4)) {
        used = planes; // a 4-plane line reads all four in the interleaved layout
        span = w;
    } else {
        used = std::min(planes, 1);
        span = sample_source_bytes(w, h.bits_per_pixel);
    }
    if (used == 0) span = 0;
    return {used, int32_t(std::min<int64_t>(span, std::numeric_limits<int32_t>::max()))};
}

// Lays the used planes out plane_span apart in plane_pad, each padded with
// zeros, so a plane shorter than its pixels reads as zeros past its end.
void pad_planes(const IFFHandle &h, const PlaneReads &reads) {
    const int64_t present = std::clamp<int64_t>(h.bytes_per_line, 0, reads.plane_span);
    for (int32_t p = 0; p < reads.planes_used; ++p) {
        uint8_t *out = h.plane_pad + int64_t(p) * reads.plane_span;
        if (present) std::memcpy(out, h.line_buffer + int64_t(p) * h.bytes_per_line, size_t(present));
        std::memset(out + present, 0, size_t(reads.plane_span - present));
    }
}

#ifdef IFF_X86_VECTORS
// order[block][plane]: for each output byte of the block, the pixel
// whose sample of that plane it is, or 0x80 (zero) for another plane.
alignas(16) constexpr uint8_t kInterleaveOrder[3][3][16] = {
    {{0, 0x80, 0x80, 1, 0x80, 0x80, 2, 0x80, 0x80, 3, 0x80, 0x80, 4, 0x80, 0x80, 5},
     {0x80, 0, 0x80, 0x80, 1, 0x80, 0x80, 2, 0x80, 0x80, 3, 0x80, 0x80, 4, 0x80, 0x80},
     {0x80, 0x80, 0, 0x80, 0x80, 1, 0x80, 0x80, 2, 0x80, 0x80, 3, 0x80, 0x80, 4, 0x80}},
    {{0x80, 0x80, 6, 0x80, 0x80, 7, 0x80, 0x80, 8, 0x80, 0x80, 9, 0x80, 0x80, 10, 0x80},
     {5, 0x80, 0x80, 6, 0x80, 0x80, 7, 0x80, 0x80, 8, 0x80, 0x80, 9, 0x80, 0x80, 10},
     {0x80, 5, 0x80, 0x80, 6, 0x80, 0x80, 7, 0x80, 0x80, 8, 0x80, 0x80, 9, 0x80, 0x80}},
    {{0x80, 11, 0x80, 0x80, 12, 0x80, 0x80, 13, 0x80, 0x80, 14, 0x80, 0x80, 15, 0x80, 0x80},
     {0x80, 0x80, 11, 0x80, 0x80, 12, 0x80, 0x80, 13, 0x80, 0x80, 14, 0x80, 0x80, 15, 0x80},
     {10, 0x80, 0x80, 11, 0x80, 0x80, 12, 0x80, 0x80, 13, 0x80, 0x80, 14, 0x80, 0x80, 15}}};

// Sixteen pixels at a time: each 16-byte block of the output gathers its
// bytes from the three planes with one shuffle per plane. Returns the pixels
// done; the caller finishes the rest.
__attribute__((target("ssse3"))) int32_t interleave_rgb_blocks(uint8_t *destination, const uint8_t *red,
                                                               const uint8_t *green, const uint8_t *blue,
                                                               int32_t width) {
    int32_t x = 0;
    for (; x + 16 <= width; x += 16, destination += 48) {
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i *>(red + x));
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i *>(green + x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(blue + x));
        for (int block = 0; block < 3; ++block) {
            const __m128i out = _mm_or_si128(
                _mm_or_si128(
                    _mm_shuffle_epi8(r, _mm_load_si128(reinterpret_cast<const __m128i *>(kInterleaveOrder[block][0]))),
                    _mm_shuffle_epi8(g, _mm_load_si128(reinterpret_cast<const __m128i *>(kInterleaveOrder[block][1])))),
                _mm_shuffle_epi8(b, _mm_load_si128(reinterpret_cast<const __m128i *>(kInterleaveOrder[block][2]))));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(destination + 16 * block), out);
        }
    }
    return x;
}

// Thirty-two pixels at a time: the sixteen-pixel blocks' shuffles, each
// working on both 16-byte lanes, so one shuffle serves two blocks.
__attribute__((target("avx2"))) int32_t interleave_rgb_avx2(uint8_t *destination, const uint8_t *red,
                                                            const uint8_t *green, const uint8_t *blue, int32_t width) {
    int32_t x = 0;
    for (; x + 32 <= width; x += 32, destination += 96) {
        const __m256i r = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(red + x));
        const __m256i g = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(green + x));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(blue + x));
        __m256i block[3]; // block k of the first sixteen pixels, then of the second
        for (int k = 0; k < 3; ++k) {
            const auto *order = reinterpret_cast<const __m128i *>(kInterleaveOrder[k]);
            block[k] = _mm256_or_si256(
                _mm256_or_si256(_mm256_shuffle_epi8(r, _mm256_broadcastsi128_si256(_mm_load_si128(order))),
                                _mm256_shuffle_epi8(g, _mm256_broadcastsi128_si256(_mm_load_si128(order + 1)))),
                _mm256_shuffle_epi8(b, _mm256_broadcastsi128_si256(_mm_load_si128(order + 2))));
        }
        auto *out = reinterpret_cast<__m256i *>(destination);
        _mm256_storeu_si256(out, _mm256_permute2x128_si256(block[0], block[1], 0x20));
        _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(block[2], block[0], 0x30));
        _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(block[1], block[2], 0x31));
    }
    return x;
}
#endif

#ifdef IFF_X86_64_VECTORS
// Sixty-four pixels at a time: each 64-byte part of the output takes red
// and green by one two-plane permute and lays blue over them by a masked
// one. Returns the pixels done.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) int32_t interleave_rgb_wide(uint8_t *destination,
                                                                                   const uint8_t *red,
                                                                                   const uint8_t *green,
                                                                                   const uint8_t *blue, int32_t width) {
    struct Orders {
        uint8_t red_green[3][64]; // output byte j of part k: pixel, or 64 + pixel for green
        uint8_t blue[3][64];
        uint64_t blue_lanes[3];
    };
    static constexpr Orders orders = [] {
        Orders o{};
        for (int k = 0; k < 3; ++k) {
            for (int j = 0; j < 64; ++j) {
                const int pixel = (64 * k + j) / 3;
                const int plane = (64 * k + j) % 3;
                o.red_green[k][j] = uint8_t(plane == 1 ? 64 + pixel : pixel);
                o.blue[k][j] = uint8_t(pixel);
                if (plane == 2) o.blue_lanes[k] |= uint64_t{1} << j;
            }
        }
        return o;
    }();
    const __m512i rg0 = _mm512_loadu_si512(orders.red_green[0]);
    const __m512i rg1 = _mm512_loadu_si512(orders.red_green[1]);
    const __m512i rg2 = _mm512_loadu_si512(orders.red_green[2]);
    const __m512i b0 = _mm512_loadu_si512(orders.blue[0]);
    const __m512i b1 = _mm512_loadu_si512(orders.blue[1]);
    const __m512i b2 = _mm512_loadu_si512(orders.blue[2]);
    int32_t x = 0;
    for (; x + 64 <= width; x += 64, destination += 192) {
        const __m512i r = _mm512_loadu_si512(red + x);
        const __m512i g = _mm512_loadu_si512(green + x);
        const __m512i b = _mm512_loadu_si512(blue + x);
        _mm512_storeu_si512(destination, _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(r, rg0, g),
                                                                      orders.blue_lanes[0], b0, b));
        _mm512_storeu_si512(destination + 64, _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(r, rg1, g),
                                                                           orders.blue_lanes[1], b1, b));
        _mm512_storeu_si512(destination + 128, _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(r, rg2, g),
                                                                            orders.blue_lanes[2], b2, b));
    }
    return x;
}
#endif

void interleave_rgb(uint8_t *destination, const uint8_t *source, int64_t stride, int32_t width) {
    const uint8_t *red = source;
    const uint8_t *green = source + stride;
    const uint8_t *blue = source + 2 * stride;
    int32_t x = 0;
    [[maybe_unused]] const CpuLevel level = cpu_level();
#ifdef IFF_X86_64_VECTORS
    if (level >= CpuLevel::avx512) {
        x = interleave_rgb_wide(destination, red, green, blue, width);
        destination += 3 * int64_t(x);
    }
#endif
#ifdef IFF_X86_VECTORS
    if (level == CpuLevel::avx2) {
        const int32_t done = interleave_rgb_avx2(destination, red + x, green + x, blue + x, width - x);
        destination += 3 * int64_t(done);
        x += done;
    }
    if (level >= CpuLevel::ssse3) {
        const int32_t done = interleave_rgb_blocks(destination, red + x, green + x, blue + x, width - x);
        destination += 3 * int64_t(done);
        x += done;
    }
#endif
    for (; x < width; ++x, destination += 3) {
        destination[0] = red[x];
        destination[1] = green[x];
        destination[2] = blue[x];
    }
}

#ifdef IFF_X86_VECTORS
// The reverse: sixteen pixels (48 bytes) to sixteen bytes of each plane,
// each plane's bytes gathered from the three blocks by one shuffle apiece.
__attribute__((target("ssse3"))) int32_t deinterleave_rgb_blocks(uint8_t *red, uint8_t *green, uint8_t *blue,
                                                                 const uint8_t *source, int32_t width) {
    // order[plane][block]: for each byte of the plane, its place in the
    // block, or 0x80 (zero) when it lies in another block.
    alignas(16) static constexpr uint8_t order[3][3][16] = {
        {{0, 3, 6, 9, 12, 15, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80},
         {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 2, 5, 8, 11, 14, 0x80, 0x80, 0x80, 0x80, 0x80},
         {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 1, 4, 7, 10, 13}},
        {{1, 4, 7, 10, 13, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80},
         {0x80, 0x80, 0x80, 0x80, 0x80, 0, 3, 6, 9, 12, 15, 0x80, 0x80, 0x80, 0x80, 0x80},
         {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 2, 5, 8, 11, 14}},
        {{2, 5, 8, 11, 14, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80},
         {0x80, 0x80, 0x80, 0x80, 0x80, 1, 4, 7, 10, 13, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80},
         {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0, 3, 6, 9, 12, 15}}};
    uint8_t *planes[3] = {red, green, blue};
    int32_t x = 0;
    for (; x + 16 <= width; x += 16, source += 48) {
        const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(source));
        const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(source + 16));
        const __m128i b2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(source + 32));
        for (int p = 0; p < 3; ++p) {
            const __m128i out = _mm_or_si128(
                _mm_or_si128(_mm_shuffle_epi8(b0, _mm_load_si128(reinterpret_cast<const __m128i *>(order[p][0]))),
                             _mm_shuffle_epi8(b1, _mm_load_si128(reinterpret_cast<const __m128i *>(order[p][1])))),
                _mm_shuffle_epi8(b2, _mm_load_si128(reinterpret_cast<const __m128i *>(order[p][2]))));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(planes[p] + x), out);
        }
    }
    return x;
}
#endif

void interleave_rgba(uint8_t *destination, const uint8_t *source, int64_t stride, int32_t width) {
    const uint8_t *red = source;
    const uint8_t *green = source + stride;
    const uint8_t *blue = source + 2 * stride;
    const uint8_t *alpha = source + 3 * stride;
    for (int32_t x = 0; x < width; ++x, destination += 4) {
        destination[0] = red[x];
        destination[1] = green[x];
        destination[2] = blue[x];
        destination[3] = alpha[x];
    }
}

// Lines whose planes the interleaved layout delivers in full: 8 bits in 4
// planes (3 planes are interleaved in every layout).
bool delivers_rgba(const IFFHandle &h) {
    return h.bits_per_pixel == 8 && h.planes == 4 && interleaves_planes(h.pixel_format);
}

void deinterleave_rgb(uint8_t *line, int64_t stride, int32_t planes, const uint8_t *source, int32_t width) {
#ifdef IFF_X86_VECTORS
    if (planes >= 3 && cpu_level() >= CpuLevel::ssse3) {
        const int32_t done = deinterleave_rgb_blocks(line, line + stride, line + 2 * stride, source, width);
        for (int32_t p = 0; p < 3; ++p) {
            uint8_t *plane = line + p * stride;
            for (int32_t x = done; x < width; ++x) plane[x] = source[3 * int64_t(x) + p];
        }
        return;
    }
#endif
    for (int32_t p = 0; p < std::min(planes, 3); ++p) {
        uint8_t *plane = line + p * stride;
        for (int32_t x = 0; x < width; ++x) plane[x] = source[3 * int64_t(x) + p];
    }
}

// 1-bit planes from one host byte per pixel: plane p takes bit `shift` + p.
void split_bit_planes(uint8_t *line, int64_t stride, int32_t planes, const uint8_t *source, int32_t width,
                      int32_t shift) {
    for (int32_t x = 0; x < width; x += 8) {
        const int32_t pixels = std::min(8, width - x);
        for (int32_t p = 0; p < planes; ++p) {
            int32_t byte = 0;
            for (int32_t k = 0; k < pixels; ++k) byte |= ((source[x + k] >> (shift + p)) & 1) << (7 - k);
            line[p * stride + x / 8] = uint8_t(byte);
        }
    }
}

} // namespace

void merge_bit_planes(const uint8_t *source, int32_t plane_stride, int32_t planes, int32_t width, int32_t pixel_format,
                      uint8_t *destination) {
    if (width <= 0) return;
    const int32_t used = std::clamp(planes, 0, kMaxBitPlanes);
    const SampleLayout layout = read_layout(pixel_format);
    const uint64_t complement = layout.inverted ? kEveryLane * uint64_t((1u << used) - 1) : 0;
    // Modes 2 and 3 put the value in the top bits of its byte.
    const int32_t shift = layout.mode == 1 ? 0 : kMaxBitPlanes - used;
    if (used == 0) { // no planes: every value is 0, nothing packs
        if (layout.mode != 0) std::memset(destination, 0, size_t(width));
        return;
    }
    const int32_t groups = (width + 7) / 8;
    for (int32_t g = 0; g < groups; ++g) {
        const uint64_t lanes = gather_values(source + g, plane_stride, used) ^ complement;
        const int32_t pixels = std::min(8, width - g * 8);
        if (layout.mode == 0) {
            destination += pack_values(destination, lanes, used, pixels);
        } else {
            const uint64_t bytes = lanes << shift; // each lane stays below 256
            std::memcpy(destination, &bytes, size_t(pixels));
            destination += pixels;
        }
    }
}

void merge_line(IFFHandle &h, uint8_t *destination) {
    const int32_t width = h.width;
    if (width <= 0) return;
    const PlaneReads reads = plane_reads(h);
    const uint8_t *source = h.line_buffer;
    int64_t stride = h.bytes_per_line;
    if (h.plane_pad && h.planes_used >= reads.planes_used && h.plane_span >= reads.plane_span) {
        pad_planes(h, reads);
        source = h.plane_pad;
        stride = reads.plane_span;
    } else if (h.bytes_per_line < reads.plane_span) {
        // A short plane without its padded copy: hand over a defined line
        // rather than read past the decoded one.
        std::memset(destination, 0, size_t(host_line_bytes(h)));
        return;
    }

    if (h.bits_per_pixel == 1 && h.planes != 1) {
        merge_bit_planes(source, int32_t(stride), h.planes, width, h.pixel_format, destination);
    } else if (h.bits_per_pixel == 8 && h.planes == 3) {
        interleave_rgb(destination, source, stride, width); // the same in every layout
    } else if (delivers_rgba(h)) {
        interleave_rgba(destination, source, stride, width);
    } else if (reads.planes_used == 0) {
        std::memset(destination, 0, size_t(host_line_bytes(h))); // no plane to read
    } else {
        // One plane, or plane 0 of a layout with no merge of its own.
        unpack_samples(destination, source, width, h.bits_per_pixel, h.pixel_format,
                       SampleTable{h.lut_depth, h.lut_polarity, h.lut_mode, h.lut, h.lut_expanded});
    }
}

int64_t host_line_bytes(const IFFHandle &h) {
    const int64_t width = h.width;
    if (width <= 0) return 0;
    if (h.bits_per_pixel == 1 && h.planes != 1) {
        if (read_layout(h.pixel_format).mode != 0) return width;
        return (std::min<int64_t>(h.planes, kMaxBitPlanes) * width + 7) / 8;
    }
    if (h.bits_per_pixel == 8 && h.planes == 3) return 3 * width;
    if (delivers_rgba(h)) return 4 * width;
    return sample_host_bytes(width, h.bits_per_pixel, h.pixel_format);
}

void plan_plane_reads(IFFHandle &h) {
    const PlaneReads reads = plane_reads(h);
    h.planes_used = reads.planes_used;
    h.plane_span = reads.plane_span;
}

void split_line(IFFHandle &h, const uint8_t *source) {
    const int32_t width = h.width;
    if (width <= 0) return;
    const int32_t planes = h.planes;
    const int64_t stride = h.bytes_per_line;
    if (stride <= 0) return;
    // The write set-up sizes the planes for the width; never write past them.
    if (planes == 1) {
        const int32_t depth = h.bits_per_pixel;
        const int64_t fits = depth > 0 ? stride * 8 / depth : 0;
        pack_samples(h.line_buffer, source, int32_t(std::min<int64_t>(width, fits)), depth, h.pixel_format);
    } else if (h.bits_per_pixel >= 8) {
        deinterleave_rgb(h.line_buffer, stride, planes, source, int32_t(std::min<int64_t>(width, stride)));
    } else {
        if (h.scan_bytes > 0) std::memset(h.line_buffer, 0, size_t(h.scan_bytes));
        const int32_t used = std::clamp(planes, 0, kMaxBitPlanes);
        if (used == 0) return;
        const int32_t shift = h.pixel_format == 1 ? 0 : kMaxBitPlanes - used;
        split_bit_planes(h.line_buffer, stride, used, source, int32_t(std::min<int64_t>(width, stride * 8)), shift);
    }
}

} // namespace iff
