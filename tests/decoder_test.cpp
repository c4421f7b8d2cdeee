// Decoding lines through the read buffer: runs across line ends and read
// boundaries, the stream ending, seeking forward and back.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "iffpcx.h"
#include "support/cpu_levels.h"
#include "support/memory_stream.h"
#include "support/pcx_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using test::MemoryStream;

// A version-5 8-bit single-plane page whose scan lines are scan_bytes long,
// read with pixel format 0 so a line is delivered as its file bytes.
struct Page {
    MemoryStream stream;
    IFFImageInfo info{};
    int32_t handle = 0;

    Page(int32_t scan_bytes, const Bytes &coded, int32_t max_read = INT32_MAX, int height = 8)
        : stream(file(scan_bytes, coded, height)) {
        stream.max_read = max_read;
        handle = IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
        if (handle > 0) IFFControl(handle, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_PACKED, 0, nullptr);
    }
    ~Page() {
        if (handle > 0) IFFClose(handle);
    }
    static Bytes file(int32_t scan_bytes, const Bytes &coded, int height) {
        test::PcxLayout l;
        l.x_max = uint16_t(scan_bytes > 0 ? scan_bytes - 1 : 0);
        l.y_max = uint16_t(height - 1);
        l.bytes_per_line = uint16_t(scan_bytes);
        return test::pcx_file(l, coded);
    }
    Bytes line(int32_t size, int32_t *status = nullptr) {
        Bytes out(size_t(size), 0xEE);
        const int32_t result = IFFGetLine(handle, 1, out.data());
        if (status) *status = result;
        return out;
    }
};

struct DecodeCase {
    const char *name;
    int32_t scan_bytes;
    Bytes coded;
    std::vector<Bytes> lines;
};

TEST(Decoder, TurnsCodedBytesIntoLines) {
    const DecodeCase cases[] = {
        {"runs", 6, {0xC3, 0x07, 0xC3, 0x08}, {{7, 7, 7, 8, 8, 8}}},
        {"run across the line end", 4, {0xC6, 0x05, 0x01, 0x02}, {{5, 5, 5, 5}, {5, 5, 1, 2}}},
        {"zero-count pair produces nothing", 2, {0xC0, 0x33, 0x01, 0x02}, {{1, 2}}},
        {"a count byte's data may look like a count", 3, {0xC2, 0xC5, 0x01}, {{0xC5, 0xC5, 0x01}}},
        {"run of 63 spanning several lines", 5, {0xFF, 0x09, 0x01}, {{9, 9, 9, 9, 9}, {9, 9, 9, 9, 9}}},
        {"literals then a run", 5, {0x01, 0x02, 0x03, 0xC2, 0x04}, {{1, 2, 3, 4, 4}}},
        {"single byte behind 0xC1", 3, {0xC1, 0xFE, 0x10, 0x20}, {{0xFE, 0x10, 0x20}}},
    };
    for (const auto &c : cases) {
        // Also in one-byte reads, so every pair straddles a refill.
        for (int32_t max_read : {INT32_MAX, 1, 2, 3}) {
            Page page(c.scan_bytes, c.coded, max_read);
            ASSERT_GT(page.handle, 0) << c.name;
            for (size_t i = 0; i < c.lines.size(); ++i)
                EXPECT_EQ(page.line(c.scan_bytes), c.lines[i]) << c.name << " line " << i << " reads " << max_read;
        }
    }
}

TEST(Decoder, RunWhoseDataByteBeginsANewReadCarriesIntoTheNextLine) {
    // The library reads 262140 bytes at a time: place a count byte as the last
    // byte of the first read, so its data byte is the first of the second.
    const int32_t scan = 2;
    const size_t first_read = 262140;
    Bytes coded(first_read - 1, 0x03);
    coded.insert(coded.end(), {0xC3, 0x44, 0x55}); // run of 3 at the boundary, then a literal
    const size_t full_lines = (first_read - 1) / 2;
    Page page(scan, coded, INT32_MAX, int(full_lines + 3));
    ASSERT_GT(page.handle, 0);
    ASSERT_EQ(IFFSeek(page.handle, int32_t(full_lines)), IFF_OK);
    // (first_read - 1) is odd: the last line before the run holds 0x03 and one run byte.
    EXPECT_EQ(page.line(scan), (Bytes{0x03, 0x44}));
    EXPECT_EQ(page.line(scan), (Bytes{0x44, 0x44}));
    int32_t status = 0;
    page.line(scan, &status);
    EXPECT_EQ(status, IFF_ERR_LINE); // only 0x55 is left
    const std::vector<int32_t> &reads = page.stream.reads;
    ASSERT_GE(reads.size(), 3u);
    for (size_t i = reads.size() - 3; i < reads.size(); ++i) EXPECT_EQ(reads[i], 262140);
}

TEST(Decoder, StreamEndingMidLineFailsAndKeepsTheLineCount) {
    Page page(4, {0x01, 0x02, 0x03, 0x04, 0x05});
    ASSERT_GT(page.handle, 0);
    int32_t status = 0;
    page.line(4, &status);
    EXPECT_EQ(status, IFF_OK);
    page.line(4, &status);
    EXPECT_EQ(status, IFF_ERR_LINE);
    // Line 1 was not decoded: seeking to it decodes again from the start.
    EXPECT_EQ(IFFSeek(page.handle, 1), IFF_OK);
    EXPECT_EQ(IFFSeek(page.handle, 2), IFF_ERR_LINE);
    int32_t error = -1;
    EXPECT_EQ(IFFControl(page.handle, IFF_REQ_STATUS, 0, 0, &error), IFF_OK);
    EXPECT_EQ(error, 0); // a failed decode is reported by the return value alone
}

TEST(Decoder, CountedCallsDeliverLinesAStrideApart) {
    Page page(3, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09});
    ASSERT_GT(page.handle, 0);
    Bytes out(9, 0xEE);
    const size_t reads_at_open = page.stream.reads.size();
    EXPECT_EQ(IFFGetLine(page.handle, 0, nullptr), IFF_OK);
    EXPECT_EQ(page.stream.reads.size(), reads_at_open);
    EXPECT_EQ(IFFGetLine(page.handle, 3, out.data()), IFF_OK);
    EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(IFFGetLine(page.handle, 1, nullptr), IFF_ERR_REQUEST);
}

TEST(Seek, MovesForwardByDecodingAndBackByRewinding) {
    Bytes coded;
    for (uint8_t y = 0; y < 8; ++y) coded.insert(coded.end(), {uint8_t(0xC3), uint8_t(0x10 + y)});
    for (int32_t max_read : {INT32_MAX, 1}) {
        Page page(3, coded, max_read);
        ASSERT_GT(page.handle, 0);
        const Bytes first = page.line(3);
        page.line(3);
        page.line(3);
        EXPECT_EQ(IFFSeek(page.handle, 0), IFF_OK);
        EXPECT_EQ(page.line(3), first);
        EXPECT_EQ(IFFSeek(page.handle, 5), IFF_OK);
        EXPECT_EQ(page.line(3), Bytes(3, 0x15));
        const size_t reads = page.stream.reads.size();
        const int32_t seeks = page.stream.seeks;
        EXPECT_EQ(IFFSeek(page.handle, 6), IFF_OK); // the current line: nothing moves
        EXPECT_EQ(page.stream.seeks, seeks);
        EXPECT_EQ(page.stream.reads.size(), reads);
        EXPECT_EQ(IFFSeek(page.handle, 2), IFF_OK);
        EXPECT_EQ(page.line(3), Bytes(3, 0x12));
    }
}

TEST(Seek, RefusesWhatItCannotDo) {
    Page page(3, Bytes(64, 0x01));
    ASSERT_GT(page.handle, 0);
    EXPECT_EQ(IFFSeek(page.handle, -1), IFF_ERR_REQUEST);
    EXPECT_EQ(IFFSeek(page.handle, INT32_MIN), IFF_ERR_REQUEST);

    MemoryStream lines_only(Page::file(3, Bytes(64, 0x01), 8));
    IFFImageInfo info{};
    const int32_t h = IFFOpen(lines_only.source(), IFF_MODE_READ_LINES | IFF_MODE_STREAMS, &info);
    ASSERT_GT(h, 0);
    Bytes out(3);
    EXPECT_EQ(IFFGetLine(h, 1, out.data()), IFF_OK);
    EXPECT_EQ(IFFSeek(h, 0), IFF_ERR_HANDLE);
    EXPECT_EQ(IFFClose(h), IFF_OK);

    MemoryStream written;
    IFFImageInfo winfo{0, 4, 4, 1, 8, 0, 0};
    const int32_t w = IFFOpen(written.source(), IFF_MODE_WRITE | IFF_MODE_STREAMS, &winfo);
    ASSERT_GT(w, 0);
    EXPECT_EQ(IFFSeek(w, 0), IFF_ERR_HANDLE);
    EXPECT_EQ(IFFGetLine(w, 1, out.data()), IFF_ERR_REQUEST);
    EXPECT_EQ(IFFClose(w), IFF_OK);
}

TEST(Seek, FailedRewindIsReportedAndRecorded) {
    Page page(3, Bytes(64, 0x01));
    ASSERT_GT(page.handle, 0);
    page.line(3);
    page.stream.fail_seek_at = uint32_t(page.stream.seeks + 1), page.stream.failures_stay = true;
    EXPECT_EQ(IFFSeek(page.handle, 0), IFF_ERR_SEEK);
    int32_t error = 0;
    IFFControl(page.handle, IFF_REQ_STATUS, 0, 0, &error);
    EXPECT_EQ(error, IFF_ERR_SEEK);
}

TEST(Decoder, ReadsPastTheLastLineIntoThePaletteBlock) {
    test::PcxLayout l;
    l.x_max = 3;
    l.y_max = 0;
    l.bytes_per_line = 4;
    Bytes file = test::pcx_file(l, {0xC4, 0x07});
    test::append_tail_palette(file, Bytes(768, 0x01));
    MemoryStream stream(file);
    IFFImageInfo info{};
    const int32_t h = IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    ASSERT_GT(h, 0);
    Bytes out(4);
    ASSERT_EQ(IFFGetLine(h, 1, out.data()), IFF_OK);
    ASSERT_EQ(IFFGetLine(h, 1, out.data()), IFF_OK); // the marker 12 and palette bytes as data
    EXPECT_EQ(out, (Bytes{12, 1, 1, 1}));
    EXPECT_EQ(IFFSeek(h, 193), IFF_OK); // lines 1 to 192 hold 768 of the block's 769 bytes
    EXPECT_EQ(IFFSeek(h, 194), IFF_ERR_LINE);
    EXPECT_EQ(IFFClose(h), IFF_OK);
}

TEST(Decoder, PageWithoutLineBytesDeliversZerosWithoutReading) {
    Page page(0, {});
    ASSERT_GT(page.handle, 0);
    const size_t reads = page.stream.reads.size();
    Bytes out(4, 0xEE);
    EXPECT_EQ(IFFGetLine(page.handle, 1, out.data()), IFF_OK);
    EXPECT_EQ(page.stream.reads.size(), reads);
}

// Hostile coded data never makes the decoder or the conversions touch memory
// outside their buffers (the sanitizer build checks every access): every
// layout, with short line lengths, against random and run-heavy data.
TEST(Decoder, SurvivesArbitraryDataInEveryLayout) {
    uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return uint8_t(seed >> 16);
    };
    const uint8_t depths[][2] = {{1, 1}, {1, 2}, {1, 3}, {1, 4},  {1, 9},  {2, 1},  {4, 1}, {6, 1},
                                 {8, 1}, {8, 3}, {8, 4}, {12, 1}, {16, 1}, {32, 1}, {3, 1}, {24, 1}};
    for (const auto &d : depths) {
        for (uint16_t bytes_per_line : {uint16_t(0), uint16_t(1), uint16_t(3), uint16_t(40)}) {
            test::PcxLayout l;
            l.bits = d[0];
            l.planes = d[1];
            l.x_max = 20;
            l.y_max = 3;
            l.bytes_per_line = bytes_per_line;
            Bytes coded(300);
            for (auto &b : coded) b = next() | (next() & 0xC0);
            MemoryStream stream(test::pcx_file(l, coded));
            IFFImageInfo info{};
            const int32_t h = IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
            ASSERT_GT(h, 0);
            for (int32_t format : {0, 1, 2, 3, 4096, 4097, 4099, 7, -1}) {
                IFFControl(h, IFF_REQ_PIXEL_FORMAT, uint32_t(uint16_t(format)), 0, nullptr);
                uint16_t size = 0;
                IFFControl(h, IFF_REQ_LINE_SIZE, 0, 0, &size);
                Bytes out(size_t(size) + 4 * 21 * 4, 0);
                IFFSeek(h, 0);
                IFFGetLine(h, 2, out.data());
            }
            EXPECT_EQ(IFFClose(h), IFF_OK);
        }
    }
}

} // namespace

namespace {

// The coding rules byte by byte, a run's rest carried into the next line.
std::vector<Bytes> reference_lines(const Bytes &coded, size_t scan, size_t count) {
    std::vector<Bytes> lines;
    size_t at = 0, carry = 0;
    uint8_t carried = 0;
    for (size_t n = 0; n < count; ++n) {
        Bytes line;
        while (line.size() < scan) {
            if (carry) {
                line.push_back(carried);
                --carry;
            } else if (coded[at] >= 0xC0) {
                carry = coded[at] & 0x3F;
                carried = coded[at + 1];
                at += 2;
            } else {
                line.push_back(coded[at++]);
            }
        }
        lines.push_back(line);
    }
    return lines;
}

// Coded data in proportions of literals, single-byte pairs (C1 xx, data often
// 0xC0 or above), short and long runs and empty pairs (C0 xx).
// The data decode to at least `decoded` bytes.
Bytes random_coded(size_t decoded, int literal_weight, int single_weight, int run_weight, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes coded;
    const int total = literal_weight + single_weight + run_weight + 1;
    for (size_t produced = 0; produced < decoded;) {
        const int pick = int(rng() % uint32_t(total));
        if (pick < literal_weight) {
            coded.push_back(uint8_t(rng() % 0xC0));
            produced += 1;
        } else if (pick < literal_weight + single_weight) {
            coded.push_back(0xC1);
            coded.push_back(uint8_t(0xC0 + rng() % 0x40));
            produced += 1;
        } else if (pick < total - 1) {
            // Runs of two and three, which photos hold most, half the time.
            coded.push_back(uint8_t(rng() % 2 ? 0xC2 + rng() % 2 : 0xC2 + rng() % 62));
            coded.push_back(uint8_t(rng()));
            produced += coded[coded.size() - 2] & 0x3F;
        } else {
            coded.push_back(0xC0);
            coded.push_back(uint8_t(rng()));
        }
    }
    return coded;
}

} // namespace

class DecoderAtEachLevel : public test::AtEachCpuLevel {};
IFF_AT_EACH_CPU_LEVEL(DecoderAtEachLevel);

// Long lines of mixed data reach the decoder's wide loops; every line must
// match the coding rules whatever the read sizes split.
TEST_P(DecoderAtEachLevel, LongLinesOfMixedDataMatchTheCodingRules) {
    struct Mix {
        const char *name;
        int literals, singles, runs;
    };
    const Mix mixes[] = {{"photo", 6, 3, 1},
                         {"short pairs", 2, 3, 3},
                         {"singles only", 0, 1, 0},
                         {"runs only", 0, 0, 1},
                         {"literals", 1, 0, 0}};
    for (const Mix &mix : mixes) {
        for (int32_t scan : {17, 33, 100, 3001}) {
            const int lines = 40;
            Bytes coded = random_coded(size_t(scan) * lines, mix.literals, mix.singles, mix.runs,
                                       uint32_t(scan) * 7 + uint32_t(mix.literals));
            const std::vector<Bytes> expected = reference_lines(coded, size_t(scan), lines);
            for (int32_t max_read : {INT32_MAX, 37, 4099}) {
                Page page(scan, coded, max_read, lines);
                ASSERT_GT(page.handle, 0);
                for (int n = 0; n < lines; ++n)
                    ASSERT_EQ(page.line(scan), expected[size_t(n)])
                        << mix.name << ", lines of " << scan << ", reads of " << max_read << ", line " << n;
            }
        }
    }
}
