// Builds PCX and DCX files byte by byte for tests, and reads binary PPM images.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/pcx_format.h"

namespace test {

struct PcxLayout {
    uint8_t manufacturer = pcx_format::kManufacturer;
    uint8_t version = 5;
    uint8_t encoding = 1;
    uint8_t bits = 8;
    uint16_t x_min = 0, y_min = 0, x_max = 0, y_max = 0;
    uint16_t h_dpi = 72, v_dpi = 72;
    std::array<uint8_t, 48> colour_map{};
    uint8_t planes = 1;
    uint16_t bytes_per_line = 2;
    uint16_t palette_info = 1;
};

std::vector<uint8_t> pcx_header(const PcxLayout &layout);

// A header followed by the given coded bytes.
std::vector<uint8_t> pcx_file(const PcxLayout &layout, const std::vector<uint8_t> &coded);

// Appends the 769-byte block: marker 12 and 256 RGB entries.
void append_tail_palette(std::vector<uint8_t> &file, const std::vector<uint8_t> &entries);

// A DCX file of the given pages: signature, offsets, zero entry, pages.
std::vector<uint8_t> dcx_file(const std::vector<std::vector<uint8_t>> &pages);

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb; // 3 bytes a pixel, rows top to bottom
};

bool read_ppm(const std::string &path, Image &image);

} // namespace test
