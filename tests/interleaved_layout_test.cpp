// The interleaved sample layout: every plane of 8-bit lines in 3 or 4 planes,
// one byte of each per pixel; other lines read it as the scaled layout. The
// line size answer is what is delivered, and the stride follows the layout.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "iffpcx.h"
#include "support/memory_stream.h"
#include "support/pcx_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kWidth = 3;

// A stored page of two lines: the planes one after another, each plane's
// bytes_per_line bytes taken from `plane_bytes` (the same for both lines,
// plus the line number, so lines tell apart).
Bytes page_file(uint8_t bits, uint8_t planes, uint16_t bytes_per_line, const Bytes &line) {
    test::PcxLayout l;
    l.encoding = 0;
    l.bits = bits;
    l.planes = planes;
    l.x_max = kWidth - 1;
    l.y_max = 1;
    l.bytes_per_line = bytes_per_line;
    Bytes data = line;
    for (uint8_t b : line) data.push_back(uint8_t(b + 1));
    return test::pcx_file(l, data);
}

TEST(InterleavedLayout, DeliversEveryPlaneOnlyWhereAsked) {
    struct Case {
        const char *name;
        uint8_t bits, planes;
        uint16_t bytes_per_line;
        Bytes line; // one scan line in file layout
        int32_t layout;
        Bytes first;     // the host's first line
        uint32_t stride; // in pixels' worth of bytes: widened by the interleaved layout only
    };
    const Bytes rgba = {0x10, 0x11, 0x12, 0x20, 0x21, 0x22, 0x30, 0x31, 0x32, 0x40, 0x41, 0xF2};
    const Bytes interleaved = {0x10, 0x20, 0x30, 0x40, 0x11, 0x21, 0x31, 0x41, 0x12, 0x22, 0x32, 0xF2};
    const Case cases[] = {
        {"RGBA", 8, 4, 3, rgba, IFF_PIXELS_INTERLEAVED, interleaved, 4},
        {"RGBA ignores the polarity, as RGB does", 8, 4, 3, rgba, IFF_PIXELS_INTERLEAVED + IFF_PIXELS_INVERT,
         interleaved, 4},
        {"4 planes keep plane 0 in the scaled layout", 8, 4, 3, rgba, IFF_PIXELS_SCALED, {0x10, 0x11, 0x12}, 1},
        {"RGB",
         8,
         3,
         3,
         Bytes(rgba.begin(), rgba.begin() + 9),
         IFF_PIXELS_INTERLEAVED,
         {0x10, 0x20, 0x30, 0x11, 0x21, 0x31, 0x12, 0x22, 0x32},
         3},
        {"a short plane reads as zeros past its end",
         8,
         4,
         2,
         {1, 2, 3, 4, 5, 6, 7, 8},
         IFF_PIXELS_INTERLEAVED,
         {1, 3, 5, 7, 2, 4, 6, 8, 0, 0, 0, 0},
         4},
        {"other lines read it as scaled",
         1,
         4,
         2,
         {0x80, 0, 0xC0, 0, 0xA0, 0, 0x10, 0},
         IFF_PIXELS_INTERLEAVED,
         {0x70, 0x20, 0x40},
         1},
    };
    for (const Case &c : cases) {
        test::MemoryStream stream(page_file(c.bits, c.planes, c.bytes_per_line, c.line));
        IFFImageInfo info{};
        const int32_t handle = IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
        ASSERT_GT(handle, 0) << c.name;
        ASSERT_EQ(IFFControl(handle, IFF_REQ_PIXEL_FORMAT, uint32_t(uint16_t(c.layout)), 0, nullptr), IFF_OK);
        uint16_t line_size = 0;
        uint32_t stride = 0;
        ASSERT_EQ(IFFControl(handle, IFF_REQ_LINE_SIZE, 0, 0, &line_size), IFF_OK);
        ASSERT_EQ(IFFControl(handle, IFF_REQ_LINE_STRIDE, 0, 0, &stride), IFF_OK);
        EXPECT_EQ(line_size, c.first.size()) << c.name;
        EXPECT_EQ(stride, c.stride * kWidth) << c.name;
        // Both lines in one call: the second (every byte one more, where
        // not padding) lands one stride on, and nothing is written beyond it.
        Bytes out(2 * stride + 8, 0xEE);
        ASSERT_EQ(IFFGetLine(handle, 2, out.data()), IFF_OK) << c.name;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + long(c.first.size())), c.first) << c.name;
        if (c.bits == 8) {
            for (size_t i = 0; i < c.first.size(); ++i) {
                EXPECT_EQ(out[stride + i], uint8_t(c.first[i] + (c.first[i] != 0))) << c.name << " " << i;
            }
        }
        EXPECT_EQ(out[stride + c.first.size()], 0xEE) << c.name;
        EXPECT_EQ(IFFClose(handle), IFF_OK);
    }
}

} // namespace
