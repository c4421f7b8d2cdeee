#include "tiff_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace tifftest {

namespace {

struct Noise {
    uint32_t state;
    uint8_t next() {
        state = state * 1664525u + 1013904223u;
        return uint8_t(state >> 24);
    }
};

} // namespace

TestPage make_page(Kind kind, int32_t width, int32_t height, uint32_t palette_entries, int32_t dpi_x, int32_t dpi_y,
                   uint32_t seed) {
    TestPage t;
    t.page.width = width;
    t.page.height = height;
    t.page.kind = kind;
    t.page.dpi_x = dpi_x;
    t.page.dpi_y = dpi_y;
    const size_t row = iff::tiff::row_bytes(kind, width);
    t.stride = row + 5;
    Noise noise{seed};
    if (kind == Kind::indexed) {
        for (uint32_t i = 0; i < 3 * palette_entries; ++i) t.palette.push_back(noise.next());
        t.page.palette = t.palette.data();
        t.page.palette_entries = palette_entries;
    }
    t.rows.assign(t.stride * size_t(height), 0xA5);
    t.expected.assign(row * size_t(height), 0);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t *out = t.rows.data() + size_t(y) * t.stride;
        for (size_t i = 0; i < row; ++i) {
            // Bands of flat colour with noisy edges, and a noisy stretch.
            const bool flat = (i / 24 + size_t(y) / 16) % 3 != 0;
            uint8_t v = flat ? uint8_t(i / 24 * 37 + size_t(y) / 16 * 11) : noise.next();
            if (kind == Kind::indexed) v = uint8_t(v % palette_entries);
            if (kind == Kind::gray || kind == Kind::rgb || kind == Kind::rgba) v = uint8_t(v + i + size_t(y));
            out[i] = v;
        }
        uint8_t *expected = t.expected.data() + size_t(y) * row;
        std::memcpy(expected, out, row);
        if (kind == Kind::bilevel && width % 8 != 0) {
            out[row - 1] |= uint8_t(0xFF >> (width % 8)); // noise in the unused bits
            expected[row - 1] &= uint8_t(0xFF00 >> (width % 8));
        }
    }
    return t;
}

Status write_pages(iff::tiff::Writer &writer, const std::vector<TestPage> &pages, size_t block_rows,
                   iff::tiff::Error *error) {
    for (const TestPage &t : pages) {
        Page page = t.page; // the palette where this copy of the test page holds it
        page.palette = t.palette.empty() ? nullptr : t.palette.data();
        if (Status s = writer.begin_page(page, error); s != Status::ok) return s;
        for (int32_t y = 0; y < t.page.height; y += int32_t(block_rows)) {
            const size_t count = std::min<size_t>(block_rows, size_t(t.page.height - y));
            if (Status s = writer.write_rows(t.rows.data() + size_t(y) * t.stride, count, t.stride, error);
                s != Status::ok)
                return s;
        }
    }
    return Status::ok;
}

std::vector<uint8_t> write_memory(const std::vector<TestPage> &pages, Compression compression, size_t block_rows) {
    std::unique_ptr<iff::tiff::Writer> writer;
    iff::tiff::Error error;
    EXPECT_EQ(iff::tiff::Writer::to_memory(compression, writer, &error), Status::ok) << error.message;
    if (!writer) return {};
    EXPECT_EQ(write_pages(*writer, pages, block_rows, &error), Status::ok) << error.message;
    EXPECT_EQ(writer->finish(&error), Status::ok) << error.message;
    size_t size = 0;
    const uint8_t *bytes = writer->bytes(size);
    return bytes ? std::vector<uint8_t>(bytes, bytes + size) : std::vector<uint8_t>{};
}

Status read_pages(iff::tiff::Reader &reader, std::vector<ReadPage> &pages, iff::tiff::Error *error) {
    pages.assign(reader.page_count(), {});
    for (uint32_t p = 0; p < reader.page_count(); ++p) {
        ReadPage &out = pages[p];
        if (Status s = reader.page_info(p, out.info, error); s != Status::ok) return s;
        out.rows.reserve(iff::tiff::row_bytes(out.info.kind, out.info.width) * size_t(out.info.height));
        auto take = [](void *context, int32_t, const uint8_t *rows, size_t count, size_t stride) {
            auto &to = *static_cast<std::vector<uint8_t> *>(context);
            to.insert(to.end(), rows, rows + count * stride);
            return 0;
        };
        if (Status s = reader.read_rows(p, take, &out.rows, error); s != Status::ok) return s;
    }
    return Status::ok;
}

std::vector<ReadPage> read_memory(const std::vector<uint8_t> &file) {
    std::unique_ptr<iff::tiff::Reader> reader;
    iff::tiff::Error error;
    std::vector<ReadPage> pages;
    EXPECT_EQ(iff::tiff::Reader::open_memory(file.data(), file.size(), "test.tif", reader, &error), Status::ok)
        << error.message;
    if (reader) {
        EXPECT_EQ(read_pages(*reader, pages, &error), Status::ok) << error.message;
    }
    return pages;
}

std::vector<uint8_t> to_rgb(const PageInfo &info, const std::vector<uint8_t> &rows) {
    std::vector<uint8_t> rgb;
    const size_t row = iff::tiff::row_bytes(info.kind, info.width);
    rgb.reserve(size_t(info.width) * size_t(info.height) * 3);
    for (int32_t y = 0; y < info.height; ++y) {
        const uint8_t *in = rows.data() + size_t(y) * row;
        for (int32_t x = 0; x < info.width; ++x) {
            uint8_t px[3];
            switch (info.kind) {
            case Kind::bilevel: px[0] = px[1] = px[2] = (in[x / 8] >> (7 - x % 8) & 1) ? 0 : 255; break;
            case Kind::gray: px[0] = px[1] = px[2] = in[x]; break;
            case Kind::indexed: std::memcpy(px, info.palette + 3 * in[x], 3); break;
            case Kind::rgb: std::memcpy(px, in + 3 * x, 3); break;
            case Kind::rgba: std::memcpy(px, in + 4 * x, 3); break;
            }
            rgb.insert(rgb.end(), px, px + 3);
        }
    }
    return rgb;
}

std::string own_temp_path(const std::string &name) {
    std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char &c : test)
        if (c == '/') c = '_';
    return testing::TempDir() + test + "_" + std::to_string(getpid()) + "_" + name;
}

} // namespace tifftest
