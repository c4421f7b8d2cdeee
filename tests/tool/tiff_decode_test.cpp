// decode to TIFF: every corpus page read back by libtiff (its own RGBA
// reader) and by Pillow to its reference image with its resolution; the
// compression each page gets; what is refused.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <tiffio.h>

#include <fstream>

#include "tool_harness.h"

namespace tool_test {
namespace {

struct CorpusFile {
    const char *name; // without extension
    const char *extension;
};

const CorpusFile kCorpus[] = {
    {"np_bilevel", ".pcx"},      {"np_1bit_2planes", ".pcx"},
    {"np_1bit_3planes", ".pcx"}, {"np_1bit_4planes", ".pcx"},
    {"np_packed_2bit", ".pcx"},  {"np_packed_4bit", ".pcx"},
    {"np_8bit", ".pcx"},         {"np_8bit_few_colours", ".pcx"},
    {"np_24bit", ".pcx"},        {"np_window_offset", ".pcx"},
    {"im_palette8", ".pcx"},     {"im_truecolor", ".pcx"},
    {"pil_bilevel", ".pcx"},     {"pil_gray", ".pcx"},
    {"pil_palette", ".pcx"},     {"pil_rgb", ".pcx"},
    {"im_pages", ".dcx"},        {"np_pages", ".dcx"},
};

void PrintTo(const CorpusFile &file, std::ostream *os) {
    *os << file.name << file.extension;
}

std::string corpus(const std::string &name) {
    return std::string(PCXTOOL_CORPUS_DIR) + "/" + name;
}

struct TiffPage {
    Image image;
    float dpi_x = 0, dpi_y = 0;
    uint16_t compression = 0, photometric = 0;
};

// Every page as libtiff's own RGBA reader gives it.
std::vector<TiffPage> read_tiff(const std::string &path) {
    std::vector<TiffPage> pages;
    TIFF *tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) {
        return pages;
    }
    do {
        TiffPage page;
        uint32_t width = 0, height = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(tif, TIFFTAG_XRESOLUTION, &page.dpi_x);
        TIFFGetField(tif, TIFFTAG_YRESOLUTION, &page.dpi_y);
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &page.compression);
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &page.photometric);
        std::vector<uint32_t> raster(size_t(width) * height);
        if (!TIFFReadRGBAImageOriented(tif, width, height, raster.data(), ORIENTATION_TOPLEFT, 0)) {
            break;
        }
        page.image.width = int(width);
        page.image.height = int(height);
        for (uint32_t pixel : raster) {
            page.image.rgb.push_back(uint8_t(TIFFGetR(pixel)));
            page.image.rgb.push_back(uint8_t(TIFFGetG(pixel)));
            page.image.rgb.push_back(uint8_t(TIFFGetB(pixel)));
        }
        pages.push_back(page);
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    return pages;
}

class CorpusToTiff : public testing::TestWithParam<CorpusFile> {};

TEST_P(CorpusToTiff, EveryPageReadsBackByLibtiffAndPillowWithItsResolution) {
    const CorpusFile &file = GetParam();
    const std::string source = corpus(std::string(file.name) + file.extension);
    TempDir dir;
    const RunResult info = run_pcxtool({"info", "--json", source});
    ASSERT_EQ(info.exit_code, 0) << info.err;
    const auto described = nlohmann::json::parse(info.out).at(0).at("pages");
    const std::string out = dir / "out.tif";
    const RunResult decoded = run_pcxtool({"decode", source, out});
    ASSERT_EQ(decoded.exit_code, 0) << decoded.err;

    const std::vector<TiffPage> pages = read_tiff(out);
    ASSERT_EQ(pages.size(), described.size());
    std::ofstream manifest(dir / "pages.txt");
    for (size_t k = 0; k < pages.size(); ++k) {
        const std::string reference =
            corpus(std::string(file.name) + (pages.size() > 1 ? ".p" + std::to_string(k) : "") + ".ppm");
        EXPECT_EQ(pages[k].image, read_ppm(reference)) << "page " << k;
        const int dpi_x = described[k].at("dpi")[0], dpi_y = described[k].at("dpi")[1];
        EXPECT_EQ(pages[k].dpi_x, float(dpi_x)) << "page " << k;
        EXPECT_EQ(pages[k].dpi_y, float(dpi_y)) << "page " << k;
        manifest << out << " " << k << " " << reference << " " << dpi_x << " " << dpi_y << "\n";
    }
    manifest.close();
    const RunResult pillow =
        run_program({"/usr/bin/python3", std::string(PCXTOOL_SOURCE_DIR) + "/tests/tiff/check_readers.py", "pillow",
                     dir / "pages.txt"});
    if (pillow.exit_code == 77) {
        GTEST_SKIP() << "Pillow is not installed";
    }
    EXPECT_EQ(pillow.exit_code, 0) << pillow.out << pillow.err;
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusToTiff, testing::ValuesIn(kCorpus));

// np_pages.dcx: three palette or RGB pages, then a bilevel one.
struct CompressionCase {
    std::vector<std::string> options;
    std::vector<uint16_t> compressions; // per page written
};

TEST(TiffDecode, CompressionAndPagesFollowTheOptions) {
    const std::string dcx = corpus("np_pages.dcx");
    const uint16_t deflate = COMPRESSION_ADOBE_DEFLATE, g4 = COMPRESSION_CCITTFAX4;
    const CompressionCase cases[] = {
        {{}, {deflate, deflate, deflate, g4}},
        {{"--compress", "none"}, {COMPRESSION_NONE, COMPRESSION_NONE, COMPRESSION_NONE, COMPRESSION_NONE}},
        {{"--compress", "lzw"}, {COMPRESSION_LZW, COMPRESSION_LZW, COMPRESSION_LZW, COMPRESSION_LZW}},
        {{"--compress", "deflate"}, {deflate, deflate, deflate, deflate}},
        {{"--compress", "g4"}, {deflate, deflate, deflate, g4}},
        {{"--page", "3"}, {g4}},
        {{"--page", "1", "--compress", "none"}, {COMPRESSION_NONE}},
    };
    for (const CompressionCase &c : cases) {
        TempDir dir;
        std::vector<std::string> args{"decode", dcx, dir / "out.TIFF"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult run = run_pcxtool(args);
        ASSERT_EQ(run.exit_code, 0) << run.err;
        const std::vector<TiffPage> pages = read_tiff(dir / "out.TIFF");
        ASSERT_EQ(pages.size(), c.compressions.size()) << args[3];
        for (size_t k = 0; k < pages.size(); ++k) {
            EXPECT_EQ(pages[k].compression, c.compressions[k]) << "page " << k;
        }
    }
}

TEST(TiffDecode, FaxResolutionsAreKeptAndBlackIsBlack) {
    TempDir dir;
    write_pnm(dir / "fax.pbm", make_image(Content::BlackWhite, 64, 40), false);
    for (const std::string dpi : {"204x196", "200x100", "300"}) {
        ASSERT_EQ(run_pcxtool({"encode", "--dpi", dpi, dir / "fax.pbm", dir / "fax.pcx"}).exit_code, 0);
        const RunResult run = run_pcxtool({"decode", "--to", "tiff", dir / "fax.pcx", dir / "fax.out"});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        const std::vector<TiffPage> pages = read_tiff(dir / "fax.out");
        ASSERT_EQ(pages.size(), 1u);
        const size_t x = dpi.find('x');
        EXPECT_EQ(pages[0].dpi_x, std::stof(dpi.substr(0, x))) << dpi;
        EXPECT_EQ(pages[0].dpi_y, std::stof(x == std::string::npos ? dpi : dpi.substr(x + 1))) << dpi;
        EXPECT_EQ(pages[0].compression, COMPRESSION_CCITTFAX4);
        EXPECT_EQ(pages[0].photometric, PHOTOMETRIC_MINISWHITE);
        EXPECT_EQ(pages[0].image, make_image(Content::BlackWhite, 64, 40));
    }
}

struct Refusal {
    std::vector<std::string> args; // OUT is dir/out.tif unless given
    int exit_code;
    const char *message;
};

TEST(TiffDecode, RefusesWithoutLeavingAFile) {
    TempDir dir;
    const std::string pcx = corpus("np_24bit.pcx");
    auto bytes = read_bytes(pcx);
    bytes.resize(bytes.size() / 2);
    write_bytes(dir / "short.pcx", bytes);
    const std::string out = dir / "out.tif";
    const Refusal refusals[] = {
        {{"decode", "--compress", "g3", pcx, out}, 2, "--compress takes"},
        {{"decode", "--compress", "lzw", pcx, dir / "out.png"}, 2, "--compress applies to TIFF"},
        {{"decode", corpus("np_pages.dcx"), dir / "out.%d.tif"}, 2, "a TIFF file holds every page"},
        {{"decode", "--page", "9", corpus("np_pages.dcx"), out}, 1, "page"},
        {{"decode", dir / "short.pcx", out}, 1, "short.pcx"},
    };
    for (const Refusal &refusal : refusals) {
        const RunResult run = run_pcxtool(refusal.args);
        EXPECT_EQ(run.exit_code, refusal.exit_code) << run.err;
        EXPECT_NE(run.err.find(refusal.message), std::string::npos) << run.err;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1) << run.err;
    }
    // --partial keeps the short page, rows missing, and still fails.
    const RunResult partial = run_pcxtool({"decode", "--partial", dir / "short.pcx", out});
    EXPECT_EQ(partial.exit_code, 1);
    EXPECT_EQ(read_tiff(out).size(), 1u);
}

} // namespace
} // namespace tool_test
