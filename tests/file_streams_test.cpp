// The default file callbacks keep the stream contract on every platform:
// bytes pass unchanged, seeks report positions, the open flags pick access
// and creation, and a write of nothing leaves the file as it is.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/file_streams.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

constexpr int32_t kRead = 0x8000;
constexpr int32_t kReadWrite = 0x8002;
constexpr int32_t kCreate = 0x8302;

const IFFStreamOps &ops = iff::file_stream_ops();

std::string temp_path(const char *name) {
    return ::testing::TempDir() + "/iffpcx_streams_" + name;
}

// Creates path holding bytes through the callbacks themselves.
void create_file(const std::string &path, const std::vector<uint8_t> &bytes) {
    const int32_t s = ops.open(path.c_str(), kCreate, 0x1B6);
    ASSERT_GE(s, 0);
    ASSERT_EQ(ops.write(s, bytes.data(), int32_t(bytes.size())), int32_t(bytes.size()));
    ASSERT_EQ(ops.close(s), 0);
}

int32_t file_size(const std::string &path) {
    const int32_t s = ops.open(path.c_str(), kRead, 0x1B6);
    if (s < 0) return -1;
    const int32_t size = ops.seek(s, 0, 2);
    ops.close(s);
    return size;
}

TEST(FileStreams, EveryByteValueAndPositionSurvives) {
    // Line ends and the old end-of-file byte among them: nothing is translated.
    std::vector<uint8_t> bytes(256);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i);
    bytes.insert(bytes.end(), {'\r', '\n', '\n', 0x1A, '\r'});
    const std::string path = temp_path("bytes");
    create_file(path, bytes);

    const int32_t s = ops.open(path.c_str(), kRead, 0x1B6);
    ASSERT_GE(s, 0);
#if defined(_WIN32)
    EXPECT_EQ(GetFileType(reinterpret_cast<HANDLE>(INT_PTR(s))), DWORD(FILE_TYPE_DISK)) << "stream is the file handle";
#endif
    EXPECT_EQ(ops.seek(s, 0, 1), 0);
    EXPECT_EQ(ops.seek(s, 0, 2), int32_t(bytes.size()));
    EXPECT_EQ(ops.seek(s, 10, 0), 10);
    EXPECT_EQ(ops.seek(s, 0, 1), 10);
    EXPECT_EQ(ops.seek(s, -4, 1), 6);
    EXPECT_LT(ops.seek(s, 0, 7), 0) << "unknown origin";
    ASSERT_EQ(ops.seek(s, 0, 0), 0);
    std::vector<uint8_t> back(bytes.size() + 16, 0xEE);
    EXPECT_EQ(ops.read(s, back.data(), int32_t(back.size())), int32_t(bytes.size())) << "short read at the end";
    back.resize(bytes.size());
    EXPECT_EQ(back, bytes);
    EXPECT_EQ(ops.read(s, back.data(), 8), 0) << "reading past the end is not a failure";
    EXPECT_EQ(ops.close(s), 0);
    std::remove(path.c_str());
}

TEST(FileStreams, OpenFlagsChooseAccessAndCreation) {
    struct Case {
        const char *name;
        bool exists_before;
        int32_t flags;
        bool opens;
        bool writes;
        int32_t size_after; // of the 6-byte file, after writing "ab" at the start
    };
    const Case cases[] = {
        {"read a missing file", false, kRead, false, false, -1},
        {"read-write a missing file", false, kReadWrite, false, false, -1},
        {"create a missing file", false, kCreate, true, true, 2},
        {"read an existing file", true, kRead, true, false, 6},
        {"read-write keeps the rest", true, kReadWrite, true, true, 6},
        {"create truncates", true, kCreate, true, true, 2},
    };
    for (const Case &c : cases) {
        const std::string path = temp_path("flags");
        std::remove(path.c_str());
        if (c.exists_before) create_file(path, {'1', '2', '3', '4', '5', '6'});
        const int32_t s = ops.open(path.c_str(), c.flags, 0x1B6);
        EXPECT_EQ(s >= 0, c.opens) << c.name;
        if (s >= 0) {
            EXPECT_EQ(ops.write(s, "ab", 2) == 2, c.writes) << c.name;
            EXPECT_EQ(ops.close(s), 0) << c.name;
        }
        EXPECT_EQ(file_size(path), c.size_after) << c.name;
        std::remove(path.c_str());
    }
    EXPECT_LT(ops.open(nullptr, kRead, 0x1B6), 0);
}

TEST(FileStreams, WritingNothingLeavesTheFileAlone) {
    const std::string path = temp_path("empty_write");
    create_file(path, {'0', '1', '2', '3', '4', '5', '6', '7'});
    const int32_t s = ops.open(path.c_str(), kReadWrite, 0x1B6);
    ASSERT_GE(s, 0);
    ASSERT_EQ(ops.seek(s, 3, 0), 3);
    EXPECT_EQ(ops.write(s, "x", 0), 0);
    EXPECT_EQ(ops.seek(s, 0, 1), 3);
    EXPECT_EQ(ops.seek(s, 0, 2), 8);
    EXPECT_EQ(ops.close(s), 0);
    EXPECT_EQ(file_size(path), 8);
    std::remove(path.c_str());
}

} // namespace
