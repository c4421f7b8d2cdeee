// A plain decoder the read target checks the library against: a byte at a
// time, with no read buffer and no windows, straight from the file's bytes.
// A page's lines are bounded by where its data end, found here from the file
// alone: the next entry of a DCX directory (when it lies behind the page),
// the end of the file, or the 256-colour block an 8-bit version-5 page ends
// with. Lines past the page's last one read on to the end of the file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/pcx_format.h"

namespace reference {

using namespace pcx_format;

struct Page {
    int32_t width = 0, height = 0, bits = 0, planes = 0, bytes_per_line = 0;
    int64_t kept = 0;           // bytes of each plane kept per line: what the layouts read
    int32_t kept_planes = 0;    // planes kept
    bool content = false;       // whether the lines' bytes were kept (not for very long lines)
    std::vector<uint8_t> lines; // per line, the kept planes one after another
    int32_t failing_line = -1;  // the first line that needs bytes the page does not have; -1: none
    uint8_t byte(int32_t y, int32_t plane, int64_t x) const { // beyond the plane's bytes: zero
        return x < kept ? lines[size_t((int64_t(y) * kept_planes + plane) * kept + x)] : 0;
    }
};

inline uint32_t le16(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
inline uint32_t le32(const uint8_t *p) {
    return le16(p) | le16(p + 2) << 16;
}

// Decodes the first `count` lines of page `index`; false when the file does
// not hold that page's directory entries and header.
inline bool decode_page(const std::vector<uint8_t> &file, int index, int32_t count, Page &page) {
    const auto size = int64_t(file.size());
    int64_t offset = 0, end = size;
    if (size >= kDcxEntrySize && le32(file.data()) == kDcxSignature) {
        const int64_t entry = kDcxEntrySize * (1 + int64_t(index));
        if (entry + 2 * kDcxEntrySize > size) return false;
        offset = le32(&file[size_t(entry)]);
        const uint32_t next = le32(&file[size_t(entry) + kDcxEntrySize]);
        end = next == 0 ? size : next;
    }
    if (offset + kHeaderSize > size) return false;
    const uint8_t *header = &file[size_t(offset)];
    page.width = int32_t(le16(header + kXMaxAt)) - int32_t(le16(header + kXMinAt)) + 1;
    page.height = int32_t(le16(header + kYMaxAt)) - int32_t(le16(header + kYMinAt)) + 1;
    page.bits = header[kBitsPerPixelAt];
    page.planes = header[kPlanesAt];
    page.bytes_per_line = int32_t(le16(header + kBytesPerLineAt));
    const bool stored = header[kEncodingAt] == kEncodingStored;

    // A next page that lies before this one bounds nothing.
    int64_t data_end = end > offset ? std::min(end, size) : size;
    const int64_t block = end - kPaletteBlockSize;
    if (header[kVersionAt] == kVersionLatest && page.planes * page.bits == 8 && block >= offset + kHeaderSize &&
        block + kPaletteBlockSize <= size && file[size_t(block)] == kPaletteBlockMarker)
        data_end = block;

    const int64_t scan = int64_t(page.planes) * page.bytes_per_line;
    const int64_t need = (std::max<int64_t>(page.width, 0) * page.bits + 7) / 8;
    page.kept = std::min<int64_t>(page.bytes_per_line, need);
    page.kept_planes = std::min(page.planes, page.bits == 1 ? 8 : 4);
    page.content = page.kept * page.kept_planes * count <= (int64_t(1) << 22);
    if (page.content) page.lines.assign(size_t(page.kept * page.kept_planes * count), 0);

    int64_t at = offset + kHeaderSize;
    int32_t pending = 0; // the rest of a run that crossed a line's end
    uint8_t value = 0;
    for (int32_t y = 0; y < count; ++y) {
        const int64_t limit = y < page.height ? data_end : size;
        for (int64_t i = 0; i < scan;) {
            int64_t run = 1;
            if (pending > 0) {
                run = std::min<int64_t>(pending, scan - i);
                pending -= int32_t(run);
            } else {
                if (at >= limit) {
                    page.failing_line = y;
                    return true;
                }
                value = file[size_t(at++)];
                if (!stored && (value & kRunMark) == kRunMark) {
                    if (at >= limit) {
                        page.failing_line = y;
                        return true;
                    }
                    pending = value & kRunCountMask;
                    value = file[size_t(at++)];
                    continue;
                }
            }
            for (int64_t j = i; j < i + run && page.content; ++j) {
                const int64_t plane = j / page.bytes_per_line, x = j % page.bytes_per_line;
                if (plane < page.kept_planes && x < page.kept)
                    page.lines[size_t((int64_t(y) * page.kept_planes + plane) * page.kept + x)] = value;
            }
            i += run;
        }
    }
    return true;
}

// The host's bytes of line y in a sample layout (the public header's values),
// from the page's planes; false where this decoder has no conversion (depths
// 6, 12 and up in the one-byte-a-sample layouts).
inline bool host_line(const Page &page, int32_t y, int16_t layout, std::vector<uint8_t> &out) {
    if (!page.content) return false;
    const bool inverted = layout >= 4096;
    const int32_t value = inverted ? layout - 4096 : layout;
    const bool interleaved = value == 4;
    const int32_t mode = value < 0 || value > 3 ? 3 : value;
    const int32_t width = page.width;
    out.clear();
    if (page.bits == 1 && page.planes > 1) {
        // Bit planes: plane p gives bit p of a pixel's value.
        const int32_t used = page.kept_planes;
        const uint32_t all = (1u << used) - 1;
        uint32_t bits = 0;
        int32_t held = 0;
        for (int32_t x = 0; x < width; ++x) {
            uint32_t v = 0;
            for (int32_t p = 0; p < used; ++p) v |= uint32_t((page.byte(y, p, x / 8) >> (7 - x % 8)) & 1) << p;
            if (inverted) v ^= all;
            if (mode != 0) {
                out.push_back(uint8_t(mode == 1 ? v : v << (8 - used)));
                continue;
            }
            bits = bits << used | v;
            for (held += used; held >= 8; held -= 8) out.push_back(uint8_t(bits >> (held - 8)));
        }
        if (held > 0) out.push_back(uint8_t(bits << (8 - held)));
        return true;
    }
    if (page.bits == 8 && (page.planes == 3 || (page.planes == 4 && interleaved))) {
        for (int32_t x = 0; x < width; ++x)
            for (int32_t p = 0; p < page.planes; ++p) out.push_back(page.byte(y, p, x));
        return true;
    }
    // Otherwise plane 0 alone, its samples `bits` deep.
    const uint8_t complement = inverted ? 0xFF : 0;
    if (mode == 0 || page.bits == 8) {
        const int64_t bytes = mode == 0 ? (int64_t(width) * page.bits + 7) / 8 : width;
        for (int64_t i = 0; i < bytes; ++i) out.push_back(uint8_t(page.byte(y, 0, i) ^ complement));
        return true;
    }
    const int32_t depth = page.bits;
    if (depth != 1 && depth != 2 && depth != 4) return false;
    const int32_t max = (1 << depth) - 1;
    for (int32_t x = 0; x < width; ++x) {
        const int64_t bit = int64_t(x) * depth;
        const int32_t v = (page.byte(y, 0, bit / 8) >> (8 - depth - bit % 8)) & max;
        const int32_t s = inverted ? max - v : v;
        out.push_back(uint8_t(mode == 1 ? s : mode == 2 ? s << (8 - depth) : (255 * s + max / 2) / max));
    }
    return true;
}

} // namespace reference
