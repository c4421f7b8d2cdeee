// Pages of 2-bit and 4-bit samples in several planes decode to the value of
// all their planes, plane 0 in the least significant bits, with the palette
// of the page's depth: made by hand, since no writer at hand makes them.
#include <gtest/gtest.h>
#include <png.h>

#include "tool_harness.h"

namespace tool_test {
namespace {

struct PlaneLayout {
    int bits;
    int planes;
};

void PrintTo(const PlaneLayout &layout, std::ostream *os) {
    *os << layout.bits << "x" << layout.planes;
}

constexpr int kWidth = 13; // a partial last byte in every plane
constexpr int kHeight = 6;

int depth_of(const PlaneLayout &layout) {
    return layout.bits * layout.planes;
}

// Every value of the depth shows up, the highest ones first.
int value_at(const PlaneLayout &layout, int x, int y) {
    const int values = 1 << depth_of(layout);
    return (values - 1 - (y * kWidth + x) * 5) & (values - 1);
}

std::vector<uint8_t> colour_map_entry(int k) {
    return {static_cast<uint8_t>(k * 15), static_cast<uint8_t>(255 - k * 15), static_cast<uint8_t>(k * 40)};
}

std::vector<uint8_t> tail_entry(int k) {
    return {static_cast<uint8_t>(k), static_cast<uint8_t>(255 - k), static_cast<uint8_t>(k * 3)};
}

// A version 5 page with a 16-colour map, and for depth 8 a palette block.
std::vector<uint8_t> plane_page(const PlaneLayout &layout) {
    const int plane_bytes = (kWidth * layout.bits + 15) / 16 * 2;
    std::vector<uint8_t> page(128, 0);
    page[0] = 10;
    page[1] = 5;
    page[2] = 1;
    page[3] = static_cast<uint8_t>(layout.bits);
    page[8] = kWidth - 1;
    page[10] = kHeight - 1;
    page[12] = page[14] = 72;
    for (int k = 0; k < 16; ++k) {
        const std::vector<uint8_t> entry = colour_map_entry(k);
        std::copy(entry.begin(), entry.end(), page.begin() + 16 + 3 * k);
    }
    page[65] = static_cast<uint8_t>(layout.planes);
    page[66] = static_cast<uint8_t>(plane_bytes);
    page[68] = 1;
    const int mask = (1 << layout.bits) - 1;
    for (int y = 0; y < kHeight; ++y) {
        std::vector<uint8_t> scan(static_cast<size_t>(plane_bytes * layout.planes), 0);
        for (int p = 0; p < layout.planes; ++p) {
            for (int x = 0; x < kWidth; ++x) {
                const int sample = value_at(layout, x, y) >> (p * layout.bits) & mask;
                const int bit = x * layout.bits;
                scan[static_cast<size_t>(p * plane_bytes + bit / 8)] |=
                    static_cast<uint8_t>(sample << (8 - layout.bits - bit % 8));
            }
        }
        for (uint8_t byte : scan) { // run-length coded: single bytes, marked where needed
            if (byte >= 0xC0) page.push_back(0xC1);
            page.push_back(byte);
        }
    }
    if (depth_of(layout) == 8) {
        page.push_back(12);
        for (int k = 0; k < 256; ++k) {
            const std::vector<uint8_t> entry = tail_entry(k);
            page.insert(page.end(), entry.begin(), entry.end());
        }
    }
    return page;
}

// An indexed PNG's indices, one byte each, and its palette.
struct IndexedPng {
    std::vector<uint8_t> indices;
    std::vector<uint8_t> palette;
};

IndexedPng read_indexed_png(const std::string &path) {
    IndexedPng result;
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return result;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_read_info(png, info);
        if (png_get_color_type(png, info) == PNG_COLOR_TYPE_PALETTE) {
            png_set_packing(png);
            png_read_update_info(png, info);
            const png_uint_32 width = png_get_image_width(png, info);
            std::vector<uint8_t> row(png_get_rowbytes(png, info));
            for (png_uint_32 y = 0; y < png_get_image_height(png, info); ++y) {
                png_read_row(png, row.data(), nullptr);
                result.indices.insert(result.indices.end(), row.begin(), row.begin() + width);
            }
            png_colorp entries = nullptr;
            int count = 0;
            png_get_PLTE(png, info, &entries, &count);
            for (int k = 0; k < count; ++k) {
                result.palette.insert(result.palette.end(), {entries[k].red, entries[k].green, entries[k].blue});
            }
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return result;
}

class BitPlanePages : public testing::TestWithParam<PlaneLayout> {};

TEST_P(BitPlanePages, DecodeToTheValueOfEveryPlane) {
    const PlaneLayout layout = GetParam();
    TempDir dir;
    write_bytes(dir / "in.pcx", plane_page(layout));
    const RunResult png = run_pcxtool({"decode", dir / "in.pcx", dir / "out.png"});
    ASSERT_EQ(png.exit_code, 0) << png.err;
    const RunResult ppm = run_pcxtool({"decode", dir / "in.pcx", dir / "out.ppm"});
    ASSERT_EQ(ppm.exit_code, 0) << ppm.err;

    const IndexedPng indexed = read_indexed_png(dir / "out.png");
    ASSERT_EQ(indexed.indices.size(), size_t{kWidth * kHeight}) << "an indexed PNG of the page's size";
    ASSERT_EQ(indexed.palette.size(), 3u << depth_of(layout));
    for (int k = 0; k < 16; ++k) {
        const std::vector<uint8_t> entry = depth_of(layout) == 8 ? tail_entry(k) : colour_map_entry(k);
        EXPECT_TRUE(std::equal(entry.begin(), entry.end(), indexed.palette.begin() + 3 * k)) << "entry " << k;
    }
    const Image colours = read_ppm(dir / "out.ppm");
    ASSERT_EQ(colours.rgb.size(), size_t{3 * kWidth * kHeight});
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const size_t at = static_cast<size_t>(y * kWidth + x);
            ASSERT_EQ(indexed.indices[at], value_at(layout, x, y)) << "pixel " << x << ", " << y;
            EXPECT_TRUE(std::equal(colours.rgb.begin() + static_cast<long>(3 * at),
                                   colours.rgb.begin() + static_cast<long>(3 * at + 3),
                                   indexed.palette.begin() + 3 * indexed.indices[at]))
                << "pixel " << x << ", " << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, BitPlanePages,
                         testing::Values(PlaneLayout{2, 2}, PlaneLayout{2, 3}, PlaneLayout{2, 4}, PlaneLayout{4, 2}),
                         [](const testing::TestParamInfo<PlaneLayout> &param_info) {
                             return std::to_string(param_info.param.bits) + "_bits_in_" +
                                    std::to_string(param_info.param.planes) + "_planes";
                         });

} // namespace
} // namespace tool_test
