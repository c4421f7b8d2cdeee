// Multi-page files and the control requests around them.
#include <gtest/gtest.h>

#include <vector>

#include "iffpcx.h"
#include "support/memory_stream.h"
#include "support/pcx_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using test::MemoryStream;

// A page of width x 1 whose single line is all fill (8-bit, version 5).
Bytes page(uint16_t width, uint8_t fill, uint8_t planes = 1) {
    test::PcxLayout l;
    l.x_max = uint16_t(width - 1);
    l.planes = planes;
    l.bytes_per_line = width;
    Bytes coded;
    for (int p = 0; p < planes; ++p)
        for (int left = width; left > 0; left -= 63)
            coded.insert(coded.end(), {uint8_t(0xC0 | (left > 63 ? 63 : left)), fill});
    return test::pcx_file(l, coded);
}

struct Opened {
    MemoryStream stream;
    IFFImageInfo info{};
    int32_t handle;
    explicit Opened(Bytes file, uint32_t mode = IFF_MODE_READ)
        : stream(std::move(file)), handle(IFFOpen(stream.source(), mode | IFF_MODE_STREAMS, &info)) {}
    ~Opened() {
        if (handle > 0) IFFClose(handle);
    }
    uint16_t pages() {
        uint16_t count = 0;
        EXPECT_EQ(IFFControl(handle, IFF_REQ_PAGE_COUNT, 0, 0, &count), IFF_OK);
        return count;
    }
};

TEST(Pages, CountsAndSelectsPagesOfDifferentSizes) {
    Opened f(test::dcx_file({page(4, 1), page(6, 2, 3), page(3, 3)}));
    ASSERT_GT(f.handle, 0);
    EXPECT_EQ(f.pages(), 3);
    EXPECT_EQ(f.info.width, 4);
    Bytes lines(64, 0xEE);
    ASSERT_EQ(IFFGetLine(f.handle, 1, lines.data()), IFF_OK);
    EXPECT_EQ(lines[0], 1);

    ASSERT_EQ(IFFControl(f.handle, IFF_REQ_SELECT_PAGE, 0, 1, nullptr), IFF_OK);
    EXPECT_EQ(f.info.width, 6);
    EXPECT_EQ(f.info.color_class, 3u);
    EXPECT_EQ(f.info.bits, 8);
    // The second page is wider and deeper: two lines land 18 bytes apart.
    std::fill(lines.begin(), lines.end(), 0xEE);
    ASSERT_EQ(IFFGetLine(f.handle, 1, lines.data()), IFF_OK);
    EXPECT_EQ(Bytes(lines.begin(), lines.begin() + 18), Bytes(18, 2));
    EXPECT_EQ(lines[18], 0xEE);

    ASSERT_EQ(IFFControl(f.handle, IFF_REQ_SELECT_PAGE, 0, 2, nullptr), IFF_OK);
    EXPECT_EQ(f.info.width, 3);
    ASSERT_EQ(IFFGetLine(f.handle, 1, lines.data()), IFF_OK);
    EXPECT_EQ(lines[0], 3);
    // The last page ends at the end of the stream: its second line fails.
    EXPECT_EQ(IFFGetLine(f.handle, 1, lines.data()), IFF_ERR_LINE);

    // Out of range: refused, the page stays.
    EXPECT_EQ(IFFControl(f.handle, IFF_REQ_SELECT_PAGE, 0, 3, nullptr), IFF_ERR_REQUEST);
    EXPECT_EQ(IFFControl(f.handle, IFF_REQ_SELECT_PAGE, 0, -1, nullptr), IFF_ERR_REQUEST);
    EXPECT_EQ(f.info.width, 3);
    ASSERT_EQ(IFFSeek(f.handle, 0), IFF_OK);
    ASSERT_EQ(IFFGetLine(f.handle, 1, lines.data()), IFF_OK);
    EXPECT_EQ(lines[0], 3);
}

TEST(Pages, SinglePagesSelectNothing) {
    for (const Bytes &file : {page(4, 9), test::dcx_file({page(4, 9)})}) {
        Opened f(file);
        ASSERT_GT(f.handle, 0);
        EXPECT_EQ(f.pages(), 1);
        EXPECT_EQ(IFFControl(f.handle, IFF_REQ_SELECT_PAGE, 0, 57, nullptr), IFF_OK);
    }
}

TEST(Pages, DamagedDirectoriesFailCleanly) {
    struct Case {
        const char *name;
        Bytes file;
        int32_t open_status; // 0: opens
    };
    Bytes no_terminator = test::dcx_file({page(4, 1)});
    no_terminator.resize(8); // signature and one entry, then the stream ends
    Bytes empty = test::dcx_file({});
    Bytes past_end = test::dcx_file({page(4, 1)});
    past_end[4] = 0xF0; // the first page lies far beyond the stream
    past_end[5] = 0xF0;
    Bytes too_many = {0xB1, 0x68, 0xDE, 0x3A};
    for (int i = 0; i < 65536; ++i) too_many.insert(too_many.end(), {16, 0, 0, 0});
    too_many.insert(too_many.end(), {0, 0, 0, 0});
    Bytes max_pages = {0xB1, 0x68, 0xDE, 0x3A};
    const Bytes one = page(2, 7);
    const uint32_t at = 4 + 4 * 65536;
    for (int i = 0; i < 65535; ++i)
        max_pages.insert(max_pages.end(), {uint8_t(at), uint8_t(at >> 8), uint8_t(at >> 16), uint8_t(at >> 24)});
    max_pages.insert(max_pages.end(), {0, 0, 0, 0});
    max_pages.insert(max_pages.end(), one.begin(), one.end());
    const Case cases[] = {
        {"no terminating entry", no_terminator, -IFF_ERR_READ},
        {"no page at all", empty, -IFF_ERR_FORMAT},
        {"page past the end", past_end, -IFF_ERR_READ},
        {"65536 entries", too_many, -IFF_ERR_FORMAT},
        {"65535 entries", max_pages, 0},
    };
    for (const auto &c : cases) {
        Opened f(c.file);
        if (c.open_status != 0) {
            EXPECT_EQ(f.handle, c.open_status) << c.name;
            EXPECT_EQ(f.stream.opens, f.stream.closes) << c.name;
        } else {
            ASSERT_GT(f.handle, 0) << c.name;
            EXPECT_EQ(f.pages(), 65535) << c.name;
            EXPECT_EQ(IFFControl(f.handle, IFF_REQ_SELECT_PAGE, 0, 65534, nullptr), IFF_OK) << c.name;
        }
    }
}

TEST(Pages, FailedSelectionIsRecordedAndTheHandleStaysSafe) {
    Bytes file = test::dcx_file({page(4, 1), page(4, 2)});
    const size_t second = file[8] | size_t(file[9]) << 8;
    file[second] = 99; // the second page's header is foreign
    Opened f(file);
    ASSERT_GT(f.handle, 0);
    EXPECT_EQ(IFFControl(f.handle, IFF_REQ_SELECT_PAGE, 0, 1, nullptr), IFF_ERR_FORMAT);
    Bytes lines(64);
    IFFGetLine(f.handle, 1, lines.data()); // whatever it delivers, it stays in bounds
    EXPECT_EQ(IFFControl(f.handle, IFF_REQ_SELECT_PAGE, 0, 0, nullptr), IFF_OK);
    ASSERT_EQ(IFFGetLine(f.handle, 1, lines.data()), IFF_OK);
    EXPECT_EQ(lines[0], 1);

    f.stream.fail_seek_at = uint32_t(f.stream.seeks + 1), f.stream.failures_stay = true;
    EXPECT_EQ(IFFControl(f.handle, IFF_REQ_SELECT_PAGE, 0, 1, nullptr), IFF_ERR_SEEK);
    int32_t error = 0;
    IFFControl(f.handle, IFF_REQ_STATUS, 0, 0, &error);
    EXPECT_EQ(error, IFF_ERR_SEEK);
}

TEST(Control, RefusesWhatTheHandleDoesNotAllow) {
    Opened reading(test::dcx_file({page(4, 1), page(4, 2)}));
    Opened lines_only(test::dcx_file({page(4, 1), page(4, 2)}), IFF_MODE_READ_LINES);
    ASSERT_GT(reading.handle, 0);
    ASSERT_GT(lines_only.handle, 0);
    uint16_t count = 0;
    struct Case {
        const char *name;
        int32_t handle;
        uint32_t request, flags;
        int32_t value;
        void *data;
        int32_t status;
    } cases[] = {
        {"page count, flags 1", reading.handle, 10, 1, 0, &count, IFF_ERR_REQUEST},
        {"page count, mode 3", lines_only.handle, 10, 0, 0, &count, IFF_ERR_REQUEST},
        {"select, mode 3", lines_only.handle, 11, 0, 1, nullptr, IFF_ERR_REQUEST},
        {"select, low flag byte set", reading.handle, 11, 0x01, 1, nullptr, IFF_ERR_REQUEST},
        {"select, flag bits 8..15 equal 1", reading.handle, 11, 0x100, 1, nullptr, IFF_ERR_REQUEST},
        {"select, flag bits 8..15 equal 2", reading.handle, 11, 0x200, 1, nullptr, IFF_OK},
        {"unknown request 4", reading.handle, 4, 0, 0, &count, IFF_ERR_UNSUPPORTED},
        {"unknown request 5", reading.handle, 5, 0, 0, &count, IFF_ERR_UNSUPPORTED},
        {"unknown request 6", reading.handle, 6, 0, 0, &count, IFF_ERR_UNSUPPORTED},
        {"unknown request 8", reading.handle, 8, 0, 0, &count, IFF_ERR_UNSUPPORTED},
        {"unknown request 9", reading.handle, 9, 0, 0, &count, IFF_ERR_UNSUPPORTED},
        {"unknown request 12", reading.handle, 12, 0, 0, &count, IFF_ERR_UNSUPPORTED},
        {"status without an area", reading.handle, 0, 0, 0, nullptr, IFF_ERR_REQUEST},
    };
    for (const auto &c : cases)
        EXPECT_EQ(IFFControl(c.handle, c.request, c.flags, c.value, c.data), c.status) << c.name;
}

TEST(Control, LineSizeFollowsWhatALineDelivers) {
    struct Case {
        const char *name;
        uint8_t bits, planes;
        int32_t pixel_format;
        uint16_t size;
    } cases[] = {
        {"24-bit, packed", 8, 3, 0, 30},   {"24-bit, scaled", 8, 3, 3, 30},  {"1-bit, packed", 1, 1, 0, 2},
        {"1-bit, index", 1, 1, 1, 10},     {"4 planes, packed", 1, 4, 0, 5}, {"3 planes, packed", 1, 3, 0, 4},
        {"4 planes, scaled", 1, 4, 3, 10}, {"12-bit", 12, 1, 3, 20},         {"16-bit", 16, 1, 1, 20},
        {"32-bit", 32, 1, 3, 40},          {"8-bit", 8, 1, 4099, 10},
    };
    for (const auto &c : cases) {
        test::PcxLayout l;
        l.bits = c.bits;
        l.planes = c.planes;
        l.x_max = 9;
        l.bytes_per_line = 40;
        Opened f(test::pcx_file(l, Bytes(400, 0x01)));
        ASSERT_GT(f.handle, 0) << c.name;
        IFFControl(f.handle, IFF_REQ_PIXEL_FORMAT, uint32_t(uint16_t(c.pixel_format)), 0, nullptr);
        uint16_t size = 0;
        EXPECT_EQ(IFFControl(f.handle, IFF_REQ_LINE_SIZE, 0, 0, &size), IFF_OK);
        EXPECT_EQ(size, c.size) << c.name;
        // The line really is that long: bytes beyond it are left alone.
        Bytes line(200, 0xEE);
        ASSERT_EQ(IFFGetLine(f.handle, 1, line.data()), IFF_OK);
        EXPECT_EQ(line[c.size], 0xEE) << c.name;
    }
}

TEST(Control, LineSizeBeyondSixteenBitsAnswersZero) {
    test::PcxLayout l;
    l.planes = 3;
    l.x_max = 21845; // 21846 RGB pixels: 65538 bytes a line
    l.bytes_per_line = 21846;
    Opened f(test::pcx_file(l, {}));
    ASSERT_GT(f.handle, 0);
    uint16_t size = 1;
    EXPECT_EQ(IFFControl(f.handle, IFF_REQ_LINE_SIZE, 0, 0, &size), IFF_OK);
    EXPECT_EQ(size, 0);
}

TEST(Control, ResolutionIsReadAndWritten) {
    test::PcxLayout l;
    l.x_max = 3;
    l.bytes_per_line = 4;
    l.h_dpi = 300;
    l.v_dpi = 600;
    Opened f(test::pcx_file(l, Bytes(8, 1)));
    ASSERT_GT(f.handle, 0);
    int32_t slots[2] = {-1, -1};
    EXPECT_EQ(IFFControl(f.handle, IFF_REQ_RESOLUTION, 3, 0, slots), IFF_OK);
    EXPECT_EQ(slots[0], 300);
    EXPECT_EQ(slots[1], 600);
    slots[0] = slots[1] = -1;
    EXPECT_EQ(IFFControl(f.handle, IFF_REQ_RESOLUTION, 2, 0, slots), IFF_OK);
    EXPECT_EQ(slots[0], 600); // the vertical value takes the first slot
    EXPECT_EQ(slots[1], -1);

    MemoryStream out;
    IFFImageInfo info{0, 4, 1, 1, 8, 0, 0};
    const int32_t w = IFFOpen(out.source(), IFF_MODE_WRITE | IFF_MODE_STREAMS, &info);
    ASSERT_GT(w, 0);
    int32_t set[2] = {0x10000 + 150, 0};
    EXPECT_EQ(IFFControl(w, IFF_REQ_RESOLUTION, 2, 0, set), IFF_OK); // vertical only, from the first slot
    const uint8_t pixels[4] = {1, 2, 3, 4};
    IFFPutLine(w, 1, pixels);
    EXPECT_EQ(IFFClose(w), IFF_OK);
    EXPECT_EQ(out.data[12] | out.data[13] << 8, 100);
    EXPECT_EQ(out.data[14] | out.data[15] << 8, 150);
}

} // namespace
