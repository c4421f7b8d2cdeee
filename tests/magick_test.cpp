// Files written by two other programs, with stored (uncoded) lines and with
// 32-bit red, green, blue, alpha pages, decode to the images those programs
// read back from them, page by page and inside multi-page files too.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "iffpcx.h"
#include "support/memory_stream.h"

namespace {

const std::string kDir = IFFPCX_MAGICK_DIR;

struct Rgba {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels; // 4 bytes a pixel; opaque where the file has no alpha
};

// Binary PPM (P6) or PAM (P7) with 3 or 4 channels of maximum value 255.
bool read_reference(const std::string &path, Rgba &image) {
    const std::vector<uint8_t> bytes = test::read_file(path);
    const std::string text(bytes.begin(), bytes.end());
    std::istringstream in(text);
    std::string magic, word;
    int channels = 3, maxval = 0;
    in >> magic;
    if (magic == "P6") {
        in >> image.width >> image.height >> maxval;
    } else if (magic == "P7") {
        while (in >> word && word != "ENDHDR") {
            if (word == "WIDTH") in >> image.width;
            if (word == "HEIGHT") in >> image.height;
            if (word == "DEPTH") in >> channels;
            if (word == "MAXVAL") in >> maxval;
            if (word == "TUPLTYPE") in >> word;
        }
    } else {
        return false;
    }
    const size_t start = size_t(in.tellg()) + 1; // one whitespace byte ends the header
    const size_t count = size_t(image.width) * size_t(image.height);
    if (!in || maxval != 255 || (channels != 3 && channels != 4) || bytes.size() - start != count * channels)
        return false;
    image.pixels.assign(count * 4, 255);
    for (size_t i = 0; i < count; ++i)
        std::memcpy(&image.pixels[4 * i], &bytes[start + i * channels], size_t(channels));
    return true;
}

// Decodes the current page: 32-bit pages in the interleaved layout, 24-bit
// pages as they come, the others as indices through the exported palette.
// All lines in one call, so they land one line stride apart.
void decode_page(int32_t handle, const IFFImageInfo &info, Rgba &out) {
    const bool rgba = info.bits == 32;
    const bool rgb = info.color_class == 3;
    std::vector<uint8_t> palette(768, 0);
    const uint32_t layout = rgba ? IFF_PIXELS_INTERLEAVED : rgb ? IFF_PIXELS_SCALED : IFF_PIXELS_INDEX;
    ASSERT_EQ(IFFControl(handle, IFF_REQ_PIXEL_FORMAT, layout, 0, nullptr), IFF_OK);
    if (!rgba && !rgb) {
        ASSERT_EQ(IFFControl(handle, IFF_REQ_PALETTE, 0, 0, palette.data()), IFF_OK);
    }
    uint16_t line_size = 0;
    ASSERT_EQ(IFFControl(handle, IFF_REQ_LINE_SIZE, 0, 0, &line_size), IFF_OK);
    const int channels = rgba ? 4 : rgb ? 3 : 1;
    ASSERT_EQ(line_size, info.width * channels);
    std::vector<uint8_t> lines(size_t(line_size) * size_t(info.height));
    ASSERT_EQ(IFFGetLine(handle, uint32_t(info.height), lines.data()), IFF_OK);
    out.width = info.width;
    out.height = info.height;
    out.pixels.assign(size_t(info.width) * size_t(info.height) * 4, 255);
    for (size_t i = 0; i < size_t(info.width) * size_t(info.height); ++i) {
        const uint8_t *from = channels == 1 ? &palette[3 * lines[i]] : &lines[i * channels];
        std::memcpy(&out.pixels[4 * i], from, channels == 4 ? 4 : 3);
    }
}

struct MagickFile {
    std::string name; // without extension
    int pages;        // 1: a .pcx file, otherwise a .dcx file
};

std::vector<MagickFile> magick_files() {
    std::vector<MagickFile> files;
    for (const std::string program : {"im", "gm"}) {
        // Only one of the two writes 1-bit pages whose bits agree with their colour map.
        const bool bilevel = program == "gm";
        for (const char *kind : {"rgba_stored", "rgba_coded", "rgb_stored", "pal_stored", "bw_stored"}) {
            if (!bilevel && std::strcmp(kind, "bw_stored") == 0) continue;
            for (int width : {1, 3, 13, 33, 65})
                files.push_back({program + "_" + kind + "_w" + std::to_string(width), 1});
        }
        files.push_back({program + "_stored", bilevel ? 5 : 4});
        files.push_back({program + "_rgba", 3});
    }
    return files;
}

class MagickTest : public ::testing::TestWithParam<MagickFile> {};

TEST_P(MagickTest, DecodesEveryPageToTheWritersImage) {
    const MagickFile &file = GetParam();
    const std::string base = kDir + "/" + file.name;
    const std::string path = base + (file.pages > 1 ? ".dcx" : ".pcx");
    // By name, and through the host's stream in reads of a few bytes, so
    // that stored lines cross many refills.
    for (int through_stream = 0; through_stream < 2; ++through_stream) {
        test::MemoryStream stream(test::read_file(path));
        IFFImageInfo info{};
        const int32_t handle = through_stream ? IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info)
                                              : IFFOpen(path.c_str(), IFF_MODE_READ, &info);
        ASSERT_GT(handle, 0) << path;
        for (int page = 0; page < file.pages; ++page) {
            stream.max_read = INT32_MAX; // a page's header takes one whole read
            if (page > 0) {
                ASSERT_EQ(IFFControl(handle, IFF_REQ_SELECT_PAGE, 0, page, nullptr), IFF_OK);
            }
            stream.max_read = 7;
            // Pages with alpha have a PAM reference, the others a PPM.
            const std::string stem = file.pages > 1 ? base + ".p" + std::to_string(page) : base;
            Rgba expected, actual;
            const std::string reference = read_reference(stem + ".pam", expected) ? stem + ".pam" : stem + ".ppm";
            ASSERT_TRUE(read_reference(reference, expected)) << reference;
            decode_page(handle, info, actual);
            ASSERT_EQ(actual.width, expected.width) << reference;
            ASSERT_EQ(actual.height, expected.height) << reference;
            EXPECT_TRUE(actual.pixels == expected.pixels) << reference;
        }
        EXPECT_EQ(IFFClose(handle), IFF_OK);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, MagickTest, ::testing::ValuesIn(magick_files()),
                         [](const ::testing::TestParamInfo<MagickFile> &param) { return param.param.name; });

} // namespace
