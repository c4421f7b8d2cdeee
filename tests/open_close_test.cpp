// Opening and closing: handle values, statuses, the description, the header
// written at open, allocation failures and the streams left behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "driver/handle_table.h"
#include "iffpcx.h"
#include "platform/heap.h"
#include "support/memory_stream.h"
#include "support/pcx_builder.h"

namespace {

using test::MemoryStream;
using test::PcxLayout;

constexpr uint32_t kReadStreams = IFF_MODE_READ | IFF_MODE_STREAMS;
constexpr uint32_t kWriteStreams = IFF_MODE_WRITE | IFF_MODE_STREAMS;

// An 8 x 2 image of 8-bit samples, version 5, with a 256-colour block.
std::vector<uint8_t> small_8bit_file() {
    PcxLayout l;
    l.x_max = 7;
    l.y_max = 1;
    l.bytes_per_line = 8;
    std::vector<uint8_t> file = test::pcx_file(l, {0xC8, 0x01, 0xC8, 0x02});
    test::append_tail_palette(file, std::vector<uint8_t>(768, 0x40));
    return file;
}

IFFImageInfo write_info(int32_t width, int32_t height, uint32_t color_class, int32_t bits, uint32_t kind = 0) {
    IFFImageInfo info{};
    info.width = width;
    info.height = height;
    info.color_class = color_class;
    info.bits = bits;
    info.kind = kind;
    return info;
}

TEST(Handles, BadValuesAreRefusedByEveryEntryPoint) {
    MemoryStream stream(small_8bit_file());
    IFFImageInfo info{};
    const int32_t live = IFFOpen(stream.source(), kReadStreams, &info);
    ASSERT_GT(live, 0);
    ASSERT_EQ(IFFClose(live), IFF_OK);
    const int32_t never_issued = 0x7FFF1234;
    for (int32_t value : {0, -5, INT32_MIN, live, never_issued}) {
        uint8_t buffer[64] = {};
        EXPECT_EQ(IFFClose(value), IFF_ERR_HANDLE) << value;
        EXPECT_EQ(IFFGetLine(value, 1, buffer), IFF_ERR_HANDLE) << value;
        EXPECT_EQ(IFFPutLine(value, 1, buffer), IFF_ERR_HANDLE) << value;
        EXPECT_EQ(IFFSeek(value, 0), IFF_ERR_HANDLE) << value;
        EXPECT_EQ(IFFControl(value, IFF_REQ_STATUS, 0, 0, buffer), IFF_ERR_HANDLE) << value;
    }
    // A later handle in the same slot does not answer to the closed value.
    const int32_t later = IFFOpen(stream.source(), kReadStreams, &info);
    ASSERT_GT(later, 0);
    EXPECT_NE(later, live);
    EXPECT_EQ(IFFClose(live), IFF_ERR_HANDLE);
    EXPECT_EQ(IFFClose(later), IFF_OK);
}

TEST(Handles, ManyHandlesOpenAtOnceAcrossThreads) {
    const std::vector<uint8_t> file = small_8bit_file();
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round) {
                MemoryStream stream(file);
                IFFImageInfo info{};
                const int32_t h = IFFOpen(stream.source(), kReadStreams, &info);
                uint8_t line[8];
                if (h <= 0 || IFFGetLine(h, 1, line) != IFF_OK || line[0] != 1 || IFFClose(h) != IFF_OK)
                    ++failures[size_t(t)];
            }
        });
    }
    for (auto &thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST(OpenForReading, DescribesThePage) {
    MemoryStream stream(small_8bit_file());
    IFFImageInfo info{};
    info.host_data = 0xDEADBEEF;
    info.reserved = 77;
    const int32_t h = IFFOpen(stream.source(), kReadStreams, &info);
    ASSERT_GT(h, 0);
    EXPECT_EQ(info.host_data, 0xDEADBEEFu);
    EXPECT_EQ(info.reserved, 0u);
    EXPECT_EQ(info.kind, 2u);
    EXPECT_EQ(info.width, 8);
    EXPECT_EQ(info.height, 2);
    EXPECT_EQ(info.bits, 8);
    EXPECT_EQ(info.color_class, 2u);
    EXPECT_EQ(stream.open_source, stream.source());
    EXPECT_EQ(stream.open_flags, 0x8000);
    EXPECT_EQ(stream.open_permission, 0x1B6);
    EXPECT_EQ(IFFClose(h), IFF_OK);
    EXPECT_EQ(stream.closes, 1);
}

struct DescribeCase {
    const char *name;
    uint8_t bits, planes;
    uint16_t palette_info;
    int32_t reported_bits;
    uint32_t color_class;
    int32_t stride_per_pixel;
};

TEST(OpenForReading, ClassBitsAndStrideFollowTheLayout) {
    const DescribeCase cases[] = {
        {"bilevel", 1, 1, 1, 1, 0, 1},          {"gray 1-bit is still bilevel", 1, 1, 2, 1, 0, 1},
        {"4 bit planes", 1, 4, 1, 4, 2, 1},     {"packed 2-bit gray", 2, 1, 2, 2, 1, 1},
        {"8-bit colour", 8, 1, 1, 8, 2, 1},     {"8-bit gray", 8, 1, 2, 8, 1, 1},
        {"24-bit", 8, 3, 1, 8, 3, 3},           {"12-bit gray", 12, 1, 2, 12, 1, 2},
        {"32-bit samples", 32, 1, 1, 32, 2, 4},
    };
    for (const auto &c : cases) {
        PcxLayout l;
        l.bits = c.bits;
        l.planes = c.planes;
        l.palette_info = c.palette_info;
        l.x_min = 10;
        l.x_max = 19;
        l.y_min = 5;
        l.y_max = 7;
        l.bytes_per_line = 40;
        // One line of zero runs per plane line, three lines: stride shows in the spacing.
        std::vector<uint8_t> coded;
        for (int i = 0; i < 3 * c.planes; ++i) coded.insert(coded.end(), {0xE8, 0x00, 0xC0 | 16, 0x00});
        MemoryStream stream(test::pcx_file(l, coded));
        IFFImageInfo info{};
        const int32_t h = IFFOpen(stream.source(), kReadStreams, &info);
        ASSERT_GT(h, 0) << c.name;
        EXPECT_EQ(info.width, 10) << c.name;
        EXPECT_EQ(info.height, 3) << c.name;
        EXPECT_EQ(info.bits, c.reported_bits) << c.name;
        EXPECT_EQ(info.color_class, c.color_class) << c.name;
        // Two lines land stride bytes apart: the second line's first byte shows where.
        std::vector<uint8_t> lines(2 * 10 * 4 + 8, 0xAA);
        ASSERT_EQ(IFFGetLine(h, 2, lines.data()), IFF_OK) << c.name;
        const size_t stride = size_t(10 * c.stride_per_pixel);
        EXPECT_EQ(lines[stride], 0) << c.name; // the second line starts a stride on
        uint32_t answered = 0;
        ASSERT_EQ(IFFControl(h, IFF_REQ_LINE_STRIDE, 0, 0, &answered), IFF_OK);
        EXPECT_EQ(answered, stride) << c.name;
        for (int32_t format : {0, 1, 2, 3, 4096}) { // a line never takes more than the stride
            uint16_t size = 0;
            ASSERT_EQ(IFFControl(h, IFF_REQ_PIXEL_FORMAT, uint32_t(format), 0, nullptr), IFF_OK);
            ASSERT_EQ(IFFControl(h, IFF_REQ_LINE_SIZE, 0, 0, &size), IFF_OK);
            EXPECT_LE(size, stride) << c.name << ", layout " << format;
        }
        EXPECT_EQ(IFFClose(h), IFF_OK);
    }
}

struct RefusedHeader {
    const char *name;
    void (*damage)(std::vector<uint8_t> &file);
    int32_t status;
};

TEST(OpenForReading, RefusesForeignAndUnsafeHeaders) {
    const RefusedHeader cases[] = {
        {"manufacturer not 10", [](std::vector<uint8_t> &f) { f[0] = 11; }, -IFF_ERR_FORMAT},
        {"version 1", [](std::vector<uint8_t> &f) { f[1] = 1; }, -IFF_ERR_FORMAT},
        {"version 6", [](std::vector<uint8_t> &f) { f[1] = 6; }, -IFF_ERR_FORMAT},
        {"version 0x85", [](std::vector<uint8_t> &f) { f[1] = 0x85; }, -IFF_ERR_FORMAT},
        {"zero planes", [](std::vector<uint8_t> &f) { f[65] = 0; }, -IFF_ERR_FORMAT},
        {"128 planes", [](std::vector<uint8_t> &f) { f[65] = 128; }, -IFF_ERR_FORMAT},
        {"zero bits", [](std::vector<uint8_t> &f) { f[3] = 0; }, -IFF_ERR_FORMAT},
        {"negative bits", [](std::vector<uint8_t> &f) { f[3] = 0x90; }, -IFF_ERR_FORMAT},
        {"window max below min", [](std::vector<uint8_t> &f) { f[4] = 9; }, -IFF_ERR_FORMAT},
        {"height zero", [](std::vector<uint8_t> &f) { f[6] = 2; }, -IFF_ERR_FORMAT},
        {"shorter than a header", [](std::vector<uint8_t> &f) { f.resize(127); }, -IFF_ERR_READ},
        {"shorter than a signature", [](std::vector<uint8_t> &f) { f.resize(3); }, -IFF_ERR_READ},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> file = small_8bit_file();
        c.damage(file);
        MemoryStream stream(file);
        IFFImageInfo info{};
        EXPECT_EQ(IFFOpen(stream.source(), kReadStreams, &info), c.status) << c.name;
        EXPECT_EQ(stream.opens, stream.closes) << c.name;
    }
}

TEST(OpenForReading, AcceptsUnusualButSafeHeaders) {
    struct Case {
        const char *name;
        uint8_t version, bits, planes;
        uint16_t bytes_per_line;
    } cases[] = {
        {"version 2", 2, 8, 1, 8},
        {"version 3", 3, 8, 1, 8},
        {"version 4", 4, 8, 1, 8},
        {"odd line length", 5, 8, 1, 9},
        {"line shorter than the pixels", 5, 8, 1, 3},
        {"no line at all", 5, 8, 1, 0},
        {"unknown depth 5", 5, 5, 1, 8},
        {"127 planes", 5, 1, 127, 2},
    };
    for (const auto &c : cases) {
        PcxLayout l;
        l.version = c.version;
        l.bits = c.bits;
        l.planes = c.planes;
        l.x_max = 7;
        l.y_max = 1;
        l.bytes_per_line = c.bytes_per_line;
        MemoryStream stream(test::pcx_file(l, std::vector<uint8_t>(2000, 0x11)));
        IFFImageInfo info{};
        const int32_t h = IFFOpen(stream.source(), kReadStreams, &info);
        ASSERT_GT(h, 0) << c.name;
        std::vector<uint8_t> lines(2 * 8 * 16, 0);
        EXPECT_EQ(IFFGetLine(h, 2, lines.data()), IFF_OK) << c.name;
        EXPECT_EQ(IFFClose(h), IFF_OK) << c.name;
    }
}

TEST(OpenForReading, MissingFileAndFailedOpen) {
    IFFImageInfo info{};
    EXPECT_EQ(IFFOpen("/nonexistent/dir/file.pcx", IFF_MODE_READ, &info), -IFF_ERR_OPEN);
    MemoryStream stream(small_8bit_file());
    stream.fail_open = true;
    EXPECT_EQ(IFFOpen(stream.source(), kReadStreams, &info), -IFF_ERR_OPEN);
    EXPECT_EQ(IFFOpen(nullptr, kReadStreams, &info), -IFF_ERR_REQUEST);
    EXPECT_EQ(IFFOpen(stream.source(), kReadStreams, nullptr), -IFF_ERR_REQUEST);
}

TEST(OpenModes, TwoAndAboveThreeAreRefusedAndLeaveNothingOpen) {
    struct Case {
        uint32_t mode;
        IFFImageInfo info;
        int32_t status;
    } cases[] = {
        {2, write_info(8, 8, 2, 8), -IFF_ERR_UNSUPPORTED},
        {2, write_info(8, 8, 4, 8), -IFF_ERR_HANDLE}, // the description's own status first
        {4, write_info(8, 8, 2, 8), -IFF_ERR_UNSUPPORTED},
        {0x7FFF, write_info(8, 8, 2, 8), -IFF_ERR_UNSUPPORTED},
    };
    for (auto &c : cases) {
        MemoryStream stream(small_8bit_file());
        EXPECT_EQ(IFFOpen(stream.source(), c.mode | IFF_MODE_STREAMS, &c.info), c.status) << c.mode;
        EXPECT_EQ(stream.opens, 0) << c.mode;
        EXPECT_EQ(c.info.reserved, 0u);
    }
}

TEST(OpenForWriting, RefusesDescriptionsItCannotWrite) {
    struct Case {
        const char *name;
        IFFImageInfo info;
        int32_t status;
    } cases[] = {
        {"bits 5", write_info(8, 8, 2, 5), -IFF_ERR_UNSUPPORTED},
        {"bits 7", write_info(8, 8, 2, 7), -IFF_ERR_UNSUPPORTED},
        {"bits 24", write_info(8, 8, 3, 24), -IFF_ERR_UNSUPPORTED},
        {"colour class 4", write_info(8, 8, 4, 8), -IFF_ERR_HANDLE},
        {"kind 3", write_info(8, 8, 2, 8, 3), -IFF_ERR_UNSUPPORTED},
        {"kind 8", write_info(8, 8, 2, 8, 8), -IFF_ERR_UNSUPPORTED},
        {"kind 9", write_info(8, 8, 2, 8, 9), -IFF_ERR_HANDLE},
        {"width 0", write_info(0, 8, 2, 8), -IFF_ERR_HANDLE},
        {"height -1", write_info(8, -1, 2, 8), -IFF_ERR_HANDLE},
        {"width 65537", write_info(65537, 8, 2, 8), -IFF_ERR_UNSUPPORTED},
        {"height 70000", write_info(8, 70000, 2, 8), -IFF_ERR_UNSUPPORTED},
    };
    for (auto &c : cases) {
        MemoryStream stream;
        EXPECT_EQ(IFFOpen(stream.source(), kWriteStreams, &c.info), c.status) << c.name;
        EXPECT_EQ(stream.opens, stream.closes) << c.name;
    }
}

TEST(OpenForWriting, WritesTheLayoutHeaderAtOpen) {
    struct Case {
        const char *name;
        IFFImageInfo info;
        uint8_t version, bits_per_pixel, planes;
        uint16_t bytes_per_line, palette_info;
    } cases[] = {
        {"1-bit, 13 wide", write_info(13, 4, 0, 1), 2, 1, 1, 2, 1},
        {"1-bit gray", write_info(13, 4, 1, 1), 2, 1, 1, 2, 2},
        {"2-bit", write_info(13, 4, 2, 2), 2, 2, 1, 4, 1},
        {"3 planes", write_info(17, 4, 2, 3), 5, 1, 3, 4, 1},
        {"4 planes", write_info(16, 4, 3, 4), 5, 1, 4, 2, 1},
        {"8-bit gray, 101 wide", write_info(101, 4, 1, 8), 5, 8, 1, 102, 2},
        {"8-bit palette", write_info(100, 4, 2, 8), 5, 8, 1, 100, 1},
        {"24-bit", write_info(7, 4, 3, 8), 5, 8, 3, 8, 1},
        {"widest", write_info(65536, 1, 0, 1), 2, 1, 1, 8192, 1},
    };
    for (auto &c : cases) {
        MemoryStream stream;
        const int32_t h = IFFOpen(stream.source(), kWriteStreams, &c.info);
        ASSERT_GT(h, 0) << c.name;
        EXPECT_EQ(stream.open_flags, 0x8302) << c.name;
        EXPECT_EQ(stream.open_permission, 0x1B6) << c.name;
        ASSERT_EQ(stream.data.size(), 128u) << c.name;
        const std::vector<uint8_t> &hd = stream.data;
        EXPECT_EQ(hd[0], 10);
        EXPECT_EQ(hd[1], c.version) << c.name;
        EXPECT_EQ(hd[2], 1);
        EXPECT_EQ(hd[3], c.bits_per_pixel) << c.name;
        EXPECT_EQ(hd[8] | hd[9] << 8, (c.info.width - 1) & 0xFFFF) << c.name;
        EXPECT_EQ(hd[10] | hd[11] << 8, c.info.height - 1) << c.name;
        EXPECT_EQ(hd[12] | hd[13] << 8, 100);
        EXPECT_EQ(hd[14] | hd[15] << 8, 100);
        EXPECT_EQ(hd[65], c.planes) << c.name;
        EXPECT_EQ(hd[66] | hd[67] << 8, c.bytes_per_line) << c.name;
        EXPECT_EQ(hd[68] | hd[69] << 8, c.palette_info) << c.name;
        uint8_t nonzero = 0;
        for (size_t i = 16; i < 64; ++i) nonzero |= hd[i];
        for (size_t i = 70; i < 128; ++i) nonzero |= hd[i];
        EXPECT_EQ(nonzero, 0) << c.name;
        EXPECT_EQ(IFFControl(h, IFF_REQ_PALETTE, 0, 0, std::vector<uint8_t>(768, 0x77).data()), IFF_OK);
        EXPECT_EQ(IFFClose(h), IFF_OK) << c.name;
    }
}

// Every allocation of an open, made to fail in turn, fails the open with 5
// (or, for the palette, opens without one) and leaves nothing behind.
TEST(OpenUnderMemoryFailure, EveryAllocationFailsCleanly) {
    const std::vector<std::vector<uint8_t>> files = {small_8bit_file()};
    for (uint32_t mode : {kReadStreams, kWriteStreams}) {
        bool opened_clean = false;
        for (uint64_t n = 1; n < 20 && !opened_clean; ++n) {
            MemoryStream stream(files[0]);
            IFFImageInfo info = write_info(8, 2, 1, 8); // gray: closes without a host palette
            iff::heap_fail_after(n);
            const int32_t h = IFFOpen(stream.source(), mode, &info);
            const uint64_t made = iff::heap_fail_after(0);
            if (h > 0) {
                opened_clean = made < n; // no allocation failed
                EXPECT_EQ(IFFClose(h), IFF_OK);
            } else {
                EXPECT_EQ(h, -IFF_ERR_MEMORY) << "allocation " << n;
            }
            EXPECT_EQ(stream.opens, stream.closes) << "allocation " << n;
        }
        EXPECT_TRUE(opened_clean) << mode;
    }
}

// A write open that fails for want of a handle or of memory has not yet
// opened the stream: an existing file keeps its bytes.
TEST(OpenForWriting, CreatesNothingUntilHandleAndMemoryAreHad) {
    const std::string path = ::testing::TempDir() + "iffpcx_kept.pcx";
    const std::vector<uint8_t> kept = small_8bit_file();
    const auto file_is_kept = [&] { return test::read_file(path) == kept; };
    struct Case {
        const char *name;
        bool table_full;
        uint64_t failing_allocation; // 0: none
    } cases[] = {
        {"handle table full", true, 0}, {"first allocation", false, 1},  {"second allocation", false, 2},
        {"third allocation", false, 3}, {"fourth allocation", false, 4},
    };
    for (const auto &c : cases) {
        FILE *f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(kept.data(), 1, kept.size(), f), kept.size());
        std::fclose(f);
        MemoryStream other(kept);
        IFFImageInfo other_info{};
        const int32_t holder = IFFOpen(other.source(), kReadStreams, &other_info);
        ASSERT_GT(holder, 0);
        if (c.table_full) iff::limit_handles(1); // the holder takes the only slot
        IFFImageInfo info = write_info(8, 2, 1, 8);
        iff::heap_fail_after(c.failing_allocation);
        const int32_t h = IFFOpen(path.c_str(), IFF_MODE_WRITE, &info);
        const uint64_t made = iff::heap_fail_after(0);
        iff::limit_handles(0);
        if (h > 0) { // fewer allocations than this case fails
            EXPECT_LT(made, c.failing_allocation) << c.name;
            EXPECT_EQ(IFFClose(h), IFF_OK);
        } else {
            EXPECT_EQ(h, -IFF_ERR_MEMORY) << c.name;
            EXPECT_TRUE(file_is_kept()) << c.name;
        }
        EXPECT_EQ(IFFClose(holder), IFF_OK);
    }
    std::remove(path.c_str());
}

TEST(Close, ReportsTheStreamsFailures) {
    struct Case {
        const char *name;
        uint32_t mode;
        void (*knob)(MemoryStream &);
        int32_t status;
    } cases[] = {
        {"close callback fails", kReadStreams, [](MemoryStream &s) { s.close_result = 1; }, IFF_ERR_CLOSE},
        {"close fails after a failed seek", kWriteStreams,
         [](MemoryStream &s) {
             s.close_result = -1;
             s.fail_seek_at = 1, s.failures_stay = true;
         },
         IFF_ERR_CLOSE},
        {"seek to the header fails", kWriteStreams, [](MemoryStream &s) { s.fail_seek_at = 1, s.failures_stay = true; },
         IFF_ERR_SEEK},
        {"header rewrite falls short", kWriteStreams, [](MemoryStream &s) { s.write_budget = 100; }, IFF_ERR_WRITE},
    };
    for (const auto &c : cases) {
        MemoryStream stream(small_8bit_file());
        IFFImageInfo info = write_info(8, 2, 0, 1);
        const int32_t h = IFFOpen(stream.source(), c.mode, &info);
        ASSERT_GT(h, 0) << c.name;
        stream.seeks = 0;
        c.knob(stream);
        EXPECT_EQ(IFFClose(h), c.status) << c.name;
        EXPECT_EQ(IFFClose(h), IFF_ERR_HANDLE) << c.name; // released all the same
        EXPECT_EQ(stream.closes, 1) << c.name;
    }
}

TEST(DefaultStreams, CreateWriteAndReadANamedFile) {
    const std::string path = ::testing::TempDir() + "/iffpcx_default_stream.pcx";
    IFFImageInfo info = write_info(5, 2, 1, 8);
    const int32_t w = IFFOpen(path.c_str(), IFF_MODE_WRITE, &info);
    ASSERT_GT(w, 0);
    const uint8_t pixels[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(IFFPutLine(w, 2, pixels), IFF_OK);
    EXPECT_EQ(IFFClose(w), IFF_OK);

    IFFImageInfo read_info{};
    const int32_t r = IFFOpen(path.c_str(), IFF_MODE_READ, &read_info);
    ASSERT_GT(r, 0);
    EXPECT_EQ(read_info.color_class, 1u);
    uint8_t lines[10] = {};
    EXPECT_EQ(IFFGetLine(r, 2, lines), IFF_OK);
    EXPECT_EQ(std::vector<uint8_t>(lines, lines + 10), std::vector<uint8_t>(pixels, pixels + 10));
    EXPECT_EQ(IFFClose(r), IFF_OK);
    std::remove(path.c_str());
}

} // namespace
