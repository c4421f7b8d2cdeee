// Every page of every file in the corpus, decoded through the entry points,
// written as TIFF and read back to its reference pixels and resolution: by
// our reader, by libtiff's tools, by Pillow and, where installed, by
// ImageMagick.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "iffpcx.h"
#include "support/pcx_builder.h"
#include "tiff_test_support.h"

namespace {

using namespace tifftest;
namespace fs = std::filesystem;

struct CorpusPage {
    TestPage written; // as handed to the writer
    test::Image reference;
};

struct CorpusFile {
    std::string name; // e.g. np_pages.dcx
    std::string tiff; // where it was written
    std::vector<CorpusPage> pages;
};

// Sets the bit of pixel x in a packed row.
void set_bit(uint8_t *row, size_t x) {
    row[x / 8] |= uint8_t(0x80 >> (x % 8));
}

bool is_gray(const uint8_t *rgb) {
    return rgb[0] == rgb[1] && rgb[1] == rgb[2];
}

// The page as the whole-image layer would hand it over: bilevel pages whose
// two colours are black and white as bits, grayscale pages of grays as gray
// bytes, other palette pages as indices, 24-bit pages as RGB.
void decode_page(int32_t handle, const IFFImageInfo &info, TestPage &out) {
    ASSERT_EQ(IFFControl(handle, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr), IFF_OK);
    uint32_t stride = 0;
    ASSERT_EQ(IFFControl(handle, IFF_REQ_LINE_STRIDE, 0, 0, &stride), IFF_OK);
    std::vector<uint8_t> lines(size_t(stride) * size_t(info.height));
    ASSERT_EQ(IFFGetLine(handle, uint32_t(info.height), lines.data()), IFF_OK);
    int32_t dpi[2] = {};
    ASSERT_EQ(IFFControl(handle, IFF_REQ_RESOLUTION, 3, 0, dpi), IFF_OK);
    Page &page = out.page;
    page.width = info.width;
    page.height = info.height;
    page.dpi_x = dpi[0];
    page.dpi_y = dpi[1];
    const auto width = size_t(info.width);
    if (info.color_class == 3) {
        page.kind = Kind::rgb;
        out.stride = stride;
        out.rows = lines;
        return;
    }
    uint16_t palette_bytes = 0;
    ASSERT_EQ(IFFControl(handle, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &palette_bytes), IFF_OK);
    std::vector<uint8_t> palette(palette_bytes);
    ASSERT_EQ(IFFControl(handle, IFF_REQ_PALETTE, 0, 0, palette.data()), IFF_OK);
    const size_t entries = palette.size() / 3;
    bool grays = true;
    for (size_t i = 0; i < entries; ++i) grays = grays && is_gray(&palette[3 * i]);
    const bool black_white = info.color_class == 0 && entries == 2 && grays && std::min(palette[0], palette[3]) == 0 &&
                             std::max(palette[0], palette[3]) == 255;
    page.kind = black_white ? Kind::bilevel : info.color_class == 1 && grays ? Kind::gray : Kind::indexed;
    out.stride = row_bytes(page.kind, info.width);
    out.rows.assign(out.stride * size_t(info.height), 0);
    for (size_t y = 0; y < size_t(info.height); ++y) {
        const uint8_t *in = lines.data() + y * stride;
        uint8_t *row = out.rows.data() + y * out.stride;
        for (size_t x = 0; x < width; ++x) {
            const uint8_t *colour = &palette[3 * in[x]];
            if (page.kind == Kind::bilevel && colour[0] == 0) set_bit(row, x);
            if (page.kind == Kind::gray) row[x] = colour[0];
        }
        if (page.kind == Kind::indexed) std::memcpy(row, in, width);
    }
    if (page.kind == Kind::indexed) {
        out.palette = palette;
        page.palette_entries = uint32_t(entries);
    }
}

std::vector<std::string> corpus_files() {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(IFFPCX_CORPUS_DIR)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".pcx" || ext == ".dcx") names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Writes every corpus file as a TIFF file of its pages in a folder of the
// test's own (tests run in parallel).
std::vector<CorpusFile> write_corpus(const std::string &folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::vector<CorpusFile> files;
    for (const std::string &name : corpus_files()) {
        CorpusFile file{name, folder + "/" + name.substr(0, name.size() - 4) + ".tif", {}};
        const std::string path = std::string(IFFPCX_CORPUS_DIR) + "/" + name;
        const std::string base = path.substr(0, path.size() - 4);
        const bool multi = name.substr(name.size() - 4) == ".dcx";
        IFFImageInfo info{};
        const int32_t handle = IFFOpen(path.c_str(), IFF_MODE_READ, &info);
        EXPECT_GT(handle, 0) << path;
        uint16_t pages = 0;
        EXPECT_EQ(IFFControl(handle, IFF_REQ_PAGE_COUNT, 0, 0, &pages), IFF_OK);
        for (uint16_t p = 0; p < pages; ++p) {
            if (p > 0) {
                EXPECT_EQ(IFFControl(handle, IFF_REQ_SELECT_PAGE, 0, p, nullptr), IFF_OK);
            }
            CorpusPage page;
            decode_page(handle, info, page.written);
            const std::string ppm = multi ? base + ".p" + std::to_string(p) + ".ppm" : base + ".ppm";
            EXPECT_TRUE(test::read_ppm(ppm, page.reference)) << ppm;
            file.pages.push_back(page);
        }
        EXPECT_EQ(IFFClose(handle), IFF_OK);
        std::vector<TestPage> written;
        for (const CorpusPage &page : file.pages) written.push_back(page.written);
        std::unique_ptr<iff::tiff::Writer> writer;
        iff::tiff::Error error;
        EXPECT_EQ(iff::tiff::Writer::to_path(file.tiff.c_str(), Compression::page_default, writer, &error), Status::ok);
        EXPECT_EQ(write_pages(*writer, written, 16, &error), Status::ok) << error.message;
        EXPECT_EQ(writer->finish(&error), Status::ok) << error.message;
        files.push_back(file);
    }
    return files;
}

std::string work_folder() {
    return std::string(IFFPCX_TIFF_WORK_DIR) + "/" + testing::UnitTest::GetInstance()->current_test_info()->name();
}

// Runs a shell command; its exit status, with its output in output.
int run(const std::string &command, std::string &output) {
    output.clear();
    std::FILE *pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quoted(const std::string &s) {
    return "'" + s + "'";
}

bool installed(const std::string &program) {
    std::string output;
    return run("command -v " + quoted(program), output) == 0;
}

// Checks each page's pixels as read by a reader of ours against its reference.
void expect_reference_pixels(const CorpusFile &file, const std::vector<ReadPage> &back, const char *reader) {
    ASSERT_EQ(back.size(), file.pages.size()) << file.name << " through " << reader;
    for (size_t p = 0; p < back.size(); ++p) {
        const test::Image &want = file.pages[p].reference;
        EXPECT_EQ(back[p].info.width, want.width) << file.name << " page " << p;
        EXPECT_EQ(back[p].info.height, want.height) << file.name << " page " << p;
        EXPECT_TRUE(to_rgb(back[p].info, back[p].rows) == want.rgb)
            << file.name << " page " << p << " through " << reader;
    }
}

TEST(CorpusAsTiff, OurReaderGivesTheReferencePixelsAndResolution) {
    const std::vector<CorpusFile> files = write_corpus(work_folder());
    ASSERT_GE(files.size(), 18u);
    for (const CorpusFile &file : files) {
        const std::vector<ReadPage> back = read_memory(read_file(file.tiff));
        expect_reference_pixels(file, back, "our reader");
        for (size_t p = 0; p < back.size() && p < file.pages.size(); ++p) {
            const Page &page = file.pages[p].written.page;
            EXPECT_EQ(back[p].info.kind, page.kind) << file.name << " page " << p;
            EXPECT_EQ(back[p].info.dpi_x, page.dpi_x) << file.name << " page " << p;
            EXPECT_EQ(back[p].info.dpi_y, page.dpi_y) << file.name << " page " << p;
        }
    }
}

TEST(CorpusAsTiff, LibtiffToolsReadEveryPage) {
    if (!installed("tiffinfo") || !installed("tiff2rgba")) GTEST_SKIP() << "libtiff-tools is not installed";
    const std::string folder = work_folder();
    for (const CorpusFile &file : write_corpus(folder)) {
        SCOPED_TRACE(file.name);
        std::string info;
        ASSERT_EQ(run("tiffinfo " + quoted(file.tiff), info), 0) << info;
        EXPECT_EQ(info.find("Warning"), std::string::npos) << info;
        EXPECT_EQ(info.find("Error"), std::string::npos) << info;
        // Each page's directory, with its resolution where it has one.
        size_t at = 0;
        for (const CorpusPage &page : file.pages) {
            at = info.find("TIFF Directory", at);
            ASSERT_NE(at, std::string::npos) << info;
            const size_t next = info.find("TIFF Directory", at + 1);
            const std::string directory = info.substr(at, next == std::string::npos ? next : next - at);
            const std::string resolution = "Resolution: " + std::to_string(page.written.page.dpi_x) + ", " +
                                           std::to_string(page.written.page.dpi_y) + " pixels/inch";
            const bool any = page.written.page.dpi_x > 0 || page.written.page.dpi_y > 0;
            EXPECT_EQ(directory.find(any ? resolution : "Resolution") != std::string::npos, any) << directory;
            at = next;
        }
        EXPECT_EQ(at, std::string::npos) << "more directories than pages: " << info;
        // tiff2rgba decodes through libtiff's RGBA path, not the scanline one ours uses.
        const std::string rgb = folder + "/" + file.name + ".rgb.tif";
        std::string output;
        ASSERT_EQ(run("tiff2rgba -n -c none " + quoted(file.tiff) + " " + quoted(rgb), output), 0) << output;
        expect_reference_pixels(file, read_memory(read_file(rgb)), "tiff2rgba");
    }
}

// A list of what each page must read as, for the Python script: TIFF file,
// page, reference PPM, resolution.
std::string write_manifest(const std::string &folder, const std::vector<CorpusFile> &files) {
    const std::string path = folder + "/manifest.txt";
    std::FILE *f = std::fopen(path.c_str(), "w");
    for (const CorpusFile &file : files) {
        const std::string base = std::string(IFFPCX_CORPUS_DIR) + "/" + file.name.substr(0, file.name.size() - 4);
        for (size_t p = 0; p < file.pages.size(); ++p) {
            const std::string ppm = file.pages.size() > 1 ? base + ".p" + std::to_string(p) + ".ppm" : base + ".ppm";
            const Page &page = file.pages[p].written.page;
            std::fprintf(f, "%s %zu %s %d %d\n", file.tiff.c_str(), p, ppm.c_str(), int(page.dpi_x), int(page.dpi_y));
        }
    }
    std::fclose(f);
    return path;
}

void check_with_script(const std::string &peer, const std::string &program) {
    if (access(IFFPCX_SYSTEM_PYTHON, X_OK) != 0) GTEST_SKIP() << "no " << IFFPCX_SYSTEM_PYTHON;
    const std::string folder = work_folder();
    const std::string manifest = write_manifest(folder, write_corpus(folder));
    std::string output;
    const int status = run(std::string(IFFPCX_SYSTEM_PYTHON) + " " + quoted(IFFPCX_TIFF_CHECK_SCRIPT) + " " + peer +
                               " " + quoted(manifest) + (program.empty() ? "" : " " + quoted(program)),
                           output);
    if (status == 77) GTEST_SKIP() << output;
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("pages read exactly"), std::string::npos) << output;
}

TEST(CorpusAsTiff, PillowReadsEveryPage) {
    check_with_script("pillow", "");
}

TEST(CorpusAsTiff, ImageMagickReadsEveryPage) {
    // ImageMagick's own programs by their versioned names, or its single one.
    for (const char *program : {"convert-im6.q16", "convert-im7.q16", "magick"}) {
        if (installed(program)) return check_with_script("magick", program);
    }
    GTEST_SKIP() << "ImageMagick is not installed";
}

} // namespace
