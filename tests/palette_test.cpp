// The palette a page gets when it is read, and what the host receives of it.
#include <gtest/gtest.h>

#include <vector>

#include "iffpcx.h"
#include "support/memory_stream.h"
#include "support/pcx_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using test::MemoryStream;

// A colour map whose entry k is (k, 100 + k, 200 + k).
std::array<uint8_t, 48> numbered_map() {
    std::array<uint8_t, 48> map{};
    for (int k = 0; k < 16; ++k) {
        map[size_t(3 * k)] = uint8_t(k);
        map[size_t(3 * k + 1)] = uint8_t(100 + k);
        map[size_t(3 * k + 2)] = uint8_t(200 + k);
    }
    return map;
}

struct PageSpec {
    uint8_t version = 5, bits = 1, planes = 1;
    uint16_t palette_info = 1;
    bool tail = false; // append a 256-colour block of entries (k, k, 255 - k)
    uint8_t tail_marker = 12;
};

Bytes page_file(const PageSpec &p) {
    test::PcxLayout l;
    l.version = p.version;
    l.bits = p.bits;
    l.planes = p.planes;
    l.palette_info = p.palette_info;
    l.colour_map = numbered_map();
    l.x_max = 7;
    l.y_max = 0;
    l.bytes_per_line = 8;
    Bytes file = test::pcx_file(l, Bytes(size_t(8 * p.planes), 0x00));
    if (p.tail) {
        Bytes entries;
        for (int k = 0; k < 256; ++k) entries.insert(entries.end(), {uint8_t(k), uint8_t(k), uint8_t(255 - k)});
        test::append_tail_palette(file, entries);
        file[file.size() - 769] = p.tail_marker;
    }
    return file;
}

// Opens, sets the pixel format and exports the palette; the size query's answer
// bounds the export.
struct Exported {
    int32_t status = -1;
    uint16_t size = 0;
    Bytes bytes;
};

Exported export_palette(const Bytes &file, int32_t pixel_format) {
    MemoryStream stream(file);
    IFFImageInfo info{};
    Exported out;
    const int32_t h = IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    if (h <= 0) return out;
    IFFControl(h, IFF_REQ_PIXEL_FORMAT, uint32_t(uint16_t(pixel_format)), 0, nullptr);
    IFFControl(h, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &out.size);
    Bytes area(out.size + 64u, 0xEE);
    out.status = IFFControl(h, IFF_REQ_PALETTE, 0, 0, area.data());
    area.resize(out.size);
    out.bytes = area;
    // Decoding starts at the first image byte: the palette step left the stream there.
    Bytes line(64, 0xEE);
    EXPECT_EQ(IFFGetLine(h, 1, line.data()), IFF_OK);
    IFFClose(h);
    return out;
}

Bytes rgb(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(uint8_t(v));
    return out;
}

Bytes entry(const Exported &e, int k) {
    return Bytes(e.bytes.begin() + 3 * k, e.bytes.begin() + 3 * k + 3);
}

TEST(PaletteAtPageOpen, ChoosesItsSourceByVersionAndDepth) {
    struct Case {
        const char *name;
        PageSpec page;
        std::vector<std::pair<int, Bytes>> entries; // index, expected entry (pixel format 1)
    } cases[] = {
        {"v3 depth 3: table A", {3, 1, 3}, {{0, rgb({0, 0, 0})}, {1, rgb({0, 0, 255})}, {6, rgb({255, 255, 0})}}},
        {"v3 depth 1 export is black and white", {3, 1, 1}, {{0, rgb({0, 0, 0})}, {1, rgb({255, 255, 255})}}},
        {"v3 depth 4: gray ramp", {3, 1, 4}, {{1, rgb({17, 17, 17})}, {15, rgb({255, 255, 255})}}},
        {"v3 depth 5: 32 grays cut toward zero", {3, 1, 5}, {{3, rgb({24, 24, 24})}, {5, rgb({41, 41, 41})}}},
        {"v4 depth 3: table B", {4, 1, 3}, {{5, rgb({192, 0, 192})}, {7, rgb({192, 192, 192})}}},
        {"v4 depth 4: colour map", {4, 1, 4}, {{9, rgb({9, 109, 209})}}},
        {"v2 palette info 0 reads the map", {2, 2, 1, 0}, {{3, rgb({3, 103, 203})}}},
        {"v2 palette info 3: gray ramp", {2, 2, 1, 3}, {{1, rgb({85, 85, 85})}}},
        {"gray from the map", {2, 4, 1, 2}, {{7, rgb({7, 7, 7})}}},
        {"v5 depth 8 with its block", {5, 8, 1, 1, true}, {{0, rgb({0, 0, 255})}, {200, rgb({200, 200, 55})}}},
        {"v5 depth 8 without marker: map, then grays",
         {5, 8, 1, 1, true, 13},
         {{15, rgb({15, 115, 215})}, {16, rgb({16, 16, 16})}, {255, rgb({255, 255, 255})}}},
        {"v5 depth 4 ignores a block", {5, 1, 4, 1, true}, {{2, rgb({2, 102, 202})}}},
        {"v5 depth 4 with a 12 where a block would start", {5, 4, 1, 1, true}, {{12, rgb({12, 112, 212})}}},
        {"v2 depth 6 beyond the map: grays", {2, 6, 1}, {{15, rgb({15, 115, 215})}, {63, rgb({255, 255, 255})}}},
    };
    for (const auto &c : cases) {
        const Exported e = export_palette(page_file(c.page), IFF_PIXELS_INDEX);
        ASSERT_EQ(e.status, IFF_OK) << c.name;
        for (const auto &[k, expected] : c.entries) EXPECT_EQ(entry(e, k), expected) << c.name << " entry " << k;
    }
}

TEST(PaletteExport, FollowsThePixelFormat) {
    struct Case {
        const char *name;
        PageSpec page;
        int32_t pixel_format;
        uint16_t size;
        int repeat; // each entry stands this many times in a row
    } cases[] = {
        {"4-bit index", {5, 1, 4}, 1, 48, 1},
        {"4-bit packed", {5, 1, 4}, 0, 48, 1},
        {"4-bit scaled: expanded", {5, 1, 4}, 3, 768, 16},
        {"2-bit left-justified: expanded", {5, 2, 1}, 2, 768, 64},
        {"8-bit scaled", {5, 8, 1, 1, true}, 3, 768, 1},
        {"inverted index", {5, 1, 4}, 4097, 48, 1},
        {"inverted scaled", {5, 1, 4}, 4099, 768, 16},
        {"unknown layout counts as scaled", {5, 1, 4}, 9, 768, 16},
    };
    for (const auto &c : cases) {
        const Exported e = export_palette(page_file(c.page), c.pixel_format);
        ASSERT_EQ(e.status, IFF_OK) << c.name;
        EXPECT_EQ(e.size, c.size) << c.name;
        const Exported plain = export_palette(page_file(c.page), IFF_PIXELS_INDEX);
        for (int i = 0; i < c.size / 3; ++i)
            ASSERT_EQ(entry(e, i), entry(plain, i / c.repeat)) << c.name << " position " << i;
    }
}

TEST(PaletteExport, BilevelIsBlackThenWhiteWhateverTheMap) {
    for (int32_t format : {0, 3}) {
        const Exported e = export_palette(page_file({2, 1, 1}), format);
        ASSERT_EQ(e.status, IFF_OK);
        EXPECT_EQ(Bytes(e.bytes.begin(), e.bytes.begin() + 6), rgb({0, 0, 0, 255, 255, 255}));
    }
}

TEST(PaletteExport, RefusesPagesWithoutAPaletteAndWritesNothing) {
    test::PcxLayout l;
    l.x_max = 3;
    l.bytes_per_line = 4;
    struct Case {
        const char *name;
        uint8_t bits, planes;
        uint16_t size_at_format_1;
    } cases[] = {{"24-bit", 8, 3, 0}, {"12-bit", 12, 1, 12288}, {"16-bit", 16, 1, 0}};
    for (const auto &c : cases) {
        l.bits = c.bits;
        l.planes = c.planes;
        MemoryStream stream(test::pcx_file(l, Bytes(64, 0)));
        IFFImageInfo info{};
        const int32_t h = IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
        ASSERT_GT(h, 0) << c.name;
        IFFControl(h, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr);
        uint16_t size = 1;
        EXPECT_EQ(IFFControl(h, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &size), IFF_OK);
        EXPECT_EQ(size, c.size_at_format_1) << c.name;
        Bytes area(768, 0xEE);
        EXPECT_EQ(IFFControl(h, IFF_REQ_PALETTE, 0, 0, area.data()), IFF_ERR_REQUEST) << c.name;
        EXPECT_EQ(area, Bytes(768, 0xEE)) << c.name;
        IFFControl(h, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_SCALED, 0, nullptr);
        EXPECT_EQ(IFFControl(h, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &size), IFF_OK);
        EXPECT_EQ(size, 768) << c.name;
        EXPECT_EQ(IFFClose(h), IFF_OK);
    }
}

TEST(PaletteExport, ShortTailBlockLeavesNoPalette) {
    // A multi-page file whose page claims to end past the end of the stream.
    Bytes page = page_file({5, 8, 1, 1, true});
    Bytes file = test::dcx_file({page});
    file[8] = 0xFF; // the entry after page 0 is its end: far beyond the stream
    file[9] = 0xFF;
    file.insert(file.begin() + 12, {0, 0, 0, 0}); // keep a terminator
    file[4] = uint8_t(file[4] + 4);
    MemoryStream stream(file);
    IFFImageInfo info{};
    const int32_t h = IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    ASSERT_GT(h, 0);
    IFFControl(h, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr);
    Bytes area(768, 0xEE);
    EXPECT_EQ(IFFControl(h, IFF_REQ_PALETTE, 0, 0, area.data()), IFF_ERR_READ);
    EXPECT_EQ(area, Bytes(768, 0xEE));
    Bytes line(8);
    EXPECT_EQ(IFFGetLine(h, 1, line.data()), IFF_OK);
    EXPECT_EQ(IFFClose(h), IFF_OK);
}

TEST(PaletteReplacement, TakesTheSizeTheQueryAnnounces) {
    // Mode 3 handles replace the palette instead of exporting it.
    MemoryStream stream(page_file({5, 1, 4}));
    IFFImageInfo info{};
    const int32_t h = IFFOpen(stream.source(), IFF_MODE_READ_LINES | IFF_MODE_STREAMS, &info);
    ASSERT_GT(h, 0);
    Bytes host(768, 0x42);
    IFFControl(h, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr);
    EXPECT_EQ(IFFControl(h, IFF_REQ_PALETTE, 0, 0, host.data()), IFF_OK);
    EXPECT_EQ(host, Bytes(768, 0x42)); // read, not written
    EXPECT_EQ(IFFClose(h), IFF_OK);
}

} // namespace
