// Host streams that give a few bytes a call, as pipes and sockets do: the
// header, the multi-page directory, the palette block and the lines are read
// in as many calls as it takes, and every file reads as it does in one piece.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "iffpcx.h"
#include "support/memory_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Everything a host sees of the file: the open status, each page's
// description, palette and lines, and where a line failed.
Bytes transcript(const Bytes &file, int32_t max_read) {
    test::MemoryStream stream(file);
    stream.max_read = max_read;
    IFFImageInfo info{};
    const int32_t h = IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    Bytes out = {uint8_t(h < 0 ? -h : 0)};
    if (h <= 0) return out;
    uint16_t pages = 1;
    IFFControl(h, IFF_REQ_PAGE_COUNT, 0, 0, &pages);
    for (int page = 0; page < pages; ++page) {
        out.push_back(uint8_t(IFFControl(h, IFF_REQ_SELECT_PAGE, 0, page, nullptr)));
        for (int32_t field : {info.width, info.height, int32_t(info.color_class), info.bits})
            out.insert(out.end(), {uint8_t(field), uint8_t(field >> 8)});
        Bytes palette(768);
        out.push_back(uint8_t(IFFControl(h, IFF_REQ_PALETTE, 0, 0, palette.data())));
        out.insert(out.end(), palette.begin(), palette.end());
        uint32_t stride = 0;
        IFFControl(h, IFF_REQ_LINE_STRIDE, 0, 0, &stride);
        Bytes line(stride);
        for (int y = 0; y < info.height; ++y) {
            const int32_t status = IFFGetLine(h, 1, line.data());
            out.push_back(uint8_t(status));
            if (status != IFF_OK) break;
            out.insert(out.end(), line.begin(), line.end());
        }
    }
    out.push_back(uint8_t(IFFClose(h)));
    return out;
}

std::vector<std::filesystem::path> files_in(const std::string &folder) {
    std::vector<std::filesystem::path> found;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".pcx" || ext == ".dcx") found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

TEST(ShortReads, EveryFileReadsAlikeInReadsOfAFewBytes) {
    size_t files = 0;
    for (const char *folder : {IFFPCX_CORPUS_DIR, IFFPCX_MAGICK_DIR}) {
        for (const auto &path : files_in(folder)) {
            const Bytes file = test::read_file(path.string());
            const Bytes whole = transcript(file, INT32_MAX);
            ASSERT_EQ(whole[0], 0) << path << " does not open";
            for (int32_t max_read : {1, 7, 100})
                EXPECT_EQ(transcript(file, max_read), whole) << path << ", reads of at most " << max_read;
            ++files;
        }
    }
    EXPECT_GT(files, 20u);
}

// A stream that gives nothing more, or fails, before the count is reached
// still fails the read.
TEST(ShortReads, StreamEndingInsideTheHeaderStillFails) {
    const Bytes file = test::read_file(std::string(IFFPCX_CORPUS_DIR) + "/np_8bit.pcx");
    for (size_t length : {size_t(5), size_t(100), size_t(127)}) {
        test::MemoryStream stream(Bytes(file.begin(), file.begin() + long(length)));
        stream.max_read = 7;
        IFFImageInfo info{};
        EXPECT_EQ(IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info), -IFF_ERR_READ) << length;
        EXPECT_EQ(stream.opens, stream.closes);
    }
}

} // namespace
