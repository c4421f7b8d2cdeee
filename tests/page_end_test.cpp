// A page's lines end where its image data end: at the next page of a
// multi-page file, at the end of the stream, or at the 256-colour block its
// palette came from. A line that needs bytes beyond fails, whichever way the
// host reads; the lines before it are delivered, and reading on past the
// page's last line still goes on into what follows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cpu_features.h"
#include "iffpcx.h"
#include "support/memory_stream.h"
#include "support/pcx_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kWidth = 27; // lines of literals: 27 coded bytes a line
constexpr int kHeight = 20;

// Line y of the page made from `seed`: bytes below 0xC0, so coded and stored
// lines are the same bytes.
Bytes page_line(uint8_t seed, int y) {
    Bytes line(kWidth);
    for (int x = 0; x < kWidth; ++x) line[size_t(x)] = uint8_t((seed * 31 + 3 * y + x) % 0xC0);
    return line;
}

// An 8-bit page of kHeight lines, its data cut to `data_bytes` (-1: whole).
Bytes page(uint8_t seed, uint8_t encoding = 1, int data_bytes = -1) {
    test::PcxLayout l;
    l.encoding = encoding;
    l.x_max = kWidth - 1;
    l.y_max = kHeight - 1;
    l.bytes_per_line = kWidth;
    Bytes data;
    for (int y = 0; y < kHeight; ++y) {
        const Bytes line = page_line(seed, y);
        data.insert(data.end(), line.begin(), line.end());
    }
    if (data_bytes >= 0) data.resize(size_t(data_bytes));
    return test::pcx_file(l, data);
}

Bytes with_palette(Bytes file) {
    test::append_tail_palette(file, Bytes(768, 0x11));
    return file;
}

// Two pages, the directory listing the one that lies second first.
Bytes dcx_listed_backwards(const Bytes &first, const Bytes &second) {
    Bytes file = test::dcx_file({first, second});
    const uint32_t at_first = 16, at_second = uint32_t(16 + first.size());
    for (int i = 0; i < 4; ++i) {
        file[size_t(4 + i)] = uint8_t(at_second >> (8 * i));
        file[size_t(8 + i)] = uint8_t(at_first >> (8 * i));
    }
    return file;
}

struct Case {
    const char *name;
    Bytes file;
    int page;
    uint8_t seed;         // the page's lines
    int32_t failing_line; // -1: every line reads
};

std::vector<Case> cases() {
    // 400 bytes of a page leave 272 bytes of data: ten lines and two bytes.
    return {
        {"DCX page cut to 400 bytes ahead of a good page", test::dcx_file({page(1, 1, 272), page(2)}), 0, 1, 10},
        {"stored page cut short ahead of a good page", test::dcx_file({page(1, 0, 272), page(2, 0)}), 0, 1, 10},
        {"middle page cut short", test::dcx_file({page(1), page(2, 1, 272), page(3)}), 1, 2, 10},
        {"8-bit file with 40 image bytes removed before its palette", with_palette(page(4, 1, 540 - 40)), 0, 4, 18},
        {"DCX page with a palette, cut short", test::dcx_file({with_palette(page(5, 1, 500)), page(6)}), 0, 5, 18},
        {"whole page ahead of another", test::dcx_file({page(1), page(2)}), 0, 1, -1},
        {"whole page with its palette", with_palette(page(4)), 0, 4, -1},
        {"page listed ahead of one that lies before it reads to the end", dcx_listed_backwards(page(7), page(8)), 0, 8,
         -1},
    };
}

// Reads the page's lines `per_call` at a time: each call delivers its lines
// up to the failing one, which fails the call.
void expect_lines(const Case &c, int32_t h, uint32_t per_call, const std::string &where) {
    const int32_t stop = c.failing_line >= 0 ? c.failing_line : kHeight;
    for (int32_t y = 0; y < kHeight; y += int32_t(per_call)) {
        const uint32_t count = std::min(per_call, uint32_t(kHeight - y));
        Bytes out(count * kWidth, 0xEE);
        const int32_t status = IFFGetLine(h, count, out.data());
        const bool fails_here = c.failing_line >= y && c.failing_line < y + int32_t(count);
        EXPECT_EQ(status, fails_here ? IFF_ERR_LINE : IFF_OK) << where << ", call at line " << y;
        for (int32_t k = 0; k < int32_t(count) && y + k < stop; ++k) {
            const Bytes line(out.begin() + k * kWidth, out.begin() + (k + 1) * kWidth);
            EXPECT_EQ(line, page_line(c.seed, y + k)) << where << ", line " << y + k;
        }
        if (status != IFF_OK) return;
    }
}

enum class Path { kOneLine, kThreeLines, kSeek, kRewind, kReselect };
const char *const kPathNames[] = {"one line a call", "three lines a call", "seek", "after a rewind",
                                  "after page selection"};

void read_page(const Case &c, Path path, int32_t max_read, const std::string &where) {
    test::MemoryStream stream(c.file);
    stream.max_read = max_read;
    IFFImageInfo info{};
    const int32_t h = IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    ASSERT_GT(h, 0) << where;
    ASSERT_EQ(IFFControl(h, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_PACKED, 0, nullptr), IFF_OK);
    if (path == Path::kReselect) {
        ASSERT_EQ(IFFControl(h, IFF_REQ_SELECT_PAGE, 0, c.page == 0 ? 1 : 0, nullptr), IFF_OK) << where;
    }
    if (c.page != 0 || path == Path::kReselect) {
        ASSERT_EQ(IFFControl(h, IFF_REQ_SELECT_PAGE, 0, c.page, nullptr), IFF_OK) << where;
    }
    switch (path) {
    case Path::kOneLine:
    case Path::kReselect: expect_lines(c, h, 1, where); break;
    case Path::kThreeLines: expect_lines(c, h, 3, where); break;
    case Path::kSeek:
        // Forward a line at a time: the first target behind the failing line fails.
        for (int32_t target = 1; target <= kHeight; ++target) {
            const bool beyond = c.failing_line >= 0 && target > c.failing_line;
            ASSERT_EQ(IFFSeek(h, target), beyond ? IFF_ERR_LINE : IFF_OK) << where << ", target " << target;
            if (beyond) break;
        }
        ASSERT_EQ(IFFSeek(h, 0), IFF_OK);
        expect_lines(c, h, 1, where + ", from line 0 again");
        break;
    case Path::kRewind:
        // Read to the end or the failure, and once more after going back.
        expect_lines(c, h, 4, where);
        ASSERT_EQ(IFFSeek(h, 0), IFF_OK);
        expect_lines(c, h, 1, where + ", again");
        break;
    }
    EXPECT_EQ(IFFClose(h), IFF_OK);
}

TEST(PageEnd, LinesNeedingBytesBeyondThePageFailInEveryReadPath) {
    for (const Case &c : cases()) {
        for (int level = 0; level < iff::kCpuLevels; ++level) {
            iff::cap_cpu_level(iff::CpuLevel(level));
            for (int path = 0; path < 5; ++path) {
                for (int32_t max_read : {INT32_MAX, 7}) {
                    const std::string where = std::string(c.name) + ", " + kPathNames[path] + ", level " +
                                              iff::cpu_level_name(iff::cpu_level()) + ", reads of " +
                                              std::to_string(max_read);
                    read_page(c, Path(path), max_read, where);
                }
            }
        }
        iff::cap_cpu_level(iff::CpuLevel::avx512);
    }
}

// Past its last line a page still decodes what follows it: here the next
// page's header, whose bytes are all literals.
TEST(PageEnd, ReadingOnPastTheLastLineDecodesWhatFollows) {
    const Bytes second = page(2);
    test::MemoryStream stream(test::dcx_file({page(1), second}));
    IFFImageInfo info{};
    const int32_t h = IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    ASSERT_GT(h, 0);
    ASSERT_EQ(IFFControl(h, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_PACKED, 0, nullptr), IFF_OK);
    ASSERT_EQ(IFFSeek(h, kHeight), IFF_OK);
    Bytes line(kWidth);
    ASSERT_EQ(IFFGetLine(h, 1, line.data()), IFF_OK);
    EXPECT_EQ(line, Bytes(second.begin(), second.begin() + kWidth));
    EXPECT_EQ(IFFClose(h), IFF_OK);
}

} // namespace
