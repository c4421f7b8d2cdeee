// The files the library writes are the same bytes on every processor, big-
// or little-endian, 32- or 64-bit, at every vector level: images made by
// integer arithmetic alone, written in each write layout, hash to constants
// taken on x86-64.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "iffpcx.h"
#include "support/cpu_levels.h"
#include "support/memory_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct WrittenImage {
    const char *name;
    int32_t bits;
    uint32_t color_class;
    int32_t depth;      // bits of one sample value
    int32_t samples;    // host bytes of one pixel
    uint64_t file_hash; // FNV-1a of the whole file
};

const WrittenImage kImages[] = {
    {"bilevel", 1, 0, 1, 1, 0x21746588f8ea5a8dULL}, {"packed2", 2, 2, 2, 1, 0x05be2fd1adee04c5ULL},
    {"planes3", 3, 2, 3, 1, 0x6186ee5878575d2dULL}, {"planes4", 4, 2, 4, 1, 0xb0dad2b471e6bbedULL},
    {"gray8", 8, 1, 8, 1, 0xe2b0744bf5446c17ULL},   {"palette8", 8, 2, 8, 1, 0x086f8988853d914aULL},
    {"rgb24", 8, 3, 8, 3, 0x75ae5514771fa204ULL},
};

uint64_t fnv1a(const Bytes &bytes) {
    uint64_t hash = 0xCBF29CE484222325ULL;
    for (uint8_t b : bytes) hash = (hash ^ b) * 0x100000001B3ULL;
    return hash;
}

// Noisy samples with runs and bytes of 0xC0 and above, one byte each
// (the index layout), from a fixed integer sequence.
Bytes host_samples(size_t count, int32_t depth) {
    Bytes out(count);
    uint32_t state = 12345;
    uint8_t value = 0;
    for (uint8_t &b : out) {
        state = state * 1103515245u + 12345u;
        if ((state >> 28) > 4) value = uint8_t((state >> 16) & ((1u << depth) - 1));
        b = value;
    }
    return out;
}

class WrittenBytes : public test::AtEachCpuLevel {};
IFF_AT_EACH_CPU_LEVEL(WrittenBytes);

TEST_P(WrittenBytes, AreTheSameOnEveryProcessor) {
    const int32_t width = 301, height = 9;
    for (const WrittenImage &image : kImages) {
        test::MemoryStream stream;
        IFFImageInfo info{};
        info.width = width;
        info.height = height;
        info.color_class = image.color_class;
        info.bits = image.bits;
        const int32_t handle = IFFOpen(stream.source(), IFF_MODE_WRITE | IFF_MODE_STREAMS, &info);
        ASSERT_GT(handle, 0) << image.name;
        ASSERT_EQ(IFFControl(handle, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr), IFF_OK);
        if (image.color_class == 2) {
            Bytes palette = host_samples(3u << image.depth, 8);
            ASSERT_EQ(IFFControl(handle, IFF_REQ_PALETTE, 0, 0, palette.data()), IFF_OK);
        }
        Bytes host = host_samples(size_t(width * height * image.samples), image.depth);
        ASSERT_EQ(IFFPutLine(handle, uint32_t(height), host.data()), IFF_OK);
        ASSERT_EQ(IFFClose(handle), IFF_OK);
        EXPECT_EQ(fnv1a(stream.data), image.file_hash) << image.name << ": 0x" << std::hex << fnv1a(stream.data)
                                                       << std::dec << ", " << stream.data.size() << " bytes";
    }
}

} // namespace
