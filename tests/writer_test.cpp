// Writing through the entry points: the run-length coder byte for byte, every
// coded line decoding back to itself, the sticky write failure, the palette
// stored at close, the open checks, and images that read back as written.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "iffpcx.h"
#include "pcx/rle_encoder.h"
#include "support/cpu_levels.h"
#include "support/memory_stream.h"
#include "support/pcx_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kHeader = 128;
constexpr size_t kColourMap = 16;

IFFImageInfo description(int32_t width, int32_t height, uint32_t color_class, int32_t bits) {
    IFFImageInfo info{};
    info.width = width;
    info.height = height;
    info.color_class = color_class;
    info.bits = bits;
    return info;
}

uint32_t le16(const Bytes &data, size_t at) {
    return uint32_t(data[at]) | uint32_t(data[at + 1]) << 8;
}

// A write handle over a stream in memory.
struct Written {
    test::MemoryStream stream;
    IFFImageInfo info;
    int32_t handle;

    explicit Written(const IFFImageInfo &described)
        : info(described), handle(IFFOpen(stream.source(), IFF_MODE_WRITE | IFF_MODE_STREAMS, &info)) {}

    int32_t set_format(int32_t format) {
        return IFFControl(handle, IFF_REQ_PIXEL_FORMAT, uint32_t(uint16_t(format)), 0, nullptr);
    }
    int32_t set_palette(Bytes palette) { return IFFControl(handle, IFF_REQ_PALETTE, 0, 0, palette.data()); }
    Bytes coded() const { return Bytes(stream.data.begin() + long(kHeader), stream.data.end()); }
    Bytes colour_map() const {
        return Bytes(stream.data.begin() + long(kColourMap), stream.data.begin() + long(kColourMap + 48));
    }
};

// Splits coded data into lines of scan_bytes bytes from `at` on, refusing
// what the writer must never produce: a count of 0, a count of 1 in front of
// a byte below 0xC0, and a run that reaches past the end of its line.
::testing::AssertionResult decode_line_strictly(const Bytes &coded, size_t &at, size_t scan_bytes, Bytes &line) {
    line.clear();
    while (line.size() < scan_bytes) {
        if (at >= coded.size()) return ::testing::AssertionFailure() << "data ends inside a line";
        const uint8_t b = coded[at++];
        if ((b & 0xC0) != 0xC0) {
            line.push_back(b);
            continue;
        }
        if (at >= coded.size()) return ::testing::AssertionFailure() << "count byte without its value";
        const size_t count = b & 0x3F;
        const uint8_t value = coded[at++];
        if (count == 0) return ::testing::AssertionFailure() << "count 0 at " << at - 2;
        if (count == 1 && value < 0xC0) return ::testing::AssertionFailure() << "needless count 1 at " << at - 2;
        if (line.size() + count > scan_bytes) return ::testing::AssertionFailure() << "run crosses the line end";
        line.insert(line.end(), count, value);
    }
    return ::testing::AssertionSuccess();
}

// ---- The coder ------------------------------------------------------------

struct CodingCase {
    const char *name;
    Bytes line;
    Bytes coded;
    Bytes written; // what an 8-bit gray line of that width writes (lines are padded to even)
};
void PrintTo(const CodingCase &c, std::ostream *os) {
    *os << c.name;
}

Bytes repeat(size_t n, uint8_t v) {
    return Bytes(n, v);
}

const CodingCase kCodingCases[] = {
    {"Run", {5, 5, 5, 5}, {0xC4, 5}, {0xC4, 5}},
    {"Literals", {1, 2, 3}, {1, 2, 3}, {1, 2, 3, 0}},
    {"SingleHighByte", {0xC5}, {0xC1, 0xC5}, {0xC1, 0xC5, 0}},
    {"SingleZero", {0}, {0}, {0xC2, 0}},
    {"RunOfCountMarks", {0xC0, 0xC0}, {0xC2, 0xC0}, {0xC2, 0xC0}},
    {"LastByteAlone", {5, 0}, {5, 0}, {5, 0}},
    {"HighByteBetweenLiterals", {9, 0xD0, 9}, {9, 0xC1, 0xD0, 9}, {9, 0xC1, 0xD0, 9, 0}},
    {"HighRunThenLiteral", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1}, {0xC5, 0xFF, 1}, {0xC5, 0xFF, 1}},
    {"SixtyFour", repeat(64, 1), {0xFF, 1, 1}, {0xFF, 1, 1}},
    {"HundredThirty", repeat(130, 1), {0xFF, 1, 0xFF, 1, 0xC4, 1}, {0xFF, 1, 0xFF, 1, 0xC4, 1}},
    {"SixtyThreeThenPad", repeat(63, 7), {0xFF, 7}, {0xFF, 7, 0}},
};

class CodingExample : public ::testing::TestWithParam<CodingCase> {};

TEST_P(CodingExample, CodesTheLineByteForByte) {
    const CodingCase &c = GetParam();
    Bytes out(2 * c.line.size() + iff::kEncodeSlack, 0xEE);
    const int32_t size = iff::encode_runs(c.line.data(), int32_t(c.line.size()), out.data());
    out.resize(size_t(size));
    EXPECT_EQ(out, c.coded);
}

TEST_P(CodingExample, WritesTheLineThroughTheEntryPoints) {
    const CodingCase &c = GetParam();
    Written w(description(int32_t(c.line.size()), 1, 1, 8));
    ASSERT_GT(w.handle, 0);
    ASSERT_EQ(w.set_format(IFF_PIXELS_INDEX), IFF_OK);
    ASSERT_EQ(IFFPutLine(w.handle, 1, c.line.data()), IFF_OK);
    ASSERT_EQ(w.stream.writes.size(), 2u) << "one write for the header, one for the line";
    EXPECT_EQ(w.coded(), c.written);
    EXPECT_EQ(IFFClose(w.handle), IFF_OK);
}

INSTANTIATE_TEST_SUITE_P(Lines, CodingExample, ::testing::ValuesIn(kCodingCases),
                         [](const ::testing::TestParamInfo<CodingCase> &p) { return std::string(p.param.name); });

TEST(Coding, RunsCrossPlanesButNotLines) {
    // Two RGB pixels whose planes are 07 07, 07 08 and 08 08: the runs go on
    // from one plane into the next; the second line starts afresh.
    Written w(description(2, 2, 3, 8));
    ASSERT_GT(w.handle, 0);
    const uint8_t pixels[12] = {7, 7, 8, 7, 8, 8, 7, 7, 8, 7, 8, 8};
    ASSERT_EQ(IFFPutLine(w.handle, 2, pixels), IFF_OK);
    EXPECT_EQ(w.coded(), (Bytes{0xC3, 7, 0xC3, 8, 0xC3, 7, 0xC3, 8}));
    EXPECT_EQ(IFFClose(w.handle), IFF_OK);
}

// Lines with runs of every length around the count limit and values on both
// sides of 0xC0.
Bytes random_line(std::mt19937 &rng, size_t size) {
    static const uint8_t kAwkward[] = {0x00, 0x3F, 0xBF, 0xC0, 0xC1, 0xFE, 0xFF};
    static const size_t kLengths[] = {1, 1, 1, 2, 3, 62, 63, 64, 65, 126, 127, 128, 200};
    Bytes line;
    while (line.size() < size) {
        const uint8_t value = rng() % 2 ? kAwkward[rng() % sizeof kAwkward] : uint8_t(rng());
        const size_t length = kLengths[rng() % (sizeof kLengths / sizeof kLengths[0])];
        line.insert(line.end(), std::min(length, size - line.size()), value);
    }
    return line;
}

class CodingAtEachLevel : public test::AtEachCpuLevel {};
IFF_AT_EACH_CPU_LEVEL(CodingAtEachLevel);

TEST_P(CodingAtEachLevel, EveryCodedBufferDecodesBackToItself) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 2000; ++round) {
        const Bytes line = random_line(rng, rng() % 300);
        Bytes coded(2 * line.size() + iff::kEncodeSlack);
        coded.resize(size_t(iff::encode_runs(line.data(), int32_t(line.size()), coded.data())));
        size_t at = 0;
        Bytes decoded;
        ASSERT_TRUE(decode_line_strictly(coded, at, line.size(), decoded)) << "round " << round;
        ASSERT_EQ(at, coded.size()) << "round " << round;
        ASSERT_EQ(decoded, line) << "round " << round;
    }
}

struct CodedLayout {
    uint32_t color_class;
    int32_t bits;
    int32_t width;
};

// Random images written line by line: the file's coded data splits strictly
// into lines of the file layout, and the library reads the lines back.
TEST(Coding, EveryWrittenLineDecodesBackToItsBytes) {
    const CodedLayout layouts[] = {{1, 8, 1},   {1, 8, 2},   {1, 8, 63}, {1, 8, 64}, {1, 8, 65},
                                   {1, 8, 127}, {1, 8, 300}, {3, 8, 1},  {3, 8, 63}, {3, 8, 130}};
    std::mt19937 rng(7);
    for (const CodedLayout &l : layouts) {
        SCOPED_TRACE("class " + std::to_string(l.color_class) + " width " + std::to_string(l.width));
        const int32_t height = 24;
        const size_t channels = l.color_class == 3 ? 3 : 1;
        const size_t stride = channels * size_t(l.width);
        const size_t plane = size_t(l.width + 1) & ~size_t(1);
        Bytes image;
        for (int32_t y = 0; y < height; ++y) {
            const Bytes line = random_line(rng, stride);
            image.insert(image.end(), line.begin(), line.end());
        }
        Written w(description(l.width, height, l.color_class, l.bits));
        ASSERT_GT(w.handle, 0);
        ASSERT_EQ(IFFPutLine(w.handle, uint32_t(height), image.data()), IFF_OK);
        const Bytes coded = w.coded();
        ASSERT_EQ(IFFClose(w.handle), IFF_OK);

        size_t at = 0;
        Bytes file_line;
        for (int32_t y = 0; y < height; ++y) {
            ASSERT_TRUE(decode_line_strictly(coded, at, channels * plane, file_line)) << "line " << y;
            for (size_t c = 0; c < channels; ++c) {
                for (size_t x = 0; x < plane; ++x) {
                    const uint8_t expected = x < size_t(l.width) ? image[size_t(y) * stride + channels * x + c] : 0;
                    ASSERT_EQ(file_line[c * plane + x], expected) << "line " << y << " plane " << c << " byte " << x;
                }
            }
        }

        test::MemoryStream in(w.stream.data);
        in.max_read = 131; // lines and runs split across reads (the header takes one read)
        IFFImageInfo info{};
        const int32_t handle = IFFOpen(in.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
        ASSERT_GT(handle, 0);
        ASSERT_EQ(IFFControl(handle, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr), IFF_OK);
        Bytes back(image.size());
        ASSERT_EQ(IFFGetLine(handle, uint32_t(height), back.data()), IFF_OK);
        EXPECT_EQ(back, image);
        EXPECT_EQ(IFFClose(handle), IFF_OK);
    }
}

// ---- Write failures --------------------------------------------------------

TEST(PutLine, AShortWriteStopsAllLaterWriting) {
    Written w(description(8, 4, 0, 1));
    ASSERT_GT(w.handle, 0);
    const Bytes lines(4 * 8, 0xFF); // white: each line codes to C1 FF 00
    w.stream.write_budget = 3;      // the first line fits, the second falls short
    EXPECT_EQ(IFFPutLine(w.handle, 3, lines.data()), IFF_ERR_WRITE);
    EXPECT_EQ(w.stream.writes.size(), 3u) << "header, one line, the short one; the third line not tried";

    w.stream.write_budget = -1;
    EXPECT_EQ(IFFPutLine(w.handle, 1, lines.data()), IFF_ERR_WRITE);
    EXPECT_EQ(IFFPutLine(w.handle, 0, lines.data()), IFF_ERR_WRITE);
    EXPECT_EQ(w.stream.writes.size(), 3u) << "no write after the failure";
    int32_t status = -1;
    EXPECT_EQ(IFFControl(w.handle, IFF_REQ_STATUS, 0, 0, &status), IFF_OK);
    EXPECT_EQ(status, IFF_ERR_WRITE);
    EXPECT_EQ(IFFClose(w.handle), IFF_OK); // the failure was reported by IFFPutLine and the sticky status
    EXPECT_FALSE(w.stream.is_open());
}

TEST(PutLine, CountZeroOnAFreshHandleWritesNothing) {
    Written w(description(8, 4, 1, 8));
    ASSERT_GT(w.handle, 0);
    const size_t writes = w.stream.writes.size();
    const size_t size = w.stream.data.size();
    EXPECT_EQ(IFFPutLine(w.handle, 0, nullptr), IFF_OK);
    EXPECT_EQ(w.stream.writes.size(), writes);
    EXPECT_EQ(w.stream.data.size(), size);
    int32_t status = -1;
    EXPECT_EQ(IFFControl(w.handle, IFF_REQ_STATUS, 0, 0, &status), IFF_OK);
    EXPECT_EQ(status, IFF_OK);
    EXPECT_EQ(IFFClose(w.handle), IFF_OK);
}

TEST(PutLine, IsRefusedOnAReadHandle) {
    test::PcxLayout layout;
    layout.x_max = 3;
    layout.bytes_per_line = 4;
    test::MemoryStream stream(test::pcx_file(layout, {0xC4, 5}));
    IFFImageInfo info{};
    const int32_t handle = IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    ASSERT_GT(handle, 0);
    const uint8_t line[4] = {1, 2, 3, 4};
    EXPECT_EQ(IFFPutLine(handle, 1, line), IFF_ERR_REQUEST);
    EXPECT_TRUE(stream.writes.empty());
    EXPECT_EQ(IFFClose(handle), IFF_OK);
}

// ---- Open checks -----------------------------------------------------------

struct OpenCase {
    const char *name;
    IFFImageInfo info;
    int64_t write_budget;
    int32_t result;
    int32_t opens; // the stream is opened only once the description is accepted
};
void PrintTo(const OpenCase &c, std::ostream *os) {
    *os << c.name;
}

class WriteOpen : public ::testing::TestWithParam<OpenCase> {};

TEST_P(WriteOpen, RefusesAndLeavesNothingOpen) {
    const OpenCase &c = GetParam();
    test::MemoryStream stream;
    stream.write_budget = c.write_budget;
    IFFImageInfo info = c.info;
    EXPECT_EQ(IFFOpen(stream.source(), IFF_MODE_WRITE | IFF_MODE_STREAMS, &info), c.result);
    EXPECT_EQ(stream.opens, c.opens);
    EXPECT_FALSE(stream.is_open());
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, WriteOpen,
    ::testing::Values(OpenCase{"WidthZero", description(0, 1, 1, 8), -1, -IFF_ERR_HANDLE, 0},
                      OpenCase{"WidthMinusOne", description(-1, 1, 0, 1), -1, -IFF_ERR_HANDLE, 0},
                      OpenCase{"WidthMinimum", description(INT32_MIN, 1, 3, 8), -1, -IFF_ERR_HANDLE, 0},
                      OpenCase{"WidthAboveWindow", description(65537, 1, 1, 8), -1, -IFF_ERR_UNSUPPORTED, 0},
                      OpenCase{"WidthAboveWindowPlanes", description(65537, 1, 2, 4), -1, -IFF_ERR_UNSUPPORTED, 0},
                      OpenCase{"WidthMaximum", description(INT32_MAX, 1, 3, 8), -1, -IFF_ERR_UNSUPPORTED, 0},
                      OpenCase{"HeaderCutShort", description(16, 1, 1, 8), 100, -IFF_ERR_WRITE, 1},
                      // 8-bit plane lines that, rounded up to even, do not fit the 16-bit field.
                      OpenCase{"Gray8LineOf65535", description(65535, 1, 1, 8), -1, -IFF_ERR_UNSUPPORTED, 0},
                      OpenCase{"Palette8LineOf65536", description(65536, 1, 2, 8), -1, -IFF_ERR_UNSUPPORTED, 0},
                      OpenCase{"RgbLineOf65535", description(65535, 1, 3, 8), -1, -IFF_ERR_UNSUPPORTED, 0},
                      OpenCase{"RgbLineOf65536", description(65536, 1, 3, 8), -1, -IFF_ERR_UNSUPPORTED, 0}),
    [](const ::testing::TestParamInfo<OpenCase> &p) { return std::string(p.param.name); });

TEST(WriteOpen, TakesTheWidestEightBitLine) {
    Written w(description(65534, 1, 3, 8));
    ASSERT_GT(w.handle, 0);
    Bytes line(3 * 65534);
    for (size_t i = 0; i < line.size(); ++i) line[i] = uint8_t(i * 7 / 3);
    EXPECT_EQ(IFFPutLine(w.handle, 1, line.data()), IFF_OK);
    EXPECT_EQ(IFFClose(w.handle), IFF_OK);
    EXPECT_EQ(le16(w.stream.data, 8), 65533u);  // x max
    EXPECT_EQ(le16(w.stream.data, 66), 65534u); // bytes per line

    test::MemoryStream in(w.stream.data);
    IFFImageInfo info{};
    const int32_t handle = IFFOpen(in.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    ASSERT_GT(handle, 0);
    Bytes back(line.size());
    EXPECT_EQ(IFFGetLine(handle, 1, back.data()), IFF_OK);
    EXPECT_TRUE(back == line);
    EXPECT_EQ(IFFClose(handle), IFF_OK);
}

// ---- Palette and header at close -------------------------------------------

TEST(CloseGray8, AppendsTheDefaultRampEndingOnThirtyTwo) {
    // 72 literals after the header: the coded data end at offset 200.
    Written w(description(72, 1, 1, 8));
    ASSERT_GT(w.handle, 0);
    Bytes line(72);
    for (size_t i = 0; i < line.size(); ++i) line[i] = uint8_t(i);
    ASSERT_EQ(IFFPutLine(w.handle, 1, line.data()), IFF_OK);
    ASSERT_EQ(w.stream.data.size(), 200u);
    ASSERT_EQ(IFFClose(w.handle), IFF_OK);

    const Bytes &file = w.stream.data;
    ASSERT_EQ(file.size(), 992u);
    for (size_t at = 200; at < 223; ++at) EXPECT_EQ(file[at], 0) << "gap byte " << at;
    EXPECT_EQ(file[223], 12);
    for (size_t k = 0; k < 256; ++k) {
        for (size_t c = 0; c < 3; ++c) ASSERT_EQ(file[224 + 3 * k + c], k) << "entry " << k;
    }
    EXPECT_EQ(le16(file, 68), 2u); // palette information: grayscale
}

class CloseGray4 : public ::testing::TestWithParam<int32_t> {};

TEST_P(CloseGray4, PutsTheSixteenGraysInTheColourMap) {
    Written w(description(5, 1, 1, 4));
    ASSERT_GT(w.handle, 0);
    ASSERT_EQ(w.set_format(GetParam()), IFF_OK);
    const uint8_t line[5] = {0, 0, 0, 0, 0};
    ASSERT_EQ(IFFPutLine(w.handle, 1, line), IFF_OK);
    ASSERT_EQ(IFFClose(w.handle), IFF_OK);
    Bytes expected;
    for (uint8_t k = 0; k < 16; ++k) expected.insert(expected.end(), 3, uint8_t(16 * k));
    EXPECT_EQ(w.colour_map(), expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, CloseGray4, ::testing::Values(0, 1, 2, 3));

TEST(CloseColour2, TakesEverySixtyFourthEntryOfAnExpandedPalette) {
    Written w(description(3, 1, 2, 2));
    ASSERT_GT(w.handle, 0);
    ASSERT_EQ(w.set_format(IFF_PIXELS_SCALED), IFF_OK);
    Bytes palette(768);
    for (size_t k = 0; k < 256; ++k) {
        palette[3 * k] = uint8_t(k);
        palette[3 * k + 1] = uint8_t(255 - k);
        palette[3 * k + 2] = uint8_t(k * 7 + 1);
    }
    ASSERT_EQ(w.set_palette(palette), IFF_OK);
    const uint8_t line[3] = {0, 85, 255};
    ASSERT_EQ(IFFPutLine(w.handle, 1, line), IFF_OK);
    ASSERT_EQ(IFFClose(w.handle), IFF_OK);
    Bytes expected(48, 0);
    for (size_t k = 0; k < 4; ++k) std::memcpy(&expected[3 * k], &palette[3 * 64 * k], 3);
    EXPECT_EQ(w.colour_map(), expected);
}

TEST(CloseColour4, WithoutPaletteIsRefusedUntilOneIsHandedOver) {
    Written w(description(4, 1, 2, 4));
    ASSERT_GT(w.handle, 0);
    ASSERT_EQ(w.set_format(IFF_PIXELS_INDEX), IFF_OK);
    const uint8_t line[4] = {1, 2, 3, 15};
    ASSERT_EQ(IFFPutLine(w.handle, 1, line), IFF_OK);
    EXPECT_EQ(IFFClose(w.handle), IFF_ERR_FORMAT);
    EXPECT_TRUE(w.stream.is_open());

    int32_t status = -1;
    EXPECT_EQ(IFFControl(w.handle, IFF_REQ_STATUS, 0, 0, &status), IFF_OK) << "the handle stays usable";
    Bytes palette(48);
    for (size_t i = 0; i < palette.size(); ++i) palette[i] = uint8_t(200 - i);
    ASSERT_EQ(w.set_palette(palette), IFF_OK);
    EXPECT_EQ(IFFClose(w.handle), IFF_OK);
    EXPECT_FALSE(w.stream.is_open());
    EXPECT_EQ(w.colour_map(), palette);
    EXPECT_EQ(IFFClose(w.handle), IFF_ERR_HANDLE) << "the second close released the handle";
}

struct NoPaletteCase {
    const char *name;
    uint32_t color_class;
    int32_t bits;
};
void PrintTo(const NoPaletteCase &c, std::ostream *os) {
    *os << c.name;
}

class CloseWithoutPaletteStorage : public ::testing::TestWithParam<NoPaletteCase> {};

TEST_P(CloseWithoutPaletteStorage, IgnoresAHandedOverPalette) {
    const NoPaletteCase &c = GetParam();
    Written w(description(16, 1, c.color_class, c.bits));
    ASSERT_GT(w.handle, 0);
    ASSERT_EQ(w.set_palette(Bytes(768, 0x5A)), IFF_OK);
    const Bytes line(48, 0x80);
    ASSERT_EQ(IFFPutLine(w.handle, 1, line.data()), IFF_OK);
    const size_t end = w.stream.data.size();
    ASSERT_EQ(IFFClose(w.handle), IFF_OK);
    EXPECT_EQ(w.stream.data.size(), end) << "no tail block";
    EXPECT_EQ(w.colour_map(), Bytes(48, 0));
}

INSTANTIATE_TEST_SUITE_P(Depths, CloseWithoutPaletteStorage,
                         ::testing::Values(NoPaletteCase{"Bilevel", 0, 1}, NoPaletteCase{"Gray1", 1, 1},
                                           NoPaletteCase{"Rgb", 3, 8}),
                         [](const ::testing::TestParamInfo<NoPaletteCase> &p) { return std::string(p.param.name); });

struct PaletteFailure {
    const char *name;
    int32_t failing_seek; // counted from the first seek of the close, 0: none
    int64_t write_budget;
    int32_t result;
};
void PrintTo(const PaletteFailure &c, std::ostream *os) {
    *os << c.name;
}

class ClosePaletteFailure : public ::testing::TestWithParam<PaletteFailure> {};

TEST_P(ClosePaletteFailure, LeavesTheHandleOpenAndClosable) {
    const PaletteFailure &c = GetParam();
    Written w(description(72, 1, 1, 8));
    ASSERT_GT(w.handle, 0);
    Bytes line(72);
    for (size_t i = 0; i < line.size(); ++i) line[i] = uint8_t(i);
    ASSERT_EQ(IFFPutLine(w.handle, 1, line.data()), IFF_OK);

    if (c.failing_seek)
        w.stream.fail_seek_at = uint32_t(w.stream.seeks + c.failing_seek), w.stream.failures_stay = true;
    w.stream.write_budget = c.write_budget;
    EXPECT_EQ(IFFClose(w.handle), c.result);
    EXPECT_TRUE(w.stream.is_open());
    int32_t status = -1;
    EXPECT_EQ(IFFControl(w.handle, IFF_REQ_STATUS, 0, 0, &status), IFF_OK);

    w.stream.fail_seek_at = 0;
    w.stream.write_budget = -1;
    ASSERT_EQ(IFFClose(w.handle), IFF_OK);
    EXPECT_FALSE(w.stream.is_open());
    EXPECT_EQ(w.stream.data.size() % 32, 0u);
    EXPECT_EQ(w.stream.data.size(), 992u) << "the retry's block lies over the partial one";

    test::MemoryStream in(w.stream.data);
    IFFImageInfo info{};
    const int32_t handle = IFFOpen(in.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    ASSERT_GT(handle, 0);
    Bytes back(72), palette(768);
    EXPECT_EQ(IFFGetLine(handle, 1, back.data()), IFF_OK);
    EXPECT_EQ(back, line);
    EXPECT_EQ(IFFControl(handle, IFF_REQ_PALETTE, 0, 0, palette.data()), IFF_OK);
    for (size_t k = 0; k < 256; ++k) EXPECT_EQ(palette[3 * k + 1], k) << "entry " << k;
    EXPECT_EQ(IFFClose(handle), IFF_OK);
}

INSTANTIATE_TEST_SUITE_P(Steps, ClosePaletteFailure,
                         ::testing::Values(PaletteFailure{"SeekToEnd", 2, -1, IFF_ERR_SEEK},
                                           PaletteFailure{"SeekToBlock", 3, -1, IFF_ERR_SEEK},
                                           PaletteFailure{"Marker", 0, 0, IFF_ERR_WRITE},
                                           PaletteFailure{"Entries", 0, 100, IFF_ERR_WRITE}),
                         [](const ::testing::TestParamInfo<PaletteFailure> &p) { return std::string(p.param.name); });

// ---- Where the 256-colour block goes ------------------------------------------

struct Placement {
    const char *name;
    std::vector<uint32_t> requests; // sent in order; none: the default
    uint32_t color_class;
    size_t width;
    size_t marker_at;
};
void PrintTo(const Placement &c, std::ostream *os) {
    *os << c.name;
}

class PalettePlacement : public ::testing::TestWithParam<Placement> {};

TEST_P(PalettePlacement, PutsTheBlockThereAndReadsBack) {
    const Placement &c = GetParam();
    Written w(description(int32_t(c.width), 2, c.color_class, 8));
    ASSERT_GT(w.handle, 0);
    ASSERT_EQ(w.set_format(IFF_PIXELS_INDEX), IFF_OK);
    for (const uint32_t flags : c.requests)
        ASSERT_EQ(IFFControl(w.handle, IFF_REQ_PALETTE_PLACEMENT, flags, 0, nullptr), IFF_OK);
    Bytes palette(768);
    for (size_t i = 0; i < palette.size(); ++i) palette[i] = uint8_t(i * 5 + 3);
    if (c.color_class == 2) {
        ASSERT_EQ(w.set_palette(palette), IFF_OK);
    } else {
        for (size_t i = 0; i < palette.size(); ++i) palette[i] = uint8_t(i / 3); // the default gray ramp
    }
    Bytes lines(2 * c.width);
    for (size_t i = 0; i < lines.size(); ++i) lines[i] = uint8_t(i % c.width);
    ASSERT_EQ(IFFPutLine(w.handle, 2, lines.data()), IFF_OK);
    ASSERT_EQ(IFFClose(w.handle), IFF_OK);

    const Bytes &file = w.stream.data;
    ASSERT_EQ(file.size(), c.marker_at + 769);
    EXPECT_EQ(file[c.marker_at], 12);
    EXPECT_EQ(Bytes(file.end() - 768, file.end()), palette);

    test::MemoryStream in(file);
    IFFImageInfo info{};
    const int32_t handle = IFFOpen(in.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    ASSERT_GT(handle, 0);
    ASSERT_EQ(IFFControl(handle, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr), IFF_OK);
    Bytes back(lines.size()), back_palette(768);
    EXPECT_EQ(IFFGetLine(handle, 2, back.data()), IFF_OK);
    EXPECT_EQ(back, lines);
    EXPECT_EQ(IFFControl(handle, IFF_REQ_PALETTE, 0, 0, back_palette.data()), IFF_OK);
    EXPECT_EQ(back_palette, palette);
    EXPECT_EQ(IFFClose(handle), IFF_OK);
}

// 72 literals a line: two lines end the data at 128 + 2 * 72 = 272, and the
// aligned block at 1056, a multiple of 32; 78 literals end the data at 284,
// three bytes short of where the aligned block starts.
INSTANTIATE_TEST_SUITE_P(
    Placements, PalettePlacement,
    ::testing::Values(Placement{"Default", {}, 2, 72, 287}, Placement{"Aligned", {IFF_PALETTE_ALIGNED}, 2, 72, 287},
                      Placement{"AfterData", {IFF_PALETTE_AFTER_DATA}, 2, 72, 272},
                      Placement{"AfterDataGrayRamp", {IFF_PALETTE_AFTER_DATA}, 1, 72, 272},
                      Placement{"AfterDataShortGap", {IFF_PALETTE_AFTER_DATA}, 2, 78, 284},
                      Placement{"AlignedAgain", {IFF_PALETTE_AFTER_DATA, IFF_PALETTE_ALIGNED}, 2, 72, 287}),
    [](const ::testing::TestParamInfo<Placement> &p) { return std::string(p.param.name); });

TEST(PalettePlacement, IsRefusedWhereNoBlockCanBeMoved) {
    Written reading_source(description(8, 1, 2, 8));
    ASSERT_GT(reading_source.handle, 0);
    ASSERT_EQ(reading_source.set_palette(Bytes(768, 7)), IFF_OK);
    ASSERT_EQ(IFFPutLine(reading_source.handle, 1, Bytes(8, 1).data()), IFF_OK);
    ASSERT_EQ(IFFClose(reading_source.handle), IFF_OK);
    test::MemoryStream read_stream(reading_source.stream.data), lines_stream(reading_source.stream.data);
    IFFImageInfo read_info{}, lines_info{};
    const int32_t reading = IFFOpen(read_stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &read_info);
    const int32_t lines_only = IFFOpen(lines_stream.source(), IFF_MODE_READ_LINES | IFF_MODE_STREAMS, &lines_info);
    ASSERT_GT(reading, 0);
    ASSERT_GT(lines_only, 0);

    // A close that failed after placing the block: a retry writes it there.
    Written placed(description(72, 1, 1, 8));
    ASSERT_GT(placed.handle, 0);
    ASSERT_EQ(IFFPutLine(placed.handle, 1, Bytes(72, 3).data()), IFF_OK);
    placed.stream.write_budget = 0;
    ASSERT_EQ(IFFClose(placed.handle), IFF_ERR_WRITE);
    Written writing(description(8, 1, 2, 8));
    ASSERT_GT(writing.handle, 0);

    struct Case {
        const char *name;
        int32_t handle;
        uint32_t flags;
        int32_t status;
    } cases[] = {
        {"read handle", reading, IFF_PALETTE_AFTER_DATA, IFF_ERR_REQUEST},
        {"lines-only read handle", lines_only, IFF_PALETTE_AFTER_DATA, IFF_ERR_REQUEST},
        {"flags 2", writing.handle, 2, IFF_ERR_REQUEST},
        {"flags 0xFFFF", writing.handle, 0xFFFF, IFF_ERR_REQUEST},
        {"block already placed", placed.handle, IFF_PALETTE_AFTER_DATA, IFF_ERR_REQUEST},
        {"closed handle", reading_source.handle, IFF_PALETTE_AFTER_DATA, IFF_ERR_HANDLE},
        {"write handle", writing.handle, IFF_PALETTE_AFTER_DATA, IFF_OK},
    };
    for (const auto &c : cases)
        EXPECT_EQ(IFFControl(c.handle, IFF_REQ_PALETTE_PLACEMENT, c.flags, 0, nullptr), c.status) << c.name;

    placed.stream.write_budget = -1;
    ASSERT_EQ(IFFClose(placed.handle), IFF_OK);
    EXPECT_EQ(placed.stream.data.size(), 928u) << "the block stays where it was placed, on a 32-byte end";
    EXPECT_EQ(IFFClose(reading), IFF_OK);
    EXPECT_EQ(IFFClose(lines_only), IFF_OK);
    EXPECT_EQ(IFFControl(writing.handle, IFF_REQ_ABANDON, 0, 0, nullptr), IFF_OK);
    EXPECT_EQ(IFFClose(writing.handle), IFF_OK);
}

// A close whose palette step keeps failing can be ended: IFF_REQ_ABANDON makes
// the next close write nothing more and release the stream and the handle.
TEST(CloseAbandoned, EndsAHandleWhosePaletteStepKeepsFailing) {
    struct Case {
        const char *name;
        IFFImageInfo info;
        void (*break_stream)(test::MemoryStream &);
        int32_t failure; // what every plain close returns
    } cases[] = {
        {"tail block never written", description(72, 1, 1, 8), [](test::MemoryStream &s) { s.write_budget = 0; },
         IFF_ERR_WRITE},
        {"stream never seeks", description(72, 1, 1, 8),
         [](test::MemoryStream &s) { s.fail_seek_at = uint32_t(s.seeks + 1), s.failures_stay = true; }, IFF_ERR_SEEK},
        {"colour image never given a palette", description(72, 1, 2, 4), [](test::MemoryStream &) {}, IFF_ERR_FORMAT},
        {"healthy stream", description(72, 1, 0, 1), nullptr, IFF_OK},
    };
    for (const auto &c : cases) {
        Written w(c.info);
        ASSERT_GT(w.handle, 0) << c.name;
        const Bytes line(72, 0x11);
        ASSERT_EQ(IFFPutLine(w.handle, 1, line.data()), IFF_OK) << c.name;
        if (c.break_stream) {
            c.break_stream(w.stream);
            for (int attempt = 0; attempt < 3; ++attempt) EXPECT_EQ(IFFClose(w.handle), c.failure) << c.name;
            EXPECT_TRUE(w.stream.is_open()) << c.name;
        }
        const size_t written = w.stream.data.size();
        const size_t writes = w.stream.writes.size();
        EXPECT_EQ(IFFControl(w.handle, IFF_REQ_ABANDON, 0, 0, nullptr), IFF_OK) << c.name;
        EXPECT_EQ(IFFClose(w.handle), IFF_OK) << c.name;
        EXPECT_FALSE(w.stream.is_open()) << c.name;
        EXPECT_EQ(w.stream.writes.size(), writes) << c.name << ": nothing written after abandoning";
        EXPECT_EQ(w.stream.data.size(), written) << c.name;
        EXPECT_EQ(IFFClose(w.handle), IFF_ERR_HANDLE) << c.name;
    }
}

struct ResolutionCase {
    const char *name;
    uint32_t flags;
    int32_t slots[2];
    uint32_t horizontal, vertical;
};
void PrintTo(const ResolutionCase &c, std::ostream *os) {
    *os << c.name;
}

class CloseResolution : public ::testing::TestWithParam<ResolutionCase> {};

TEST_P(CloseResolution, LandsInTheRewrittenHeader) {
    const ResolutionCase &c = GetParam();
    Written w(description(8, 1, 0, 1));
    ASSERT_GT(w.handle, 0);
    int32_t slots[2] = {c.slots[0], c.slots[1]};
    ASSERT_EQ(IFFControl(w.handle, IFF_REQ_RESOLUTION, c.flags, 0, slots), IFF_OK);
    EXPECT_EQ(le16(w.stream.data, 12), 100u) << "the header written at open keeps 100 until close";
    const uint8_t line[8] = {};
    ASSERT_EQ(IFFPutLine(w.handle, 1, line), IFF_OK);
    ASSERT_EQ(IFFClose(w.handle), IFF_OK);
    EXPECT_EQ(le16(w.stream.data, 12), c.horizontal);
    EXPECT_EQ(le16(w.stream.data, 14), c.vertical);
}

INSTANTIATE_TEST_SUITE_P(Flags, CloseResolution,
                         ::testing::Values(ResolutionCase{"Both", 3, {300, 150}, 300, 150},
                                           ResolutionCase{"HorizontalOnly", 1, {72, 999}, 72, 100},
                                           ResolutionCase{"VerticalFromFirstSlot", 2, {600, 999}, 100, 600},
                                           ResolutionCase{"LowSixteenBits", 3, {0x12345, -1}, 0x2345, 0xFFFF},
                                           ResolutionCase{"Neither", 0, {1, 2}, 100, 100}),
                         [](const ::testing::TestParamInfo<ResolutionCase> &p) { return std::string(p.param.name); });

// ---- Round trip --------------------------------------------------------------

enum class Planes { Single, Bits, Rgb };

struct WriteLayout {
    const char *name;
    int32_t bits;
    uint32_t color_class;
    int32_t depth;
    Planes planes;
};

const WriteLayout kLayouts[] = {
    {"Bilevel", 1, 0, 1, Planes::Single}, {"Packed2", 2, 2, 2, Planes::Single}, {"Planes3", 3, 2, 3, Planes::Bits},
    {"Planes4", 4, 2, 4, Planes::Bits},   {"Gray8", 8, 1, 8, Planes::Single},   {"Palette8", 8, 2, 8, Planes::Single},
    {"Rgb24", 8, 3, 24, Planes::Rgb},
};

// Values packed MSB first, `bits` each, continuously across bytes.
Bytes pack(const Bytes &values, int32_t bits) {
    Bytes out((values.size() * size_t(bits) + 7) / 8, 0);
    for (size_t i = 0; i < values.size(); ++i) {
        for (int32_t b = 0; b < bits; ++b) {
            if (values[i] >> (bits - 1 - b) & 1) {
                const size_t bit = i * size_t(bits) + size_t(b);
                out[bit / 8] = uint8_t(out[bit / 8] | 0x80 >> (bit % 8));
            }
        }
    }
    return out;
}

// One pixel value as a host byte: the value, in the top bits, or scaled.
uint8_t host_byte(uint8_t value, int32_t depth, int32_t format) {
    if (format == IFF_PIXELS_INDEX || depth == 8) return value;
    if (format == IFF_PIXELS_SCALED) {
        const int32_t max = (1 << depth) - 1;
        return uint8_t((255 * value + max / 2) / max);
    }
    return uint8_t(value << (8 - depth));
}

// What the host hands over for a line of values, and what it gets back.
Bytes line_to_write(const WriteLayout &l, const Bytes &values, int32_t format) {
    if (l.planes == Planes::Rgb) return values;
    if (l.planes == Planes::Single && format == IFF_PIXELS_PACKED) return pack(values, l.depth);
    Bytes out(values.size());
    // Bit planes take packed (0) like left-justified: the value in the top bits.
    const int32_t as = l.planes == Planes::Bits && format != IFF_PIXELS_INDEX ? IFF_PIXELS_LEFT : format;
    for (size_t i = 0; i < values.size(); ++i) out[i] = host_byte(values[i], l.depth, as);
    return out;
}

Bytes line_read_back(const WriteLayout &l, const Bytes &values, int32_t format) {
    if (l.planes == Planes::Rgb) return values;
    if (format == IFF_PIXELS_PACKED) return pack(values, l.depth);
    Bytes out(values.size());
    // Bit-plane values are not scaled: 3 reads like 2.
    const int32_t as = l.planes == Planes::Bits && format == IFF_PIXELS_SCALED ? IFF_PIXELS_LEFT : format;
    for (size_t i = 0; i < values.size(); ++i) out[i] = host_byte(values[i], l.depth, as);
    return out;
}

Bytes random_bytes(std::mt19937 &rng, size_t n, uint32_t limit) {
    Bytes out(n);
    // Stretches of one value, so the lines also code runs.
    for (size_t i = 0; i < n; ++i) out[i] = rng() % 3 == 0 && i > 0 ? out[i - 1] : uint8_t(rng() % limit);
    return out;
}

// The palette as the host sees it in a layout: n entries, or each of them
// 256 / n times.
Bytes host_palette(const Bytes &entries, int32_t format) {
    const size_t n = entries.size() / 3;
    const size_t repeat = format >= IFF_PIXELS_LEFT ? 256 / n : 1;
    Bytes out;
    for (size_t k = 0; k < n; ++k) {
        for (size_t r = 0; r < repeat; ++r) out.insert(out.end(), &entries[3 * k], &entries[3 * k] + 3);
    }
    return out;
}

struct RoundTripCase {
    WriteLayout layout;
    int32_t width;
    int32_t format;
};
void PrintTo(const RoundTripCase &c, std::ostream *os) {
    *os << c.layout.name << " width " << c.width << " format " << c.format;
}

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, ReadsBackWhatWasWritten) {
    const RoundTripCase &c = GetParam();
    const WriteLayout &l = c.layout;
    const int32_t height = 5;
    const size_t samples = size_t(c.width) * (l.planes == Planes::Rgb ? 3 : 1);
    const size_t stride = samples; // the host's lines lie one pixel a byte apart, RGB three
    std::mt19937 rng(uint32_t(c.width * 131 + c.format * 7 + l.depth));
    std::vector<Bytes> values;
    Bytes host(stride * size_t(height), 0);
    for (int32_t y = 0; y < height; ++y) {
        values.push_back(random_bytes(rng, samples, l.depth >= 8 ? 256u : 1u << l.depth));
        const Bytes line = line_to_write(l, values.back(), c.format);
        ASSERT_LE(line.size(), stride);
        std::copy(line.begin(), line.end(), host.begin() + long(stride * size_t(y)));
    }
    Bytes entries; // the palette of a colour image, as n entries
    if (l.color_class == 2) entries = random_bytes(rng, 3u << l.depth, 256);

    {
        Written w(description(c.width, height, l.color_class, l.bits));
        ASSERT_GT(w.handle, 0);
        ASSERT_EQ(w.set_format(c.format), IFF_OK);
        if (!entries.empty()) {
            ASSERT_EQ(w.set_palette(host_palette(entries, c.format)), IFF_OK);
        }
        ASSERT_EQ(IFFPutLine(w.handle, uint32_t(height), host.data()), IFF_OK);
        ASSERT_EQ(IFFClose(w.handle), IFF_OK);

        test::MemoryStream in(w.stream.data);
        IFFImageInfo info{};
        const int32_t handle = IFFOpen(in.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
        ASSERT_GT(handle, 0);
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, height);
        EXPECT_EQ(info.bits, l.planes == Planes::Rgb ? 8 : l.depth);
        EXPECT_EQ(info.color_class, l.color_class);
        ASSERT_EQ(IFFControl(handle, IFF_REQ_PIXEL_FORMAT, uint32_t(c.format), 0, nullptr), IFF_OK);

        uint16_t line_size = 0;
        ASSERT_EQ(IFFControl(handle, IFF_REQ_LINE_SIZE, 0, 0, &line_size), IFF_OK);
        Bytes back(stride * size_t(height), 0xEE);
        ASSERT_EQ(IFFGetLine(handle, uint32_t(height), back.data()), IFF_OK);
        for (int32_t y = 0; y < height; ++y) {
            const Bytes expected = line_read_back(l, values[size_t(y)], c.format);
            ASSERT_EQ(line_size, expected.size());
            const Bytes actual(back.begin() + long(stride * size_t(y)),
                               back.begin() + long(stride * size_t(y) + expected.size()));
            ASSERT_EQ(actual, expected) << "line " << y;
        }

        Bytes expected_palette;
        if (l.color_class == 2) expected_palette = host_palette(entries, c.format);
        if (l.color_class == 0) expected_palette = {0, 0, 0, 255, 255, 255};
        if (l.color_class == 1) {
            for (size_t k = 0; k < 256; ++k) expected_palette.insert(expected_palette.end(), 3, uint8_t(k));
        }
        uint16_t palette_size = 0;
        ASSERT_EQ(IFFControl(handle, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &palette_size), IFF_OK);
        Bytes palette(768, 0xEE);
        const int32_t exported = IFFControl(handle, IFF_REQ_PALETTE, 0, 0, palette.data());
        if (l.planes == Planes::Rgb) {
            EXPECT_EQ(exported, IFF_ERR_REQUEST);
        } else {
            EXPECT_EQ(exported, IFF_OK);
            if (l.color_class != 0) {
                EXPECT_EQ(palette_size, expected_palette.size());
            }
            palette.resize(expected_palette.size());
            EXPECT_EQ(palette, expected_palette);
        }
        EXPECT_EQ(IFFClose(handle), IFF_OK);
    }
}

std::vector<RoundTripCase> round_trip_cases() {
    std::vector<RoundTripCase> cases;
    for (const WriteLayout &l : kLayouts) {
        for (int32_t width : {1, 7, 13, 64, 257}) {
            for (int32_t format = 0; format <= 3; ++format) cases.push_back({l, width, format});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Layouts, RoundTrip, ::testing::ValuesIn(round_trip_cases()),
                         [](const ::testing::TestParamInfo<RoundTripCase> &p) {
                             return std::string(p.param.layout.name) + "_w" + std::to_string(p.param.width) + "_f" +
                                    std::to_string(p.param.format);
                         });

} // namespace

namespace {

// The coding rules byte by byte: runs of 2 to 63 as a pair, single bytes of
// 0xC0 or above behind 0xC1, the rest as they stand.
Bytes reference_coding(const Bytes &line) {
    Bytes coded;
    for (size_t i = 0; i < line.size();) {
        size_t run = 1;
        while (i + run < line.size() && run < 63 && line[i + run] == line[i]) ++run;
        if (run > 1 || line[i] >= 0xC0) coded.push_back(uint8_t(0xC0 | run));
        coded.push_back(line[i]);
        i += run;
    }
    return coded;
}

} // namespace

// Long noisy lines reach the encoder's wide loops; their coding must be the
// one the rules give, byte for byte.
TEST_P(CodingAtEachLevel, LongNoisyLinesAreCodedByTheRules) {
    struct Profile {
        const char *name;
        int high_percent;   // bytes of 0xC0 or above
        int repeat_percent; // bytes equal to the one before
    };
    const Profile profiles[] = {
        {"photo", 25, 3}, {"all high", 100, 0}, {"no repeats", 40, 0}, {"runs", 30, 60}, {"long runs", 30, 98}};
    std::mt19937 rng(7);
    for (const Profile &p : profiles) {
        for (size_t size : {17u, 33u, 3001u}) {
            Bytes line;
            while (line.size() < size) {
                if (!line.empty() && int(rng() % 100) < p.repeat_percent) {
                    line.push_back(line.back());
                } else {
                    line.push_back(int(rng() % 100) < p.high_percent ? uint8_t(0xC0 | rng() % 64)
                                                                     : uint8_t(rng() % 0xC0));
                }
            }
            Bytes coded(2 * line.size() + iff::kEncodeSlack);
            coded.resize(size_t(iff::encode_runs(line.data(), int32_t(line.size()), coded.data())));
            EXPECT_EQ(coded, reference_coding(line)) << p.name << ", " << size << " bytes";
        }
    }
}
