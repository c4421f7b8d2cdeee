// The whole-image layer through its C interface only: forms of every kind of
// page, layouts chosen from colours, limits, short pages, DCX files, outputs,
// and one thread against two.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "iffpcx_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Image {
    int32_t width, height;
    Bytes rgb;
};

// Pixels of `colours` distinct colours (gray ones when `gray`), in stripes.
Image make_image(int32_t width, int32_t height, int colours, bool gray) {
    Image image{width, height, Bytes(size_t(width) * size_t(height) * 3)};
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int c = (x + y * width) % colours;
            uint8_t *p = &image.rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
            if (colours == 2) {
                p[0] = p[1] = p[2] = c == 0 ? 0 : 255;
            } else if (gray) {
                p[0] = p[1] = p[2] = uint8_t(c * 255 / (colours - 1));
            } else {
                p[0] = uint8_t(c), p[1] = c >= 256 ? 200 : 17, p[2] = uint8_t(c * 3);
            }
        }
    }
    return image;
}

iffpcx_image describe(const Image &image) {
    iffpcx_image desc{};
    desc.width = image.width;
    desc.height = image.height;
    desc.form = IFFPCX_FORM_RGB;
    desc.pixels = image.rgb.data();
    desc.stride = 3 * size_t(image.width);
    desc.name = "test image";
    return desc;
}

Bytes encode(const Image &image, int32_t bits = 0, uint32_t flags = 0, iffpcx_layout *layout = nullptr,
             iffpcx_status expected = IFFPCX_OK) {
    iffpcx_output *output = nullptr;
    EXPECT_EQ(iffpcx_output_memory(&output, nullptr), IFFPCX_OK);
    const iffpcx_image desc = describe(image);
    iffpcx_encode_options options{bits, flags};
    iffpcx_error error{};
    EXPECT_EQ(iffpcx_encode(&desc, &options, output, layout, &error), expected) << error.message;
    size_t size = 0;
    const uint8_t *bytes = iffpcx_output_bytes(output, &size);
    Bytes file(bytes, bytes + size);
    iffpcx_output_free(output);
    return file;
}

struct File {
    iffpcx_file *file = nullptr;
    iffpcx_error error{};
    iffpcx_status status;
    explicit File(const Bytes &bytes, const iffpcx_limits *limits = nullptr)
        : status(iffpcx_open_memory(bytes.data(), bytes.size(), "test.pcx", limits, &file, &error)) {}
    ~File() { iffpcx_close(file); }
};

Bytes decode(iffpcx_file *file, uint32_t page, iffpcx_form form, uint32_t flags = 0, iffpcx_status expected = IFFPCX_OK,
             iffpcx_error *error_out = nullptr) {
    iffpcx_page_info info;
    EXPECT_EQ(iffpcx_page_info_get(file, page, &info, nullptr), IFFPCX_OK);
    size_t stride = 0, size = 0;
    EXPECT_EQ(iffpcx_decoded_size(&info, form, &stride, &size), IFFPCX_OK);
    Bytes pixels(size, 0xAA);
    iffpcx_error error{};
    EXPECT_EQ(iffpcx_decode(file, page, form, flags, pixels.data(), stride, &error), expected) << error.message;
    if (error_out != nullptr) *error_out = error;
    return pixels;
}

uint8_t luma(const uint8_t *p) {
    return uint8_t((299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000);
}

// Each kind of image: the layout its colours get, and the forms it decodes into.
struct KindCase {
    const char *name;
    int colours;
    bool gray;
    uint32_t color_class;
    int32_t bits;
    uint32_t kind;
};

class Kinds : public testing::TestWithParam<KindCase> {};

TEST_P(Kinds, EncodeInTheirLayoutAndDecodeInEveryForm) {
    const KindCase &c = GetParam();
    const Image image = make_image(37, 11, c.colours, c.gray);
    iffpcx_layout layout{};
    const Bytes pcx = encode(image, 0, 0, &layout);
    EXPECT_EQ(layout.color_class, c.color_class);
    EXPECT_EQ(layout.bits, c.bits);
    File file(pcx);
    ASSERT_EQ(file.status, IFFPCX_OK) << file.error.message;
    iffpcx_page_info info;
    ASSERT_EQ(iffpcx_page_info_get(file.file, 0, &info, nullptr), IFFPCX_OK);
    EXPECT_EQ(info.kind, c.kind);
    EXPECT_EQ(info.width, 37);
    EXPECT_EQ(info.height, 11);

    const size_t pixels = 37 * 11;
    const Bytes rgb = decode(file.file, 0, IFFPCX_FORM_RGB);
    EXPECT_EQ(rgb, image.rgb);
    const Bytes rgba = decode(file.file, 0, IFFPCX_FORM_RGBA);
    const Bytes gray = decode(file.file, 0, IFFPCX_FORM_GRAY);
    for (size_t k = 0; k < pixels; ++k) {
        EXPECT_EQ(Bytes(rgba.begin() + long(4 * k), rgba.begin() + long(4 * k + 3)),
                  Bytes(image.rgb.begin() + long(3 * k), image.rgb.begin() + long(3 * k + 3)));
        EXPECT_EQ(rgba[4 * k + 3], 255);
        EXPECT_EQ(gray[k], luma(&image.rgb[3 * k]));
    }
    const bool indexed = c.kind != IFFPCX_KIND_RGB;
    size_t stride = 0, size = 0;
    EXPECT_EQ(iffpcx_decoded_size(&info, IFFPCX_FORM_INDEX, &stride, &size), indexed ? IFFPCX_OK : IFFPCX_ERR_ARGUMENT);
    if (indexed) {
        const Bytes index = decode(file.file, 0, IFFPCX_FORM_INDEX);
        for (size_t k = 0; k < pixels; ++k) {
            ASSERT_LT(index[k], info.palette_entries);
            EXPECT_EQ(Bytes(info.palette + 3 * index[k], info.palette + 3 * index[k] + 3),
                      Bytes(image.rgb.begin() + long(3 * k), image.rgb.begin() + long(3 * k + 3)));
        }
    }
    const bool bilevel = c.kind == IFFPCX_KIND_BILEVEL;
    EXPECT_EQ(iffpcx_decoded_size(&info, IFFPCX_FORM_BITS, &stride, &size), bilevel ? IFFPCX_OK : IFFPCX_ERR_ARGUMENT);
    if (bilevel) {
        const Bytes bits = decode(file.file, 0, IFFPCX_FORM_BITS);
        const Bytes flags = decode(file.file, 0, IFFPCX_FORM_BOOL);
        EXPECT_EQ(stride, 5u);
        for (size_t y = 0; y < 11; ++y) {
            for (size_t x = 0; x < 37; ++x) {
                const bool white = image.rgb[3 * (y * 37 + x)] == 255;
                EXPECT_EQ((bits[y * 5 + x / 8] >> (7 - x % 8) & 1) == 0, white);
                EXPECT_EQ(flags[y * 37 + x], white ? 1 : 0);
            }
            EXPECT_EQ(bits[y * 5 + 4] & 0x07, 0); // the last byte's unused bits
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Pages, Kinds,
                         testing::Values(KindCase{"bilevel", 2, false, 0, 1, IFFPCX_KIND_BILEVEL},
                                         KindCase{"gray", 40, true, 1, 8, IFFPCX_KIND_GRAY},
                                         KindCase{"sixteen", 16, false, 2, 4, IFFPCX_KIND_INDEXED},
                                         KindCase{"two_hundred", 200, false, 2, 8, IFFPCX_KIND_INDEXED},
                                         KindCase{"rgb", 300, false, 3, 24, IFFPCX_KIND_RGB}),
                         [](const testing::TestParamInfo<KindCase> &param) { return std::string(param.param.name); });

// Layouts asked for with bits: taken where the colours fit, refused where not.
struct BitsCase {
    int colours;
    int32_t bits;
    iffpcx_status status;
    int32_t chosen_bits;
};

class Bits : public testing::TestWithParam<BitsCase> {};

TEST_P(Bits, FitTheColoursOrAreRefused) {
    const BitsCase &c = GetParam();
    iffpcx_layout layout{};
    const Bytes pcx = encode(make_image(40, 9, c.colours, false), c.bits, 0, &layout, c.status);
    if (c.status != IFFPCX_OK) {
        EXPECT_TRUE(pcx.empty());
        return;
    }
    EXPECT_EQ(layout.bits, c.chosen_bits);
    File file(pcx);
    EXPECT_EQ(decode(file.file, 0, IFFPCX_FORM_RGB), make_image(40, 9, c.colours, false).rgb);
}

INSTANTIATE_TEST_SUITE_P(Requests, Bits,
                         testing::Values(BitsCase{2, 1, IFFPCX_OK, 1}, BitsCase{3, 1, IFFPCX_ERR_COLOURS, 0},
                                         BitsCase{4, 2, IFFPCX_OK, 2}, BitsCase{5, 2, IFFPCX_ERR_COLOURS, 0},
                                         BitsCase{8, 3, IFFPCX_OK, 3}, BitsCase{16, 4, IFFPCX_OK, 4},
                                         BitsCase{17, 4, IFFPCX_ERR_COLOURS, 0}, BitsCase{5, 8, IFFPCX_OK, 8},
                                         BitsCase{300, 8, IFFPCX_ERR_COLOURS, 0}, BitsCase{5, 24, IFFPCX_OK, 24},
                                         BitsCase{5, 5, IFFPCX_ERR_ARGUMENT, 0}));

// A header of 65535 x 65535 pixels over a few bytes, and limits of each kind.
TEST(Limits, AreCheckedFromTheHeadersBeforeAnythingIsAllocated) {
    Bytes huge = encode(make_image(8, 8, 300, false));
    huge[8] = huge[10] = 0xFE; // x_max and y_max 65534, lines of 65535 bytes
    huge[9] = huge[11] = huge[66] = huge[67] = 0xFF;
    huge.resize(200);
    File file(huge);
    ASSERT_EQ(file.status, IFFPCX_OK) << file.error.message;
    iffpcx_error error{};
    EXPECT_EQ(iffpcx_page_check(file.file, 0, &error), IFFPCX_ERR_LIMIT);
    EXPECT_NE(std::string(error.message).find("65535 x 65535 is 4294836225 pixels, more than the limit of 268435456"),
              std::string::npos)
        << error.message;
    size_t stride = 0;
    Bytes row(16);
    EXPECT_EQ(iffpcx_decode(file.file, 0, IFFPCX_FORM_RGB, 0, row.data(), stride, &error), IFFPCX_ERR_LIMIT);

    const Bytes small = encode(make_image(8, 8, 300, false));
    iffpcx_limits limits = iffpcx_default_limits();
    limits.max_file_bytes = small.size() - 1;
    EXPECT_EQ(File(small, &limits).status, IFFPCX_ERR_LIMIT);
    limits = iffpcx_default_limits();
    limits.max_pixels = 63;
    File limited(small, &limits);
    EXPECT_EQ(iffpcx_page_check(limited.file, 0, nullptr), IFFPCX_ERR_LIMIT);
}

TEST(Truncated, PagesFailWithTheLineAndArKeptWithPartial) {
    const Image image = make_image(64, 40, 300, false);
    Bytes pcx = encode(image);
    pcx.resize(pcx.size() / 2);
    File file(pcx);
    ASSERT_EQ(file.status, IFFPCX_OK);
    iffpcx_error error{};
    decode(file.file, 0, IFFPCX_FORM_RGB, 0, IFFPCX_ERR_TRUNCATED, &error);
    EXPECT_EQ(error.page, 0);
    EXPECT_GT(error.line, 0);
    EXPECT_LT(error.line, 40);
    EXPECT_EQ(error.library_status, IFF_ERR_LINE);
    EXPECT_NE(std::string(error.message).find("test.pcx: decoding line " + std::to_string(error.line) + " failed"),
              std::string::npos)
        << error.message;
    iffpcx_error kept{};
    const Bytes partial = decode(file.file, 0, IFFPCX_FORM_RGB, IFFPCX_PARTIAL, IFFPCX_ERR_TRUNCATED, &kept);
    EXPECT_EQ(kept.line, error.line);
    const size_t good = size_t(error.line) * 64 * 3;
    EXPECT_EQ(Bytes(partial.begin(), partial.begin() + long(good)),
              Bytes(image.rgb.begin(), image.rgb.begin() + long(good)));
    EXPECT_EQ(Bytes(partial.begin() + long(good), partial.end()), Bytes(partial.size() - good, 0));
}

TEST(Dcx, AssembledFromImagesAndPagesAndSplit) {
    const Image images[] = {make_image(9, 5, 2, false), make_image(30, 7, 200, false), make_image(4, 4, 300, false)};
    iffpcx_image descs[3];
    Bytes pages[3];
    for (int k = 0; k < 3; ++k) {
        descs[k] = describe(images[k]);
        pages[k] = encode(images[k]);
    }
    iffpcx_output *output = nullptr;
    ASSERT_EQ(iffpcx_output_memory(&output, nullptr), IFFPCX_OK);
    ASSERT_EQ(iffpcx_encode_dcx(descs, 3, nullptr, output, nullptr), IFFPCX_OK);
    size_t size = 0;
    const uint8_t *bytes = iffpcx_output_bytes(output, &size);
    const Bytes dcx(bytes, bytes + size);
    iffpcx_output_free(output);

    uint32_t count = 0;
    ASSERT_EQ(iffpcx_page_spans(dcx.data(), dcx.size(), "dcx", nullptr, &count, nullptr), IFFPCX_OK);
    ASSERT_EQ(count, 3u);
    std::vector<uint64_t> offsets(4);
    ASSERT_EQ(iffpcx_page_spans(dcx.data(), dcx.size(), "dcx", offsets.data(), &count, nullptr), IFFPCX_OK);
    iffpcx_bytes split[3];
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(Bytes(dcx.begin() + long(offsets[k]), dcx.begin() + long(offsets[k + 1])), pages[k]);
        split[k] = iffpcx_bytes{pages[k].data(), pages[k].size(), nullptr};
    }
    File file(dcx);
    ASSERT_EQ(iffpcx_page_count(file.file), 3u);
    EXPECT_TRUE(iffpcx_is_dcx(file.file));
    for (uint32_t k = 0; k < 3; ++k) EXPECT_EQ(decode(file.file, k, IFFPCX_FORM_RGB), images[k].rgb);

    ASSERT_EQ(iffpcx_output_memory(&output, nullptr), IFFPCX_OK);
    ASSERT_EQ(iffpcx_pack_dcx(split, 3, output, nullptr), IFFPCX_OK);
    bytes = iffpcx_output_bytes(output, &size);
    EXPECT_EQ(Bytes(bytes, bytes + size), dcx);
    iffpcx_output_free(output);

    const uint8_t junk[200] = {1, 2, 3};
    split[1] = iffpcx_bytes{junk, sizeof junk, "junk.pcx"};
    iffpcx_error error{};
    EXPECT_EQ(iffpcx_pack_dcx(split, 3, nullptr, &error), IFFPCX_ERR_NOT_PCX);
    EXPECT_EQ(std::string(error.message).rfind("junk.pcx: not a PCX page", 0), 0u) << error.message;
}

Bytes read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool exists(const std::string &path) {
    return std::ifstream(path).good();
}

int failing_writer(void *, const void *, size_t) {
    return 1;
}

int keeping_writer(void *context, const void *data, size_t size) {
    auto *into = static_cast<Bytes *>(context);
    into->insert(into->end(), static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + size);
    return 0;
}

TEST(Outputs, PathsAppearOnlyCompleteAndEveryOutputGetsTheSameBytes) {
    const Image image = make_image(50, 20, 100, false);
    const iffpcx_image desc = describe(image);
    const Bytes in_memory = encode(image);
    const std::string path = testing::TempDir() + "image_test_output.pcx";
    std::remove(path.c_str());

    iffpcx_output *output = nullptr;
    ASSERT_EQ(iffpcx_output_path(path.c_str(), &output, nullptr), IFFPCX_OK);
    ASSERT_EQ(iffpcx_encode(&desc, nullptr, output, nullptr, nullptr), IFFPCX_OK);
    EXPECT_FALSE(exists(path)); // not before it is complete
    ASSERT_EQ(iffpcx_output_finish(output, nullptr), IFFPCX_OK);
    iffpcx_output_free(output);
    EXPECT_EQ(read_file(path), in_memory);
    std::remove(path.c_str());

    ASSERT_EQ(iffpcx_output_path(path.c_str(), &output, nullptr), IFFPCX_OK);
    ASSERT_EQ(iffpcx_encode(&desc, nullptr, output, nullptr, nullptr), IFFPCX_OK);
    iffpcx_output_free(output); // abandoned: nothing is left
    EXPECT_FALSE(exists(path));

    Bytes written;
    ASSERT_EQ(iffpcx_output_writer(keeping_writer, &written, "kept", &output, nullptr), IFFPCX_OK);
    ASSERT_EQ(iffpcx_encode(&desc, nullptr, output, nullptr, nullptr), IFFPCX_OK);
    ASSERT_EQ(iffpcx_output_finish(output, nullptr), IFFPCX_OK);
    iffpcx_output_free(output);
    EXPECT_EQ(written, in_memory);

    ASSERT_EQ(iffpcx_output_writer(failing_writer, nullptr, "refused", &output, nullptr), IFFPCX_OK);
    ASSERT_EQ(iffpcx_encode(&desc, nullptr, output, nullptr, nullptr), IFFPCX_OK);
    iffpcx_error error{};
    EXPECT_EQ(iffpcx_output_finish(output, &error), IFFPCX_ERR_WRITE);
    EXPECT_EQ(std::string(error.message), "refused: cannot write: the write callback failed");
    iffpcx_output_free(output);
}

// Large enough for the second thread on machines with two cores.
TEST(Threads, OneAndTwoGiveTheSameBytes) {
    const Image image = make_image(2000, 1200, 300, false);
    const iffpcx_image desc = describe(image);
    Bytes files[2];
    for (int one = 0; one < 2; ++one) {
        const std::string path = testing::TempDir() + "image_test_threads.pcx";
        iffpcx_output *output = nullptr;
        ASSERT_EQ(iffpcx_output_path(path.c_str(), &output, nullptr), IFFPCX_OK);
        iffpcx_encode_options options{0, one ? uint32_t(IFFPCX_ONE_THREAD) : 0};
        ASSERT_EQ(iffpcx_encode(&desc, &options, output, nullptr, nullptr), IFFPCX_OK);
        ASSERT_EQ(iffpcx_output_finish(output, nullptr), IFFPCX_OK);
        iffpcx_output_free(output);
        files[one] = read_file(path);
        std::remove(path.c_str());
    }
    EXPECT_EQ(files[0], files[1]);
    File file(files[0]);
    EXPECT_EQ(decode(file.file, 0, IFFPCX_FORM_RGB, 0), image.rgb);
    EXPECT_EQ(decode(file.file, 0, IFFPCX_FORM_RGB, IFFPCX_ONE_THREAD), image.rgb);
}

} // namespace

namespace {

// The later part only skips to its first line, which lies past the data, and
// fails while the first part still converts its rows to gray: the failure
// reported is the first part's, as from one thread, whichever ends first.
TEST(Threads, APageCutInTheFirstPartFailsWhereOneThreadFails) {
    Image image{1300, 1200, Bytes(size_t(1300) * 1200 * 3)};
    uint32_t state = 1;
    for (uint8_t &byte : image.rgb) byte = uint8_t((state = state * 1103515245u + 12345u) >> 24);
    Bytes pcx = encode(image, 24);
    pcx.resize(pcx.size() / 4);
    File file(pcx);
    iffpcx_error one{};
    decode(file.file, 0, IFFPCX_FORM_GRAY, IFFPCX_ONE_THREAD, IFFPCX_ERR_TRUNCATED, &one);
    for (int attempt = 0; attempt < 16; ++attempt) {
        iffpcx_error two{};
        decode(file.file, 0, IFFPCX_FORM_GRAY, 0, IFFPCX_ERR_TRUNCATED, &two);
        EXPECT_EQ(two.line, one.line);
        EXPECT_STREQ(two.message, one.message);
    }
}

} // namespace
