// An input file cut short by another program while pcxtool reads it (it is
// mapped, and reading past a mapped file's end raises SIGBUS) ends the
// command with a message and exit status 1, and leaves no output behind.
#include <csignal>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tool_harness.h"

namespace tool_test {
namespace {

void append_u32(std::vector<uint8_t> &bytes, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

// Four 16000 x 16000 white bilevel pages: seconds of work in 4 MB.
std::vector<uint8_t> white_pages() {
    std::vector<uint8_t> page(128, 0);
    page[0] = 10;
    page[1] = 5;
    page[2] = 1;
    page[3] = 1;
    page[8] = page[10] = (16000 - 1) & 0xFF;
    page[9] = page[11] = (16000 - 1) >> 8;
    page[65] = 1;
    page[66] = 2000 & 0xFF;
    page[67] = 2000 >> 8;
    for (int y = 0; y < 16000; ++y) {
        for (int run = 0; run < 31; ++run) {
            page.insert(page.end(), {0xFF, 0xFF});
        }
        page.insert(page.end(), {0xC0 + 47, 0xFF});
    }
    std::vector<uint8_t> file;
    append_u32(file, 0x3ADE68B1);
    for (uint32_t i = 0; i < 4; ++i) {
        append_u32(file, 4 + 4 * 5 + i * static_cast<uint32_t>(page.size()));
    }
    append_u32(file, 0);
    for (int i = 0; i < 4; ++i) {
        file.insert(file.end(), page.begin(), page.end());
    }
    return file;
}

// A raw PPM of varied colours, written a row at a time.
void write_varied_ppm(const std::string &path, unsigned side) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << side << " " << side << "\n255\n";
    std::vector<char> row(3 * size_t{side});
    for (unsigned y = 0; y < side; ++y) {
        for (unsigned x = 0; x < 3 * side; ++x) {
            row[x] = static_cast<char>(x * 7 + y * 13 + x * y % 11);
        }
        out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
}

struct ChangedInput {
    const char *name;
    const char *input; // made in the folder by `make`
    std::function<void(const TempDir &)> make;
    std::vector<std::string> args; // after the input, relative to the folder
    const char *output_prefix;     // of the temporary output to wait for
};

void PrintTo(const ChangedInput &c, std::ostream *os) {
    *os << c.name;
}

const ChangedInput kChangedInputs[] = {
    {"decode_pages_on_two_threads",
     "big.dcx",
     [](const TempDir &d) { write_bytes(d / "big.dcx", white_pages()); },
     {"decode", "IN", "page-%d.png"},
     ".page-"},
    {"encode_pixels_read_where_they_lie",
     "big.ppm",
     [](const TempDir &d) { write_varied_ppm(d / "big.ppm", 6000); },
     {"encode", "IN", "out.pcx"},
     ".out.pcx"},
};

class ChangedInputs : public testing::TestWithParam<ChangedInput> {};

TEST_P(ChangedInputs, FailWithAMessageAndLeaveNothing) {
    const ChangedInput &c = GetParam();
    TempDir dir;
    c.make(dir);
    std::vector<std::string> args{c.args[0]};
    for (size_t k = 1; k < c.args.size(); ++k) {
        args.push_back(dir / (c.args[k] == "IN" ? std::string(c.input) : c.args[k]));
    }
    const std::string messages = dir / "messages";
    const int pid = start_pcxtool(args, messages);
    ASSERT_GT(pid, 0);
    // Cut short as soon as the first output is begun.
    bool begun = false;
    int status = 0;
    while (!begun) {
        for (const auto &entry : fs::directory_iterator(dir.path())) {
            begun = begun || entry.path().filename().string().rfind(c.output_prefix, 0) == 0;
        }
        ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "pcxtool ended before it began an output";
        std::this_thread::yield();
    }
    fs::resize_file(dir / c.input, 200);
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::vector<uint8_t> err = read_bytes(messages);
    const std::string text(err.begin(), err.end());
    EXPECT_NE(text.find(std::string(c.input) + ": the input changed while it was read"), std::string::npos) << text;
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir.path())) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{c.input, "messages"}));
}

INSTANTIATE_TEST_SUITE_P(Commands, ChangedInputs, testing::ValuesIn(kChangedInputs),
                         [](const testing::TestParamInfo<ChangedInput> &param_info) {
                             return std::string(param_info.param.name);
                         });

} // namespace
} // namespace tool_test
