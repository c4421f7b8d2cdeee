// Pages written by the TIFF writer read back exactly, stored as chosen for
// their kind and the caller's compression, with their resolution.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <cstdio>
#include <string>

#include "tiff_test_support.h"

namespace {

using namespace tifftest;

// The tags libtiff finds on a page of a file in memory.
struct Tags {
    uint16_t compression = 0, photometric = 0, bits = 0, samples = 0, predictor = 1, unit = 0;
    uint16_t extra_count = 0, extra = 0, page_number = 0, page_total = 0;
    uint32_t rows_per_strip = 0, strips = 0;
    bool has_x = false, has_y = false;
    float x = 0, y = 0;
    std::vector<uint16_t> red; // the colour map's red entries
};

Tags tags_of(const std::vector<uint8_t> &file, uint32_t page) {
    const std::string path = own_temp_path("tags_" + std::to_string(page) + ".tif");
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(file.data(), 1, file.size(), f) != file.size())
        ADD_FAILURE() << "cannot write " << path;
    if (f != nullptr) std::fclose(f);
    Tags t;
    TIFF *tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr || !TIFFSetDirectory(tif, tdir_t(page))) {
        ADD_FAILURE() << "libtiff cannot open page " << page;
        if (tif) TIFFClose(tif);
        return t;
    }
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &t.compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.photometric);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &t.bits);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &t.samples);
    TIFFGetField(tif, TIFFTAG_PREDICTOR, &t.predictor);
    TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &t.unit);
    TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &t.rows_per_strip);
    TIFFGetField(tif, TIFFTAG_PAGENUMBER, &t.page_number, &t.page_total);
    t.strips = TIFFNumberOfStrips(tif);
    uint16_t *extra = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &t.extra_count, &extra) && t.extra_count > 0) t.extra = extra[0];
    t.has_x = TIFFGetField(tif, TIFFTAG_XRESOLUTION, &t.x) != 0;
    t.has_y = TIFFGetField(tif, TIFFTAG_YRESOLUTION, &t.y) != 0;
    uint16_t *map[3] = {};
    if (TIFFGetField(tif, TIFFTAG_COLORMAP, &map[0], &map[1], &map[2])) t.red.assign(map[0], map[0] + (1u << t.bits));
    TIFFClose(tif);
    std::remove(path.c_str());
    return t;
}

struct KindCase {
    const char *name;
    Kind kind;
    Compression compression;
    int32_t width, height;
    uint32_t palette_entries;
    // What the file must say.
    uint16_t compression_tag, photometric, bits, predictor;
};

class KindRoundTrip : public testing::TestWithParam<KindCase> {};

TEST_P(KindRoundTrip, ReadsBackExactlyAndStoresAsChosen) {
    const KindCase c = GetParam();
    const TestPage page = make_page(c.kind, c.width, c.height, c.palette_entries, 300, 300, 7);
    const std::vector<uint8_t> file = write_memory({page}, c.compression);
    const std::vector<ReadPage> back = read_memory(file);
    ASSERT_EQ(back.size(), 1u);
    const PageInfo &info = back[0].info;
    EXPECT_EQ(info.kind, c.kind);
    EXPECT_EQ(info.width, c.width);
    EXPECT_EQ(info.height, c.height);
    EXPECT_TRUE(back[0].rows == page.expected) << "the rows differ";
    if (c.kind == Kind::indexed) {
        EXPECT_EQ(info.palette_entries, 1u << c.bits);
        EXPECT_TRUE(std::equal(page.palette.begin(), page.palette.end(), info.palette));
    }

    const Tags tags = tags_of(file, 0);
    EXPECT_EQ(tags.compression, c.compression_tag);
    EXPECT_EQ(tags.photometric, c.photometric);
    EXPECT_EQ(tags.bits, c.bits);
    EXPECT_EQ(tags.predictor, c.predictor);
    EXPECT_EQ(tags.samples, c.kind == Kind::rgb ? 3 : c.kind == Kind::rgba ? 4 : 1);
    if (c.kind == Kind::rgba) {
        EXPECT_EQ(tags.extra_count, 1);
        EXPECT_EQ(tags.extra, EXTRASAMPLE_UNASSALPHA);
    }
    if (c.kind == Kind::indexed) {
        ASSERT_EQ(tags.red.size(), size_t(1) << c.bits);
        for (uint32_t i = 0; i < tags.red.size(); ++i)
            EXPECT_EQ(tags.red[i], i < c.palette_entries ? page.palette[3 * i] * 257 : 0) << "entry " << i;
    }
    // Group 4 pages are one strip; others are cut into several when large.
    if (c.compression_tag == COMPRESSION_CCITTFAX4) {
        EXPECT_EQ(tags.strips, 1u);
    }
}

constexpr uint16_t kNone = COMPRESSION_NONE, kLzw = COMPRESSION_LZW, kDeflate = COMPRESSION_ADOBE_DEFLATE,
                   kG4 = COMPRESSION_CCITTFAX4;
constexpr uint16_t kWhite = PHOTOMETRIC_MINISWHITE, kBlack = PHOTOMETRIC_MINISBLACK, kPal = PHOTOMETRIC_PALETTE,
                   kRgb = PHOTOMETRIC_RGB;

INSTANTIATE_TEST_SUITE_P(
    Kinds, KindRoundTrip,
    testing::Values(
        KindCase{"bilevel_default_fax_width", Kind::bilevel, Compression::page_default, 1728, 60, 0, kG4, kWhite, 1, 1},
        KindCase{"bilevel_g4_width_13", Kind::bilevel, Compression::g4, 13, 41, 0, kG4, kWhite, 1, 1},
        KindCase{"bilevel_g4_width_1", Kind::bilevel, Compression::g4, 1, 9, 0, kG4, kWhite, 1, 1},
        KindCase{"bilevel_none_width_9", Kind::bilevel, Compression::none, 9, 30, 0, kNone, kWhite, 1, 1},
        KindCase{"bilevel_lzw_width_1729", Kind::bilevel, Compression::lzw, 1729, 33, 0, kLzw, kWhite, 1, 1},
        KindCase{"bilevel_deflate_width_77", Kind::bilevel, Compression::deflate, 77, 20, 0, kDeflate, kWhite, 1, 1},
        KindCase{"gray_default", Kind::gray, Compression::page_default, 300, 50, 0, kDeflate, kBlack, 8, 2},
        KindCase{"gray_g4_keeps_its_default", Kind::gray, Compression::g4, 31, 20, 0, kDeflate, kBlack, 8, 2},
        KindCase{"gray_none_width_7", Kind::gray, Compression::none, 7, 12, 0, kNone, kBlack, 8, 1},
        KindCase{"gray_lzw", Kind::gray, Compression::lzw, 33, 40, 0, kLzw, kBlack, 8, 2},
        KindCase{"indexed_256_default", Kind::indexed, Compression::page_default, 100, 40, 256, kDeflate, kPal, 8, 1},
        KindCase{"indexed_17_lzw", Kind::indexed, Compression::lzw, 5, 20, 17, kLzw, kPal, 8, 1},
        KindCase{"indexed_16_in_4_bits_odd_width", Kind::indexed, Compression::page_default, 13, 20, 16, kDeflate, kPal,
                 4, 1},
        KindCase{"indexed_2_in_4_bits_none", Kind::indexed, Compression::none, 9, 10, 2, kNone, kPal, 4, 1},
        KindCase{"indexed_g4_keeps_its_default", Kind::indexed, Compression::g4, 9, 10, 8, kDeflate, kPal, 4, 1},
        KindCase{"rgb_default", Kind::rgb, Compression::page_default, 65, 30, 0, kDeflate, kRgb, 8, 2},
        KindCase{"rgb_several_strips", Kind::rgb, Compression::deflate, 2000, 100, 0, kDeflate, kRgb, 8, 2},
        KindCase{"rgb_none_width_3", Kind::rgb, Compression::none, 3, 10, 0, kNone, kRgb, 8, 1},
        KindCase{"rgb_lzw", Kind::rgb, Compression::lzw, 31, 17, 0, kLzw, kRgb, 8, 2},
        KindCase{"rgba_default", Kind::rgba, Compression::page_default, 17, 20, 0, kDeflate, kRgb, 8, 2},
        KindCase{"rgba_none", Kind::rgba, Compression::none, 4, 4, 0, kNone, kRgb, 8, 1},
        KindCase{"rgba_g4_keeps_its_default", Kind::rgba, Compression::g4, 40, 9, 0, kDeflate, kRgb, 8, 2}),
    [](const testing::TestParamInfo<KindCase> &param) { return std::string(param.param.name); });

struct ResolutionCase {
    const char *name;
    int32_t dpi_x, dpi_y;
};

class Resolution : public testing::TestWithParam<ResolutionCase> {};

// Fax resolutions are not square and stay exactly as given; a resolution not
// known is not invented. libtiff keeps the two tags as one field, so where one
// is known the other is written as 0, which readers take as not known.
TEST_P(Resolution, KeptExactlyInInches) {
    const ResolutionCase c = GetParam();
    for (Kind kind : {Kind::bilevel, Kind::rgb}) {
        const std::vector<uint8_t> file = write_memory({make_page(kind, 20, 10, 0, c.dpi_x, c.dpi_y)}, {});
        const std::vector<ReadPage> back = read_memory(file);
        ASSERT_EQ(back.size(), 1u);
        EXPECT_EQ(back[0].info.dpi_x, c.dpi_x);
        EXPECT_EQ(back[0].info.dpi_y, c.dpi_y);
        const Tags tags = tags_of(file, 0);
        const bool known = c.dpi_x > 0 || c.dpi_y > 0;
        EXPECT_EQ(tags.has_x, known);
        EXPECT_EQ(tags.has_y, known);
        EXPECT_EQ(tags.x, float(c.dpi_x));
        EXPECT_EQ(tags.y, float(c.dpi_y));
        if (c.dpi_x > 0 || c.dpi_y > 0) {
            EXPECT_EQ(tags.unit, RESUNIT_INCH);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fax, Resolution,
                         testing::Values(ResolutionCase{"fine_204_by_196", 204, 196},
                                         ResolutionCase{"normal_200_by_100", 200, 100},
                                         ResolutionCase{"square_300", 300, 300}, ResolutionCase{"none", 0, 0},
                                         ResolutionCase{"horizontal_only", 72, 0}),
                         [](const testing::TestParamInfo<ResolutionCase> &param) {
                             return std::string(param.param.name);
                         });

std::vector<TestPage> mixed_pages() {
    return {make_page(Kind::bilevel, 1728, 70, 0, 204, 196, 1), make_page(Kind::rgb, 45, 31, 0, 150, 150, 2),
            make_page(Kind::indexed, 19, 12, 7, 0, 0, 3),       make_page(Kind::gray, 64, 64, 0, 96, 72, 4),
            make_page(Kind::rgba, 5, 3, 0, 300, 300, 5),        make_page(Kind::bilevel, 11, 5, 0, 200, 100, 6),
            make_page(Kind::indexed, 30, 8, 200, 72, 72, 7)};
}

TEST(MultiPage, EveryPageReadsBackInOrderWithItsNumber) {
    const std::vector<TestPage> pages = mixed_pages();
    for (size_t block : {size_t(1), size_t(7), size_t(1000)}) {
        const std::vector<uint8_t> file = write_memory(pages, Compression::page_default, block);
        const std::vector<ReadPage> back = read_memory(file);
        ASSERT_EQ(back.size(), pages.size());
        for (size_t p = 0; p < pages.size(); ++p) {
            SCOPED_TRACE("page " + std::to_string(p) + ", blocks of " + std::to_string(block));
            EXPECT_EQ(back[p].info.kind, pages[p].page.kind);
            EXPECT_EQ(back[p].info.width, pages[p].page.width);
            EXPECT_EQ(back[p].info.dpi_x, pages[p].page.dpi_x);
            EXPECT_EQ(back[p].info.dpi_y, pages[p].page.dpi_y);
            EXPECT_TRUE(back[p].rows == pages[p].expected);
            const Tags tags = tags_of(file, uint32_t(p));
            EXPECT_EQ(tags.page_number, p);
        }
    }
}

// A path, memory and the caller's callback receive the same file.
TEST(MultiPage, EveryOutputGetsTheSameBytes) {
    const std::vector<TestPage> pages = mixed_pages();
    const std::vector<uint8_t> in_memory = write_memory(pages, Compression::page_default);

    const std::string path = own_temp_path("every_output.tif");
    std::unique_ptr<iff::tiff::Writer> writer;
    iff::tiff::Error error;
    ASSERT_EQ(iff::tiff::Writer::to_path(path.c_str(), Compression::page_default, writer, &error), Status::ok);
    ASSERT_EQ(write_pages(*writer, pages, 7, &error), Status::ok) << error.message;
    ASSERT_EQ(writer->finish(&error), Status::ok) << error.message;
    EXPECT_TRUE(read_file(path) == in_memory);
    std::remove(path.c_str());

    std::vector<uint8_t> sent;
    size_t calls = 0;
    struct Sink {
        std::vector<uint8_t> *bytes;
        size_t *calls;
    } sink{&sent, &calls};
    auto take = [](void *context, const void *data, size_t size) {
        auto &s = *static_cast<Sink *>(context);
        const auto *b = static_cast<const uint8_t *>(data);
        s.bytes->insert(s.bytes->end(), b, b + size);
        ++*s.calls;
        return 0;
    };
    ASSERT_EQ(iff::tiff::Writer::to_writer(take, &sink, "callback", Compression::page_default, writer, &error),
              Status::ok);
    ASSERT_EQ(write_pages(*writer, pages, 7, &error), Status::ok) << error.message;
    EXPECT_EQ(calls, 0u) << "bytes must come once, in order: none before the file is complete";
    ASSERT_EQ(writer->finish(&error), Status::ok) << error.message;
    EXPECT_TRUE(sent == in_memory);
}

// Strips leave as their rows arrive: half a tall page in, much of it is
// already out, however the page is coded.
TEST(Streaming, CodedDataLeavesBeforeThePageEnds) {
    for (Kind kind : {Kind::bilevel, Kind::gray}) {
        SCOPED_TRACE(kind == Kind::bilevel ? "bilevel, Group 4" : "gray, Deflate");
        const TestPage page = make_page(kind, 1728, 6000);
        std::unique_ptr<iff::tiff::Writer> writer;
        iff::tiff::Error error;
        ASSERT_EQ(iff::tiff::Writer::to_memory(Compression::page_default, writer, &error), Status::ok);
        ASSERT_EQ(writer->begin_page(page.page, &error), Status::ok);
        ASSERT_EQ(writer->write_rows(page.rows.data(), 3000, page.stride, &error), Status::ok);
        const uint64_t half = writer->bytes_so_far();
        ASSERT_EQ(writer->write_rows(page.rows.data() + 3000 * page.stride, 3000, page.stride, &error), Status::ok);
        ASSERT_EQ(writer->finish(&error), Status::ok);
        size_t size = 0;
        writer->bytes(size);
        EXPECT_GT(half, size / 4) << half << " of " << size << " bytes out after half the rows";
    }
}

} // namespace
