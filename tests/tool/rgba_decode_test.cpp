// Pages of red, green, blue and alpha planes, written by other programs:
// info names them "rgba", decode writes them to RGBA PNG and to PAM exactly
// as the writing program reads them, and refuses formats without alpha.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>

#include "tool_harness.h"

namespace tool_test {
namespace {

struct RgbaFile {
    const char *name; // in tests/magick, without extension
    const char *extension;
    int pages;
};

const RgbaFile kFiles[] = {
    {"im_rgba_stored_w13", ".pcx", 1},
    {"gm_rgba_coded_w65", ".pcx", 1},
    {"gm_rgba", ".dcx", 3},
};

std::string magick(const std::string &name) {
    return std::string(PCXTOOL_SOURCE_DIR) + "/tests/magick/" + name;
}

// The pixels of a PAM file: everything after its header.
std::vector<uint8_t> pam_pixels(const std::vector<uint8_t> &pam) {
    static const std::string kEnd = "ENDHDR\n";
    const auto at = std::search(pam.begin(), pam.end(), kEnd.begin(), kEnd.end());
    return at == pam.end() ? std::vector<uint8_t>{} : std::vector<uint8_t>(at + long(kEnd.size()), pam.end());
}

// The pixels of a PNG file as RGBA, and whether it is stored as RGBA.
std::vector<uint8_t> png_rgba(const std::string &path, bool *stored_as_rgba) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    *stored_as_rgba = image.format == PNG_FORMAT_RGBA;
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
    return pixels;
}

class RgbaDecode : public testing::TestWithParam<RgbaFile> {};

TEST_P(RgbaDecode, PagesBecomeRgbaPngAndPam) {
    const RgbaFile &file = GetParam();
    const std::string source = magick(std::string(file.name) + file.extension);
    TempDir dir;

    const RunResult info = run_pcxtool({"info", source});
    ASSERT_EQ(info.exit_code, 0) << info.err;
    EXPECT_NE(info.out.find("page " + std::to_string(file.pages - 1) + ": "), std::string::npos) << info.out;
    EXPECT_EQ(info.out.find(", palette,"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find(", rgba, 32 bits (4 planes x 8 bits)"), std::string::npos) << info.out;

    const RunResult to_pam = run_pcxtool({"decode", source, dir / "page-%d.pnm"});
    ASSERT_EQ(to_pam.exit_code, 0) << to_pam.err;
    const RunResult to_png = run_pcxtool({"decode", source, dir / "page-%d.png"});
    ASSERT_EQ(to_png.exit_code, 0) << to_png.err;
    for (int page = 0; page < file.pages; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        const std::string suffix = file.pages > 1 ? ".p" + std::to_string(page) : "";
        const std::vector<uint8_t> reference = read_bytes(magick(file.name + suffix + ".pam"));
        ASSERT_FALSE(reference.empty());
        // The PAM header is laid out as the writing programs lay out theirs.
        EXPECT_TRUE(read_bytes(dir / ("page-" + std::to_string(page) + ".pnm")) == reference);
        bool stored_as_rgba = false;
        EXPECT_TRUE(png_rgba(dir / ("page-" + std::to_string(page) + ".png"), &stored_as_rgba) ==
                    pam_pixels(reference));
        EXPECT_TRUE(stored_as_rgba);
    }

    for (const char *without_alpha : {"out.ppm", "out.pgm", "out.pbm"}) {
        const RunResult refused = run_pcxtool({"decode", source, dir / without_alpha});
        EXPECT_EQ(refused.exit_code, 1) << without_alpha;
        EXPECT_NE(refused.err.find("cannot hold the alpha of this RGBA page"), std::string::npos) << refused.err;
    }
}

INSTANTIATE_TEST_SUITE_P(Magick, RgbaDecode, testing::ValuesIn(kFiles),
                         [](const testing::TestParamInfo<RgbaFile> &param_info) {
                             return std::string(param_info.param.name);
                         });

} // namespace
} // namespace tool_test
