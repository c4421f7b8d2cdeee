// Whole lines between the file's planes and the host's pixels: every layout
// a file can bring, short planes, the line size, and writing back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "pixels/planes.h"
#include "support/cpu_levels.h"

namespace iff {
namespace {

using Bytes = std::vector<uint8_t>;

struct Geometry {
    int32_t bits, planes, width, bytes_per_line, format;
};

IFFHandle make_handle(const Geometry &g) {
    IFFHandle h;
    h.bits_per_pixel = g.bits;
    h.planes = uint8_t(g.planes);
    h.width = g.width;
    h.bytes_per_line = g.bytes_per_line;
    h.pixel_format = g.format;
    h.scan_bytes = g.planes * g.bytes_per_line;
    return h;
}

// A read handle over one decoded line, its buffers laid out as the page
// parse lays them out: line_buffer holds exactly scan_bytes bytes on the
// heap, so a read past it shows under AddressSanitizer.
class ReadLine {
  public:
    ReadLine(const Geometry &g, const Bytes &file) : h(make_handle(g)) {
        EXPECT_EQ(file.size(), size_t(h.scan_bytes)) << "test line must be one scan line";
        line.reset(new uint8_t[file.size()]);
        std::copy(file.begin(), file.end(), line.get());
        h.line_buffer = line.get();
        plan_plane_reads(h);
        EXPECT_LE(h.planes_used, int32_t(h.planes));
        if (h.bytes_per_line < h.plane_span) {
            const size_t size = size_t(h.planes_used) * size_t(h.plane_span);
            pad.reset(new uint8_t[size]);
            std::memset(pad.get(), 0xEE, size); // fresh heap memory holds anything
            h.plane_pad = pad.get();
        }
    }

    // Merges over two different fillings of the host's line: the bytes
    // written must be exactly host_line_bytes, each fixed by the file alone.
    Bytes merge() {
        const size_t size = size_t(host_line_bytes(h));
        Bytes first(size + 24, 0xA5), second(size + 24, 0x5A);
        merge_line(h, first.data());
        merge_line(h, second.data());
        for (size_t i = 0; i < size; ++i) EXPECT_EQ(first[i], second[i]) << "byte " << i << " not written";
        for (size_t i = size; i < first.size(); ++i)
            EXPECT_TRUE(first[i] == 0xA5 && second[i] == 0x5A) << "byte " << i << " past the line size";
        first.resize(size);
        return first;
    }

    IFFHandle h;

  private:
    std::unique_ptr<uint8_t[]> line, pad;
};

struct MergeCase {
    Geometry g;
    Bytes file, host;
};

TEST(MergeLine, DeliversEachLayout) {
    const Bytes planes7248 = {0x80, 0xEE, 0xC0, 0xEE, 0xA0, 0xEE, 0x10, 0xEE}; // values 7 2 4 8, pads
    const Bytes tail_junk = {0x8F, 0x00, 0xCF, 0x00, 0xAF, 0x00, 0x1F, 0x00};  // same, bits past width set
    const Bytes values11553377 = {0xFF, 0x00, 0x0F, 0x00, 0x33, 0x00};
    const Bytes nine_planes = {0x80, 0, 0, 0, 0, 0, 0, 0x80, 0xC0}; // 0x81 0x00, plane 8 ignored
    const Bytes rgb = {1, 2, 3, 0xEE, 4, 5, 6, 0xEE, 7, 8, 9, 0xEE};
    const Bytes rgb_host = {1, 4, 7, 2, 5, 8, 3, 6, 9};
    const Bytes ones = {0xFF, 0, 0xFF, 0, 0, 0xFF, 0, 0xFF, 0xFF, 0xFF};
    const MergeCase cases[] = {
        {{1, 4, 4, 2, 1}, planes7248, {0x07, 0x02, 0x04, 0x08}},
        {{1, 4, 4, 2, 2}, planes7248, {0x70, 0x20, 0x40, 0x80}},
        {{1, 4, 4, 2, 3}, planes7248, {0x70, 0x20, 0x40, 0x80}},
        {{1, 4, 4, 2, 0}, planes7248, {0x72, 0x48}},
        {{1, 4, 4, 2, 4097}, planes7248, {0x08, 0x0D, 0x0B, 0x07}},
        {{1, 4, 4, 2, 4099}, planes7248, {0x80, 0xD0, 0xB0, 0x70}},
        {{1, 4, 4, 2, 4096}, planes7248, {0x8D, 0xB7}},
        {{1, 4, 4, 2, 7}, planes7248, {0x70, 0x20, 0x40, 0x80}},
        {{1, 4, 4, 2, -1}, planes7248, {0x70, 0x20, 0x40, 0x80}},
        {{1, 4, 4, 2, 4100}, planes7248, {0x80, 0xD0, 0xB0, 0x70}},
        {{1, 4, 4, 2, 0}, tail_junk, {0x72, 0x48}},
        {{1, 4, 4, 2, 4096}, tail_junk, {0x8D, 0xB7}},
        {{1, 2, 5, 2, 0}, {0xA8, 0x00, 0x58, 0x00}, {0x66, 0xC0}},
        {{1, 3, 8, 2, 3}, values11553377, {0x20, 0x20, 0xA0, 0xA0, 0x60, 0x60, 0xE0, 0xE0}},
        // Packed 3- and 5-plane values run on across byte boundaries.
        {{1, 3, 8, 2, 0}, values11553377, {0x26, 0xD6, 0xFF}},
        {{1, 3, 3, 2, 0}, {0xE7, 0x00, 0x00, 0x00, 0x20, 0x00}, {0x26, 0x80}},
        {{1, 5, 3, 1, 0}, {0xA0, 0x80, 0xA0, 0x80, 0xA0}, {0xF8, 0x2A}},
        {{1, 5, 3, 1, 1}, {0xA0, 0x80, 0xA0, 0x80, 0xA0}, {31, 0, 21}},
        {{1, 5, 3, 1, 4096}, {0xA0, 0x80, 0xA0, 0x80, 0xA0}, {0x07, 0xD4}},
        {{1, 9, 2, 1, 1}, nine_planes, {0x81, 0x00}},
        {{1, 9, 2, 1, 3}, nine_planes, {0x81, 0x00}},
        {{1, 9, 2, 1, 0}, nine_planes, {0x81, 0x00}},
        {{1, 9, 2, 1, 4097}, nine_planes, {0x7E, 0xFF}},
        {{1, 0, 3, 2, 1}, {}, {0, 0, 0}},
        {{1, 0, 3, 2, 4099}, {}, {0, 0, 0}},
        {{1, 0, 3, 2, 0}, {}, {}},
        {{1, 1, 10, 2, 0}, {0xA5, 0xC0}, {0xA5, 0xC0}},
        {{1, 1, 10, 2, 4096}, {0xA5, 0xC0}, {0x5A, 0x3F}},
        {{1, 1, 10, 2, 3}, {0xA5, 0xC0}, ones},
        {{8, 3, 3, 4, 0}, rgb, rgb_host},
        {{8, 3, 3, 4, 1}, rgb, rgb_host},
        {{8, 3, 3, 4, 3}, rgb, rgb_host},
        {{8, 3, 3, 4, 4099}, rgb, rgb_host},
        {{8, 4, 3, 3, 3}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}, {1, 2, 3}}, // plane 0 only
        {{8, 4, 3, 3, 4099}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}, {0xFE, 0xFD, 0xFC}},
        {{2, 4, 5, 2, 3}, {0x1B, 0xC0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0, 85, 170, 255, 255}},
        // Planes shorter than their pixels: the missing bytes read as zero.
        {{8, 1, 6, 4, 1}, {1, 2, 3, 4}, {1, 2, 3, 4, 0, 0}},
        {{8, 1, 6, 4, 0}, {1, 2, 3, 4}, {1, 2, 3, 4, 0, 0}},
        {{8, 1, 6, 4, 4099}, {1, 2, 3, 4}, {0xFE, 0xFD, 0xFC, 0xFB, 0xFF, 0xFF}},
        {{8, 3, 4, 2, 3}, {1, 2, 3, 4, 5, 6}, {1, 3, 5, 2, 4, 6, 0, 0, 0, 0, 0, 0}},
        {{1, 4, 12, 1, 1}, {0xFF, 0x00, 0x00, 0xFF}, {9, 9, 9, 9, 9, 9, 9, 9, 0, 0, 0, 0}},
        {{1, 4, 12, 1, 0}, {0xFF, 0x00, 0x00, 0xFF}, {0x99, 0x99, 0x99, 0x99, 0, 0}},
        {{1, 1, 12, 1, 3}, {0xF0}, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}},
        {{16, 1, 3, 2, 3}, {1, 2}, {1, 2, 0, 0, 0, 0}},
        {{4, 1, 4, 0, 1}, {}, {0, 0, 0, 0}},
        // No pixels, nothing written.
        {{8, 3, 0, 2, 3}, {1, 2, 3, 4, 5, 6}, {}},
        {{1, 4, -3, 1, 1}, {1, 2, 3, 4}, {}},
    };
    for (const MergeCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.g.bits << "x" << c.g.planes << " width " << c.g.width << " bytes_per_line "
                                        << c.g.bytes_per_line << " format " << c.g.format);
        ReadLine line(c.g, c.file);
        EXPECT_EQ(line.merge(), c.host);
    }
}

TEST(MergeLine, LineSizeIsWhatEveryLayoutWrites) {
    // Full and short planes of every depth and plane count, in every layout:
    // ReadLine::merge checks the bytes written against host_line_bytes.
    uint32_t seed = 12345;
    for (int32_t bits : {1, 2, 3, 4, 6, 8, 12, 16, 32})
        for (int32_t planes : {1, 2, 3, 4, 5, 9})
            for (int32_t width : {1, 7, 9, 33})
                for (int32_t format : {0, 1, 2, 3, 4096, 4097, 4099, 7, -1}) {
                    IFFHandle probe = make_handle({bits, planes, width, 0, format});
                    plan_plane_reads(probe);
                    for (int32_t bytes_per_line : {probe.plane_span + 1, probe.plane_span / 2}) {
                        SCOPED_TRACE(testing::Message()
                                     << bits << "x" << planes << " width " << width << " bytes_per_line "
                                     << bytes_per_line << " format " << format);
                        Bytes file(size_t(planes * bytes_per_line));
                        for (uint8_t &b : file) b = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
                        ReadLine line({bits, planes, width, bytes_per_line, format}, file);
                        line.merge();
                    }
                }
}

struct SplitCase {
    Geometry g;
    uint8_t prior; // what line_buffer held before
    Bytes host, file;
};

Bytes split(const Geometry &g, uint8_t prior, const Bytes &host) {
    IFFHandle h = make_handle(g);
    std::unique_ptr<uint8_t[]> line(new uint8_t[size_t(h.scan_bytes)]);
    std::memset(line.get(), prior, size_t(h.scan_bytes));
    h.line_buffer = line.get();
    split_line(h, host.data());
    return Bytes(line.get(), line.get() + h.scan_bytes);
}

TEST(SplitLine, StoresEachWriteLayout) {
    const SplitCase cases[] = {
        {{1, 4, 4, 2, 0}, 0xEE, {0x70, 0x20, 0x40, 0x8F}, {0x80, 0, 0xC0, 0, 0xA0, 0, 0x10, 0}},
        {{1, 4, 4, 2, 3}, 0xEE, {0x70, 0x20, 0x40, 0x8F}, {0x80, 0, 0xC0, 0, 0xA0, 0, 0x10, 0}},
        {{1, 4, 4, 2, 4097}, 0xEE, {0x70, 0x20, 0x40, 0x8F}, {0x80, 0, 0xC0, 0, 0xA0, 0, 0x10, 0}},
        {{1, 3, 9, 2, 1}, 0xEE, {1, 1, 5, 5, 3, 3, 7, 7, 0xFF}, {0xFF, 0x80, 0x0F, 0x80, 0x33, 0x80}},
        {{8, 3, 3, 4, 3}, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 4, 7, 0, 2, 5, 8, 0, 3, 6, 9, 0}},
        {{2, 1, 5, 2, 1}, 0, {0, 1, 2, 3, 0xFE}, {0x1B, 0x80}},
        {{8, 1, 0, 2, 3}, 0xEE, {}, {0xEE, 0xEE}},
        // Planes too short for the width are filled, never overrun.
        {{8, 1, 6, 4, 3}, 0, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4}},
        {{8, 3, 3, 2, 3}, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 4, 2, 5, 3, 6}},
        {{1, 4, 12, 1, 1}, 0, {15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15}, {0xFF, 0xFF, 0xFF, 0xFF}},
        {{1, 1, 12, 1, 3}, 0, Bytes(12, 0xFF), {0xFF}},
    };
    for (const SplitCase &c : cases) {
        EXPECT_EQ(split(c.g, c.prior, c.host), c.file)
            << c.g.bits << "x" << c.g.planes << " width " << c.g.width << " format " << c.g.format;
    }
}

class PlanesAtEachLevel : public test::AtEachCpuLevel {};
IFF_AT_EACH_CPU_LEVEL(PlanesAtEachLevel);

TEST_P(PlanesAtEachLevel, WrittenLinesReadBackUnchanged) {
    // The write layouts, with the host byte that each pixel value takes.
    struct Layout {
        int32_t bits, planes, format;
        uint8_t (*host_byte)(uint32_t value);
    } layouts[] = {
        {1, 1, 1, [](uint32_t v) { return uint8_t(v & 1); }},
        {1, 1, 2, [](uint32_t v) { return uint8_t((v & 1) << 7); }},
        {1, 1, 3, [](uint32_t v) { return uint8_t((v & 1) * 255); }},
        {2, 1, 1, [](uint32_t v) { return uint8_t(v & 3); }},
        {2, 1, 2, [](uint32_t v) { return uint8_t((v & 3) << 6); }},
        {2, 1, 3, [](uint32_t v) { return uint8_t((v & 3) * 85); }},
        {8, 1, 1, [](uint32_t v) { return uint8_t(v); }},
        {8, 1, 3, [](uint32_t v) { return uint8_t(v); }},
        {8, 3, 3, [](uint32_t v) { return uint8_t(v); }},
        {1, 3, 1, [](uint32_t v) { return uint8_t(v & 7); }},
        {1, 3, 3, [](uint32_t v) { return uint8_t((v & 7) << 5); }},
        {1, 4, 1, [](uint32_t v) { return uint8_t(v & 15); }},
        {1, 4, 2, [](uint32_t v) { return uint8_t((v & 15) << 4); }},
        // Packed lines are copied both ways.
        {1, 1, 0, [](uint32_t v) { return uint8_t(v); }},
        {2, 1, 0, [](uint32_t v) { return uint8_t(v); }},
        {8, 1, 0, [](uint32_t v) { return uint8_t(v); }},
    };
    uint32_t seed = 99;
    for (const Layout &l : layouts) {
        const int32_t width = 13;
        const int32_t bytes_per_line = ((width * l.bits + 7) / 8 + 1) & ~1;
        const Geometry g{l.bits, l.planes, width, bytes_per_line, l.format};
        IFFHandle probe = make_handle(g);
        Bytes host(size_t(host_line_bytes(probe)));
        for (uint8_t &b : host) b = l.host_byte((seed = seed * 1103515245u + 12345u) >> 16);
        ReadLine line(g, split(g, 0, host));
        EXPECT_EQ(line.merge(), host) << l.bits << "x" << l.planes << " format " << l.format;
    }
}

TEST_P(PlanesAtEachLevel, RgbLinesInterleaveAtEveryBlockBoundary) {
    // The wide loops take 64 and 16 pixels at a time; widths around those
    // blocks leave every kind of tail. Split back, the line is the file's.
    uint32_t seed = 777;
    for (int32_t width : {15, 16, 17, 63, 64, 65, 200}) {
        const int32_t bytes_per_line = width + (width & 1);
        Bytes file(size_t(3 * bytes_per_line));
        for (uint8_t &b : file) b = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
        Bytes expected;
        for (int32_t x = 0; x < width; ++x)
            for (int32_t plane = 0; plane < 3; ++plane) expected.push_back(file[size_t(plane * bytes_per_line + x)]);
        const Geometry g{8, 3, width, bytes_per_line, IFF_PIXELS_SCALED};
        ReadLine line(g, file);
        EXPECT_EQ(line.merge(), expected) << "width " << width;
        Bytes planes = file; // with zero pads, which the split leaves alone
        for (int32_t plane = 0; plane < 3 && (width & 1); ++plane) planes[size_t(plane * bytes_per_line + width)] = 0;
        EXPECT_EQ(split(g, 0, expected), planes) << "split, width " << width;
    }
}

} // namespace
} // namespace iff
