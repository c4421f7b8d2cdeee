// An output that exists and is not a regular file (a device, a FIFO) is
// written where it is, as standard output is, and never replaced by a file
// renamed over it; a failed write still fails the command.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tool_harness.h"

namespace tool_test {
namespace {

std::string corpus(const std::string &name) {
    return std::string(PCXTOOL_CORPUS_DIR) + "/" + name;
}

// What identifies a device or FIFO: its type, its device number and inode.
struct Identity {
    mode_t type;
    dev_t device;
    ino_t inode;
    dev_t represents;
    bool operator==(const Identity &other) const {
        return type == other.type && device == other.device && inode == other.inode && represents == other.represents;
    }
};

Identity identity(const std::string &path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return Identity{static_cast<mode_t>(status.st_mode & S_IFMT), status.st_dev, status.st_ino, status.st_rdev};
}

struct DeviceCase {
    const char *name;
    std::vector<std::string> args; // the output last
};

// Small outputs: each fits a pipe's buffer, so that pcxtool never waits on
// the FIFO, which the test holds open for reading.
const DeviceCase kCases[] = {
    {"decode", {"decode", "--to", "ppm", corpus("np_24bit.pcx")}},
    {"encode", {"encode", corpus("np_8bit.ppm")}},
    {"pack", {"pack", "--", "@", corpus("np_24bit.pcx")}},
    {"repair", {"repair", corpus("np_8bit.pcx")}},
};

// The arguments with the output `target` in place: last, or where "@" stands.
std::vector<std::string> with_output(const DeviceCase &c, const std::string &target) {
    std::vector<std::string> args = c.args;
    bool placed = false;
    for (std::string &arg : args) {
        if (arg == "@") {
            arg = target;
            placed = true;
        }
    }
    if (!placed) {
        args.push_back(target);
    }
    return args;
}

TEST(DeviceOutput, AFifoGetsTheBytesAndStaysAFifo) {
    for (const DeviceCase &c : kCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string fifo = dir / "fifo";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const Identity before = identity(fifo);
        // Read and write ends open here: pcxtool's open never waits for a
        // reader, and its bytes stay in the pipe until read below.
        const int reader = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        const RunResult run = run_pcxtool(with_output(c, fifo));
        EXPECT_EQ(run.exit_code, 0) << run.err;
        std::vector<uint8_t> got(1 << 16);
        const ssize_t size = read(reader, got.data(), got.size());
        close(reader);
        got.resize(size > 0 ? static_cast<size_t>(size) : 0);
        const RunResult file = run_pcxtool(with_output(c, dir / "file"));
        ASSERT_EQ(file.exit_code, 0) << file.err;
        EXPECT_EQ(got, read_bytes(dir / "file"));
        EXPECT_EQ(identity(fifo), before);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2)
            << "no temporary file is left beside the FIFO";
    }
}

// A link to a descriptor (as /dev/stdout is) with that descriptor
// redirected to a file: the file gets the bytes, the link stays a link.
TEST(DeviceOutput, ALinkToStandardOutputStaysALink) {
    TempDir dir;
    const std::string link = dir / "stdout";
    fs::create_symlink("/proc/self/fd/1", link);
    for (const DeviceCase &c : kCases) {
        SCOPED_TRACE(c.name);
        std::string script = "exec \"$1\"";
        for (const std::string &arg : with_output(c, link)) {
            script += " '" + arg + "'";
        }
        const RunResult run = run_shell(script + " > '" + (dir / "got") + "'");
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_TRUE(fs::is_symlink(link));
        ASSERT_EQ(run_pcxtool(with_output(c, dir / "file")).exit_code, 0);
        EXPECT_EQ(read_bytes(dir / "got"), read_bytes(dir / "file"));
    }
}

TEST(DeviceOutput, AFullDeviceFailsTheCommandAndStaysADevice) {
    struct stat status {};
    if (stat("/dev/full", &status) != 0 || !S_ISCHR(status.st_mode)) {
        GTEST_SKIP() << "no /dev/full character device here";
    }
    const Identity before = identity("/dev/full");
    for (const DeviceCase &c : kCases) {
        SCOPED_TRACE(c.name);
        const RunResult run = run_pcxtool(with_output(c, "/dev/full"));
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_NE(run.err.find("/dev/full: cannot write"), std::string::npos) << run.err;
        EXPECT_EQ(identity("/dev/full"), before);
    }
}

} // namespace
} // namespace tool_test
