// iffpcx_decode_tiff: pages of a PCX or DCX file through the whole-image
// layer into one TIFF output, read back to the layer's own decoding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "iffpcx_image.h"
#include "tiff_test_support.h"

namespace {

using namespace tifftest;

std::string corpus(const std::string &name) {
    return std::string(IFFPCX_CORPUS_DIR) + "/" + name;
}

struct Decoded {
    iffpcx_status status;
    std::vector<uint8_t> bytes; // the output, finished
};

Decoded decode_tiff(iffpcx_file *file, const uint32_t *pages, size_t count, uint32_t compression, uint32_t flags) {
    iffpcx_output *output = nullptr;
    EXPECT_EQ(iffpcx_output_memory(&output, nullptr), IFFPCX_OK);
    iffpcx_error error{};
    Decoded decoded{iffpcx_decode_tiff(file, pages, count, compression, flags, output, &error), {}};
    if ((decoded.status == IFFPCX_OK || decoded.status == IFFPCX_ERR_TRUNCATED) &&
        iffpcx_output_finish(output, nullptr) == IFFPCX_OK) {
        size_t size = 0;
        const uint8_t *bytes = iffpcx_output_bytes(output, &size);
        decoded.bytes.assign(bytes, bytes + size);
    }
    iffpcx_output_free(output);
    return decoded;
}

// Every page, and a choice of pages in another order, reads back as the
// layer decodes it, with its kind and resolution.
TEST(LayerDecodeTiff, PagesReadBackAsTheLayerDecodesThem) {
    for (const char *name : {"np_pages.dcx", "im_pages.dcx", "np_24bit.pcx", "pil_gray.pcx", "np_bilevel.pcx",
                             "np_packed_4bit.pcx", "im_palette8.pcx"}) {
        iffpcx_file *file = nullptr;
        ASSERT_EQ(iffpcx_open_path(corpus(name).c_str(), nullptr, &file, nullptr), IFFPCX_OK) << name;
        std::vector<uint32_t> every;
        for (uint32_t page = iffpcx_page_count(file); page-- > 0;) {
            every.push_back(page); // last first
        }
        for (bool chosen : {false, true}) {
            const Decoded decoded = decode_tiff(file, chosen ? every.data() : nullptr, every.size(), 0, 0);
            ASSERT_EQ(decoded.status, IFFPCX_OK) << name;
            const std::vector<ReadPage> read = read_memory(decoded.bytes);
            ASSERT_EQ(read.size(), every.size()) << name;
            for (size_t k = 0; k < read.size(); ++k) {
                const uint32_t page = chosen ? every[k] : uint32_t(k);
                iffpcx_page_info info{};
                ASSERT_EQ(iffpcx_page_info_get(file, page, &info, nullptr), IFFPCX_OK);
                EXPECT_EQ(uint32_t(read[k].info.kind), info.kind) << name << " page " << page;
                EXPECT_EQ(read[k].info.dpi_x, info.dpi_x) << name;
                EXPECT_EQ(read[k].info.dpi_y, info.dpi_y) << name;
                std::vector<uint8_t> rgb(size_t(info.width) * size_t(info.height) * 3);
                ASSERT_EQ(iffpcx_decode(file, page, IFFPCX_FORM_RGB, 0, rgb.data(), size_t(info.width) * 3, nullptr),
                          IFFPCX_OK);
                EXPECT_EQ(to_rgb(read[k].info, read[k].rows), rgb) << name << " page " << page;
            }
        }
        iffpcx_close(file);
    }
}

struct Refusal {
    const char *what;
    std::vector<uint32_t> pages;
    bool all_pages;
    uint32_t compression;
    iffpcx_status status;
};

TEST(LayerDecodeTiff, RefusesBeforeWritingAnything) {
    iffpcx_file *file = nullptr;
    ASSERT_EQ(iffpcx_open_path(corpus("np_pages.dcx").c_str(), nullptr, &file, nullptr), IFFPCX_OK);
    const Refusal refusals[] = {
        {"unknown compression", {}, true, 9, IFFPCX_ERR_ARGUMENT},
        {"a page beyond the file", {1, 4}, false, 0, IFFPCX_ERR_ARGUMENT},
        {"no pages", {}, false, 0, IFFPCX_ERR_ARGUMENT},
    };
    for (const Refusal &refusal : refusals) {
        const uint32_t none = 0; // a list of no pages is not a null list
        const uint32_t *pages = refusal.pages.empty() ? &none : refusal.pages.data();
        const Decoded decoded =
            decode_tiff(file, refusal.all_pages ? nullptr : pages, refusal.pages.size(), refusal.compression, 0);
        EXPECT_EQ(decoded.status, refusal.status) << refusal.what;
        EXPECT_TRUE(decoded.bytes.empty()) << refusal.what;
    }
    EXPECT_EQ(iffpcx_decode_tiff(file, nullptr, 0, 0, 0, nullptr, nullptr), IFFPCX_ERR_ARGUMENT);
    iffpcx_close(file);
}

// A page whose data end early fails the call; with IFFPCX_PARTIAL the file
// is still complete, its missing rows zero.
TEST(LayerDecodeTiff, ATruncatedPageFailsOrIsKeptWhole) {
    std::vector<uint8_t> bytes = read_file(corpus("np_24bit.pcx"));
    bytes.resize(bytes.size() / 2);
    iffpcx_file *file = nullptr;
    ASSERT_EQ(iffpcx_open_memory(bytes.data(), bytes.size(), "short", nullptr, &file, nullptr), IFFPCX_OK);
    EXPECT_EQ(decode_tiff(file, nullptr, 0, 0, 0).status, IFFPCX_ERR_TRUNCATED);
    const Decoded kept = decode_tiff(file, nullptr, 0, 0, IFFPCX_PARTIAL);
    EXPECT_EQ(kept.status, IFFPCX_ERR_TRUNCATED);
    ASSERT_FALSE(kept.bytes.empty());
    const std::vector<ReadPage> read = read_memory(kept.bytes);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].rows.back(), 0);
    iffpcx_close(file);
}

} // namespace
