// A page written as PNG costs a bounded amount of memory whatever its size:
// large pages are compressed as their rows come, and still hold every pixel.
#include <fstream>
#include <functional>
#include <gtest/gtest.h>

#include "tool_harness.h"

namespace tool_test {
namespace {

// Whole, such pages took their filtered rows and as much again compressed.
constexpr long kMemoryBoundKb = 100 * 1024;

void put_u16(std::vector<uint8_t> &bytes, size_t at, unsigned value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

// A 24-bit page of mid-gray lines, coded as runs: a large page in a small file.
std::vector<uint8_t> gray_rgb_page(unsigned width, unsigned height) {
    std::vector<uint8_t> page(128, 0);
    page[0] = 10;
    page[1] = 5;
    page[2] = 1;
    page[3] = 8;
    put_u16(page, 8, width - 1);
    put_u16(page, 10, height - 1);
    page[65] = 3;
    put_u16(page, 66, width);
    std::vector<uint8_t> line;
    for (unsigned left = width; left > 0;) {
        const unsigned run = std::min(left, 63u);
        line.insert(line.end(), {static_cast<uint8_t>(0xC0 + run), 0x80});
        left -= run;
    }
    for (unsigned row = 0; row < 3 * height; ++row) {
        page.insert(page.end(), line.begin(), line.end());
    }
    return page;
}

// A raw PPM of colours that vary everywhere, written a row at a time: the
// memory of the test process counts in what its children are said to take.
void write_varied_ppm(const std::string &path, unsigned width, unsigned height) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    std::vector<char> row(3 * size_t{width});
    uint32_t state = 7;
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            row[3 * x] = static_cast<char>(x * 255 / (width - 1));
            row[3 * x + 1] = static_cast<char>(y * 255 / (height - 1));
            row[3 * x + 2] = static_cast<char>(x * 7 + y * 3 + (state >> 28));
        }
        out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
}

struct LargePng {
    const char *name;
    // Writes the page as in.pcx in the folder.
    std::function<void(const TempDir &)> make;
};

void PrintTo(const LargePng &page, std::ostream *os) {
    *os << page.name;
}

const LargePng kLargePngs[] = {
    {"flat_rgb_of_108_mb", [](const TempDir &d) { write_bytes(d / "in.pcx", gray_rgb_page(6000, 6000)); }},
    // Just past where pages are compressed whole, in colours that vary.
    {"true_colour_of_34_mb",
     [](const TempDir &d) {
         write_varied_ppm(d / "in.ppm", 3400, 3300);
         EXPECT_EQ(run_pcxtool({"encode", d / "in.ppm", d / "in.pcx"}).exit_code, 0);
         fs::remove(d / "in.ppm");
     }},
};

class LargePngs : public testing::TestWithParam<LargePng> {};

TEST_P(LargePngs, StreamInBoundedMemory) {
    TempDir dir;
    GetParam().make(dir);
    const RunResult png = run_pcxtool({"decode", dir / "in.pcx", dir / "out.png"});
    ASSERT_EQ(png.exit_code, 0) << png.err;
    EXPECT_LT(png.max_rss_kb, kMemoryBoundKb);
    ASSERT_EQ(run_pcxtool({"decode", dir / "in.pcx", dir / "out.ppm"}).exit_code, 0);
    const PngFile written = read_png(dir / "out.png");
    EXPECT_EQ(written.color_type, 2); // RGB
    EXPECT_TRUE(written.image == read_ppm(dir / "out.ppm")) << "the PNG holds the page's pixels";
}

INSTANTIATE_TEST_SUITE_P(Pages, LargePngs, testing::ValuesIn(kLargePngs),
                         [](const testing::TestParamInfo<LargePng> &param_info) {
                             return std::string(param_info.param.name);
                         });

} // namespace
} // namespace tool_test
