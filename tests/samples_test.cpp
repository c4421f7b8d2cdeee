// Single-plane sample conversions: every host layout and depth, the table
// key, and packing host samples back into file bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "pixels/samples.h"

namespace iff {
namespace {

using Bytes = std::vector<uint8_t>;

// The table fields of a handle, as the line conversions see them.
struct Table {
    int32_t depth = 0, polarity = 1, mode = 0;
    uint8_t entries[256] = {};
    uint8_t expanded[256 * 8] = {};
    SampleTable view() { return {depth, polarity, mode, entries, expanded}; }
};

constexpr uint8_t kSentinel = 0xA5;

// Unpacks from a heap block of exactly the bytes the conversion may read, so
// an overread shows under AddressSanitizer; returns what was written, up to
// the last byte that differs from the sentinel's slack.
Bytes unpack(Table &table, const Bytes &file, int32_t count, int32_t depth, int32_t format) {
    const size_t readable = size_t(sample_source_bytes(count, depth));
    std::unique_ptr<uint8_t[]> source(new uint8_t[readable]);
    std::copy_n(file.begin(), std::min(readable, file.size()), source.get());
    Bytes host(size_t(sample_host_bytes(count, depth, format)) + 16, kSentinel);
    unpack_samples(host.data(), source.get(), count, depth, format, table.view());
    const size_t written = size_t(sample_host_bytes(count, depth, format));
    for (size_t i = written; i < host.size(); ++i) EXPECT_EQ(host[i], kSentinel) << "byte " << i;
    host.resize(written);
    return host;
}

struct UnpackCase {
    int32_t depth, count, format;
    Bytes file, host;
};

TEST(UnpackSamples, DeliversEachLayout) {
    const Bytes ones = {0xFF, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0xFF, 0xFF};
    const Bytes eight = {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF};
    const Bytes eight_inverted = {0xFF, 0xFE, 0x80, 0x7F, 0x01, 0x00};
    const Bytes twelve_scaled = {0xCA, 0xAB, 0xFD, 0xDE, 0x31, 0x12};
    const UnpackCase cases[] = {
        {1, 10, 1, {0xA5, 0xC0}, {1, 0, 1, 0, 0, 1, 0, 1, 1, 1}},
        {1, 10, 2, {0xA5, 0xC0}, {0x80, 0, 0x80, 0, 0, 0x80, 0, 0x80, 0x80, 0x80}},
        {1, 10, 3, {0xA5, 0xC0}, ones},
        {1, 10, 4096, {0xA5, 0xC0}, {0x5A, 0x3F}},
        {1, 10, 4097, {0xA5, 0xC0}, {0, 1, 0, 1, 1, 0, 1, 0, 0, 0}},
        {1, 10, 4099, {0xA5, 0xC0}, {0, 0xFF, 0, 0xFF, 0xFF, 0, 0xFF, 0, 0, 0}},
        // Layouts that are not defined read as scaled, polarity flag kept.
        {1, 10, 7, {0xA5, 0xC0}, ones},
        {1, 10, -1, {0xA5, 0xC0}, ones},
        {1, 10, 4100, {0xA5, 0xC0}, {0, 0xFF, 0, 0xFF, 0xFF, 0, 0xFF, 0, 0, 0}},
        {2, 5, 3, {0x1B, 0xC0}, {0, 85, 170, 255, 255}},
        {2, 5, 1, {0x1B, 0xC0}, {0, 1, 2, 3, 3}},
        {2, 5, 2, {0x1B, 0xC0}, {0x00, 0x40, 0x80, 0xC0, 0xC0}},
        {2, 5, 4099, {0x1B, 0xC0}, {255, 170, 85, 0, 0}},
        {2, 5, 4096, {0x1B, 0xC0}, {0xE4, 0x3F}},
        {4, 3, 3, {0x1F, 0x80}, {0x11, 0xFF, 0x88}},
        {4, 3, 4098, {0x1F, 0x80}, {0xE0, 0x00, 0x70}},
        {6, 7, 1, {0x04, 0x10, 0x41, 0x08, 0x30, 0x80}, {1, 1, 1, 1, 2, 3, 2}},
        {6, 5, 4097, {0x04, 0x10, 0x41, 0x08}, {62, 62, 62, 62, 61}},
        {6, 4, 3, {0x00, 0x18, 0x3F}, {0, 4, 130, 255}}, // 0, 1, 32, 63 rounded
        {8, 6, 0, eight, eight},
        {8, 6, 1, eight, eight},
        {8, 6, 2, eight, eight},
        {8, 6, 3, eight, eight},
        {8, 6, 4096, eight, eight_inverted},
        {8, 6, 4099, eight, eight_inverted},
        {12, 3, 1, {0xAB, 0xCD, 0xEF, 0x12, 0x34}, {0xBC, 0x0A, 0xEF, 0x0D, 0x23, 0x01}},
        {12, 3, 2, {0xAB, 0xCD, 0xEF, 0x12, 0x34}, {0xC0, 0xAB, 0xF0, 0xDE, 0x30, 0x12}},
        {12, 3, 3, {0xAB, 0xCD, 0xEF, 0x12, 0x34}, twelve_scaled},
        {12, 3, 4099, {0xAB, 0xCD, 0xEF, 0x12, 0x34}, twelve_scaled},
        {12, 3, 0, {0xAB, 0xCD, 0xEF, 0x12, 0x34}, {0xAB, 0xCD, 0xEF, 0x12, 0x34}},
        {16, 2, 4099, {1, 2, 3, 4}, {1, 2, 3, 4}},
        {32, 1, 4097, {1, 2, 3, 4}, {1, 2, 3, 4}},
        {3, 8, 3, {1, 2, 3}, {}}, // no host layout: the host's line stays as it was
        {3, 8, 0, {1, 2, 3}, {1, 2, 3}},
        {3, 8, 4096, {1, 2, 3}, {0xFE, 0xFD, 0xFC}},
        {8, 0, 3, {}, {}},
        {8, -5, 0, {}, {}},
    };
    for (const UnpackCase &c : cases) {
        Table table;
        EXPECT_EQ(unpack(table, c.file, c.count, c.depth, c.format), c.host)
            << "depth " << c.depth << " count " << c.count << " format " << c.format;
    }
}

TEST(UnpackSamples, LongLinesUseEveryByte) {
    // 1001 samples leave a partial last byte at every table depth.
    for (int32_t depth : {1, 2, 4, 6}) {
        Bytes file(size_t(sample_source_bytes(1001, depth)));
        for (size_t i = 0; i < file.size(); ++i) file[i] = uint8_t(i * 37 + 11);
        Table table;
        const Bytes host = unpack(table, file, 1001, depth, 1);
        for (int32_t i = 0; i < 1001; ++i) {
            const int64_t bit = int64_t(i) * depth;
            int32_t value = 0;
            for (int32_t b = 0; b < depth; ++b)
                value = (value << 1) | ((file[size_t((bit + b) / 8)] >> (7 - (bit + b) % 8)) & 1);
            ASSERT_EQ(host[size_t(i)], value) << "depth " << depth << " sample " << i;
        }
    }
}

TEST(UnpackSamples, TableFollowsDepthModeAndPolarity) {
    // One table across lines whose layout changes, as a host switching
    // pixel_format or pages would use it.
    struct Step {
        int32_t depth, format;
        Bytes file, host;
    } steps[] = {
        {4, 3, {0x1F}, {0x11, 0xFF}},
        {4, 3, {0x1F}, {0x11, 0xFF}},
        {4, 1, {0x1F}, {0x01, 0x0F}}, // a new mode at the same depth takes effect at once
        {4, 2, {0x1F}, {0x10, 0xF0}},
        {4, 4098, {0x1F}, {0xE0, 0x00}},
        {2, 4098, {0x1B}, {0xC0, 0x80, 0x40, 0x00}},
        {8, 1, {0x1B}, {0x1B}}, // no table at depth 8
        {2, 4098, {0x1B}, {0xC0, 0x80, 0x40, 0x00}},
        {4, 3, {0x1F}, {0x11, 0xFF}},
    };
    Table table;
    for (const Step &s : steps) {
        const int32_t count = int32_t(s.host.size());
        EXPECT_EQ(unpack(table, s.file, count, s.depth, s.format), s.host)
            << "depth " << s.depth << " format " << s.format;
    }
}

struct PackCase {
    int32_t depth, count, format;
    Bytes host, file;
};

TEST(PackSamples, StoresEachWriteLayout) {
    const PackCase cases[] = {
        {2, 5, 1, {0, 1, 2, 3, 0xFE}, {0x1B, 0x80}},
        {2, 5, 3, {0x00, 0x55, 0xAA, 0xFF, 0x80}, {0x1B, 0x80}},
        {2, 5, 4097, {0x00, 0x55, 0xAA, 0xFF, 0x80}, {0x1B, 0x80}}, // polarity flag: top bits
        {1, 10, 4097, {0x80, 0x7F, 0xFF, 0, 0, 0x81, 0, 1, 0x80, 0x90}, {0xA4, 0xC0}},
        {1, 10, 1, {1, 0xFE, 0xFF, 0, 0, 1, 0, 1, 3, 1}, {0xA5, 0xC0}},
        {1, 10, -3, {0x80, 0x7F, 0xFF, 0, 0, 0x81, 0, 1, 0x80, 0x90}, {0xA4, 0xC0}},
        {1, 10, 0, {0xA5, 0xC3}, {0xA5, 0xC3}},
        {8, 3, 4099, {0x01, 0x80, 0xFF}, {0x01, 0x80, 0xFF}},
        {8, 3, 0, {0x01, 0x80, 0xFF}, {0x01, 0x80, 0xFF}},
        {1, 0, 3, {}, {}},
    };
    for (const PackCase &c : cases) {
        std::unique_ptr<uint8_t[]> file(new uint8_t[c.file.size() + 1]);
        file[c.file.size()] = kSentinel;
        pack_samples(file.get(), c.host.data(), c.count, c.depth, c.format);
        EXPECT_EQ(Bytes(file.get(), file.get() + c.file.size()), c.file)
            << "depth " << c.depth << " format " << c.format;
        EXPECT_EQ(file[c.file.size()], kSentinel) << "wrote past the line";
    }
}

TEST(PackSamples, CountsMoreThan65535Samples) {
    const int32_t count = 70001;
    Bytes host(size_t(count), 0);
    host[65536] = 0xFF;
    host[70000] = 0xFF;
    Bytes file(size_t(sample_source_bytes(count, 1)), 0xEE);
    pack_samples(file.data(), host.data(), count, 1, 3);
    EXPECT_EQ(file[8192], 0x80);
    EXPECT_EQ(file.back(), 0x80);
    EXPECT_EQ(file[8191], 0x00);
}

} // namespace
} // namespace iff
