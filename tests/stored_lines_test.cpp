// Pages whose header encoding byte is 0 store their lines as they are; every
// other value is run-length coded. Both kinds read, fail and seek alike.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "iffpcx.h"
#include "support/memory_stream.h"
#include "support/pcx_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// An 8-bit single-plane page of lines `scan` bytes long, read packed.
Bytes page_file(uint8_t encoding, int32_t scan, int height, const Bytes &data) {
    test::PcxLayout l;
    l.encoding = encoding;
    l.x_max = uint16_t(scan - 1);
    l.y_max = uint16_t(height - 1);
    l.bytes_per_line = uint16_t(scan);
    return test::pcx_file(l, data);
}

struct Reader {
    test::MemoryStream stream;
    IFFImageInfo info{};
    int32_t handle = 0;
    explicit Reader(Bytes file, int32_t max_read = INT32_MAX) : stream(std::move(file)) {
        handle = IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
        stream.max_read = max_read;
        if (handle > 0) IFFControl(handle, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_PACKED, 0, nullptr);
    }
    ~Reader() {
        if (handle > 0) IFFClose(handle);
    }
    Bytes lines(uint32_t count, size_t size, int32_t expected_status = IFF_OK) {
        Bytes out(count * size, 0xEE);
        EXPECT_EQ(IFFGetLine(handle, count, out.data()), expected_status);
        return out;
    }
};

TEST(StoredLines, EncodingByteChoosesHowLinesAreRead) {
    struct Case {
        const char *name;
        uint8_t encoding;
        Bytes data;     // two lines of 3 bytes
        Bytes expected; // both lines
    };
    const Bytes raw = {0xC3, 0x07, 0xFF, 0xC0, 0x01, 0x02};
    const Case cases[] = {
        {"stored: count-like bytes are pixels", 0, raw, raw},
        {"coded", 1, {0xC3, 0x07, 0xC3, 0x08}, {7, 7, 7, 8, 8, 8}},
        {"a stray value is coded too", 2, {0xC6, 0x05}, {5, 5, 5, 5, 5, 5}},
        {"so is 0xFF", 0xFF, {0xC2, 0xC5, 0x01, 0xC3, 0x00}, {0xC5, 0xC5, 0x01, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        // In small reads too, so lines straddle refills.
        for (int32_t max_read : {INT32_MAX, 1, 2, 4}) {
            Reader r(page_file(c.encoding, 3, 2, c.data), max_read);
            ASSERT_GT(r.handle, 0) << c.name;
            EXPECT_EQ(r.lines(2, 3), c.expected) << c.name << ", reads of " << max_read;
        }
    }
}

TEST(StoredLines, ShortDataFailsTheLineAndSeekRereads) {
    const Bytes data = {1, 2, 3, 4, 5, 6, 7}; // two whole lines of 3, one byte of a third
    for (int32_t max_read : {INT32_MAX, 2}) {
        Reader r(page_file(0, 3, 3, data), max_read);
        ASSERT_GT(r.handle, 0);
        // Lines delivered before the failure stay delivered.
        const Bytes out = r.lines(3, 3, IFF_ERR_LINE);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), (Bytes{1, 2, 3, 4, 5, 6}));
        EXPECT_EQ(IFFSeek(r.handle, 3), IFF_ERR_LINE); // line 2 was never complete
        EXPECT_EQ(IFFSeek(r.handle, 1), IFF_OK);       // back by rewinding, forward by reading
        EXPECT_EQ(r.lines(1, 3), (Bytes{4, 5, 6}));
        EXPECT_EQ(IFFSeek(r.handle, 0), IFF_OK);
        EXPECT_EQ(r.lines(2, 3), (Bytes{1, 2, 3, 4, 5, 6}));
    }
}

} // namespace
