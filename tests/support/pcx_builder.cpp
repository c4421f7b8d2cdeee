#include "support/pcx_builder.h"

#include <cstdio>

#include "core/pcx_format.h"
#include "support/memory_stream.h"

namespace test {
namespace {
using namespace pcx_format;

void put16(std::vector<uint8_t> &v, size_t at, uint16_t x) {
    v[at] = uint8_t(x);
    v[at + 1] = uint8_t(x >> 8);
}
void push32(std::vector<uint8_t> &v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}
} // namespace

std::vector<uint8_t> pcx_header(const PcxLayout &l) {
    std::vector<uint8_t> h(kHeaderSize, 0);
    h[kManufacturerAt] = l.manufacturer;
    h[kVersionAt] = l.version;
    h[kEncodingAt] = l.encoding;
    h[kBitsPerPixelAt] = l.bits;
    put16(h, kXMinAt, l.x_min);
    put16(h, kYMinAt, l.y_min);
    put16(h, kXMaxAt, l.x_max);
    put16(h, kYMaxAt, l.y_max);
    put16(h, kHorizontalDpiAt, l.h_dpi);
    put16(h, kVerticalDpiAt, l.v_dpi);
    for (size_t i = 0; i < kColourMapBytes; ++i) h[kColourMapAt + i] = l.colour_map[i];
    h[kPlanesAt] = l.planes;
    put16(h, kBytesPerLineAt, l.bytes_per_line);
    put16(h, kPaletteInfoAt, l.palette_info);
    return h;
}

std::vector<uint8_t> pcx_file(const PcxLayout &layout, const std::vector<uint8_t> &coded) {
    std::vector<uint8_t> file = pcx_header(layout);
    file.insert(file.end(), coded.begin(), coded.end());
    return file;
}

void append_tail_palette(std::vector<uint8_t> &file, const std::vector<uint8_t> &entries) {
    file.push_back(kPaletteBlockMarker);
    for (size_t i = 0; i + 1 < kPaletteBlockSize; ++i) file.push_back(i < entries.size() ? entries[i] : 0);
}

std::vector<uint8_t> dcx_file(const std::vector<std::vector<uint8_t>> &pages) {
    std::vector<uint8_t> out;
    push32(out, kDcxSignature);
    uint32_t offset = uint32_t(kDcxEntrySize * (pages.size() + 2)); // signature, entries, zero
    for (const auto &page : pages) {
        push32(out, offset);
        offset += uint32_t(page.size());
    }
    push32(out, 0);
    for (const auto &page : pages) out.insert(out.end(), page.begin(), page.end());
    return out;
}

bool read_ppm(const std::string &path, Image &image) {
    std::vector<uint8_t> bytes = read_file(path);
    size_t at = 0;
    auto skip_space = [&] {
        while (at < bytes.size() &&
               (bytes[at] == ' ' || bytes[at] == '\n' || bytes[at] == '\r' || bytes[at] == '\t' || bytes[at] == '#')) {
            if (bytes[at] == '#')
                while (at < bytes.size() && bytes[at] != '\n') ++at;
            else
                ++at;
        }
    };
    auto number = [&] {
        skip_space();
        int v = 0;
        while (at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9') v = v * 10 + (bytes[at++] - '0');
        return v;
    };
    if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '6') return false;
    at = 2;
    image.width = number();
    image.height = number();
    const int maxval = number();
    ++at; // the single white-space byte before the samples
    const size_t size = size_t(image.width) * size_t(image.height) * 3;
    if (maxval != 255 || bytes.size() < at + size) return false;
    image.rgb.assign(bytes.begin() + long(at), bytes.begin() + long(at + size));
    return true;
}

} // namespace test
