// The reader on files other writers make: the other polarity, small
// palettes, centimetres; and on files it must refuse, with their reasons.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <cstdio>
#include <functional>
#include <string>

#include "tiff_test_support.h"

namespace {

using namespace tifftest;
using iff::tiff::Error;
using iff::tiff::Reader;

// A one-page file written by libtiff itself: 8 x 2 pixels, tags set by the
// case, rows given as stored.
std::vector<uint8_t> foreign_file(const std::function<void(TIFF *)> &tags, const std::vector<uint8_t> &stored,
                                  bool tiled = false) {
    const std::string path = own_temp_path("foreign.tif");
    TIFF *tif = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 8);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 2);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    tags(tif);
    if (tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
        std::vector<uint8_t> tile(size_t(TIFFTileSize(tif)), 0);
        TIFFWriteEncodedTile(tif, 0, tile.data(), tmsize_t(tile.size()));
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 2);
        TIFFWriteEncodedStrip(tif, 0, const_cast<uint8_t *>(stored.data()), tmsize_t(stored.size()));
    }
    TIFFClose(tif);
    std::vector<uint8_t> file = read_file(path);
    std::remove(path.c_str());
    return file;
}

void gray_tags(TIFF *tif, uint16_t bits, uint16_t photometric) {
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
}

void palette_tags(TIFF *tif, uint16_t bits) {
    gray_tags(tif, bits, PHOTOMETRIC_PALETTE);
    std::vector<uint16_t> map[3];
    for (uint32_t i = 0; i < (1u << bits); ++i)
        for (int c = 0; c < 3; ++c) map[c].push_back(uint16_t((i * 40 + uint32_t(c) * 7) % 256 << 8));
    TIFFSetField(tif, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
}

struct Foreign {
    const char *name;
    std::function<void(TIFF *)> tags;
    std::vector<uint8_t> stored;
    Kind kind;
    std::vector<uint8_t> rows; // in the kind's form
    int32_t dpi_x, dpi_y;
};

class ReadsForeign : public testing::TestWithParam<Foreign> {};

TEST_P(ReadsForeign, IntoTheKindsForm) {
    const Foreign c = GetParam();
    const std::vector<ReadPage> pages = read_memory(foreign_file(c.tags, c.stored));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].info.kind, c.kind);
    EXPECT_EQ(pages[0].rows, c.rows);
    EXPECT_EQ(pages[0].info.dpi_x, c.dpi_x);
    EXPECT_EQ(pages[0].info.dpi_y, c.dpi_y);
    if (c.kind == Kind::indexed) {
        EXPECT_EQ(pages[0].info.palette[3 * 1 + 1], 47); // 16-bit entries to their high byte
    }
}

const Foreign kForeign[] = {Foreign{"bilevel_min_is_black",
                                    [](TIFF *tif) { gray_tags(tif, 1, PHOTOMETRIC_MINISBLACK); },
                                    {0x0F, 0xFF},
                                    Kind::bilevel,
                                    {0xF0, 0x00},
                                    0,
                                    0},
                            Foreign{"bilevel_min_is_white",
                                    [](TIFF *tif) { gray_tags(tif, 1, PHOTOMETRIC_MINISWHITE); },
                                    {0x0F, 0xFF},
                                    Kind::bilevel,
                                    {0x0F, 0xFF},
                                    0,
                                    0},
                            Foreign{"gray_min_is_white", [](TIFF *tif) { gray_tags(tif, 8, PHOTOMETRIC_MINISWHITE); },
                                    std::vector<uint8_t>(16, 0x10), Kind::gray, std::vector<uint8_t>(16, 0xEF), 0, 0},
                            Foreign{"palette_1_bit",
                                    [](TIFF *tif) { palette_tags(tif, 1); },
                                    {0xA0, 0x01},
                                    Kind::indexed,
                                    {1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
                                    0,
                                    0},
                            Foreign{"palette_2_bits",
                                    [](TIFF *tif) { palette_tags(tif, 2); },
                                    {0x1B, 0xE4, 0xFF, 0x00},
                                    Kind::indexed,
                                    {0, 1, 2, 3, 3, 2, 1, 0, 3, 3, 3, 3, 0, 0, 0, 0},
                                    0,
                                    0},
                            Foreign{"resolution_in_centimetres",
                                    [](TIFF *tif) {
                                        gray_tags(tif, 1, PHOTOMETRIC_MINISWHITE);
                                        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
                                        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 80.0);
                                        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 77.17);
                                    },
                                    {0, 0},
                                    Kind::bilevel,
                                    {0, 0},
                                    203,
                                    196},
                            Foreign{"resolution_without_unit_is_not_absolute",
                                    [](TIFF *tif) {
                                        gray_tags(tif, 1, PHOTOMETRIC_MINISWHITE);
                                        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_NONE);
                                        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 2.0);
                                        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 1.0);
                                    },
                                    {0, 0},
                                    Kind::bilevel,
                                    {0, 0},
                                    0,
                                    0}};

INSTANTIATE_TEST_SUITE_P(Layouts, ReadsForeign, testing::ValuesIn(kForeign),
                         [](const testing::TestParamInfo<Foreign> &param) { return std::string(param.param.name); });

struct Refused {
    const char *name;
    std::function<std::vector<uint8_t>()> file;
    Status status;
    const char *words;
};

class ReaderRefuses : public testing::TestWithParam<Refused> {};

TEST_P(ReaderRefuses, WithItsReason) {
    const Refused c = GetParam();
    const std::vector<uint8_t> file = c.file();
    std::unique_ptr<Reader> reader;
    Error error;
    Status status = Reader::open_memory(file.data(), file.size(), "in.tif", reader, &error);
    std::vector<ReadPage> pages;
    if (status == Status::ok) status = read_pages(*reader, pages, &error);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(error.status, int32_t(c.status));
    EXPECT_NE(std::string(error.message).find(c.words), std::string::npos) << error.message;
}

std::vector<uint8_t> written_gray() {
    return write_memory({make_page(Kind::gray, 50, 200)}, Compression::deflate);
}

const Refused kRefused[] = {
    Refused{"pcx_file", [] { return test::read_file(IFFPCX_CORPUS_DIR "/np_8bit.pcx"); }, Status::not_tiff,
            "in.tif: cannot read it as a TIFF file"},
    Refused{"empty", [] { return std::vector<uint8_t>(); }, Status::not_tiff, "cannot read it as a TIFF file"},
    Refused{"tiled",
            [] { return foreign_file([](TIFF *tif) { gray_tags(tif, 8, PHOTOMETRIC_MINISBLACK); }, {}, true); },
            Status::unsupported, "tiles"},
    Refused{"gray_16_bits",
            [] {
                return foreign_file([](TIFF *tif) { gray_tags(tif, 16, PHOTOMETRIC_MINISBLACK); },
                                    std::vector<uint8_t>(32));
            },
            Status::unsupported, "16 bits x 1 samples"},
    Refused{"coded_data_damaged",
            [] {
                // The strip lies between the header and the directory.
                std::vector<uint8_t> file = written_gray();
                for (size_t i = 20; i < 400; ++i) file[i] = 0;
                return file;
            },
            Status::malformed, "in.tif: page 0: line 0: decoding the row failed"}};

INSTANTIATE_TEST_SUITE_P(Files, ReaderRefuses, testing::ValuesIn(kRefused),
                         [](const testing::TestParamInfo<Refused> &param) { return std::string(param.param.name); });

TEST(Reader, CallbackStopsTheRows) {
    const std::vector<uint8_t> file = written_gray();
    std::unique_ptr<Reader> reader;
    Error error;
    ASSERT_EQ(Reader::open_memory(file.data(), file.size(), "in.tif", reader, &error), Status::ok);
    auto stop = [](void *, int32_t, const uint8_t *, size_t, size_t) { return 1; };
    EXPECT_EQ(reader->read_rows(0, stop, nullptr, &error), Status::callback);
    EXPECT_EQ(reader->read_rows(1, stop, nullptr, &error), Status::argument);
    EXPECT_NE(std::string(error.message).find("page 1: no such page"), std::string::npos) << error.message;
}

} // namespace
