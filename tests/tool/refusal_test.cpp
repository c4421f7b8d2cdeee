// Hostile and mistaken inputs: every refusal names the file and the reason,
// exits 1 (2 for bad usage), leaves the folder as it was (inputs untouched)
// and comes at once, with little memory, whatever size the header claims.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <png.h>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tool_harness.h"

namespace tool_test {
namespace {

// Loose bounds: the faults they catch took gigabytes and minutes.
constexpr long kMemoryBoundKb = 300 * 1024;
constexpr double kTimeBoundSeconds = 20;

std::string corpus(const std::string &name) {
    return std::string(PCXTOOL_CORPUS_DIR) + "/" + name;
}

void put_u16(std::vector<uint8_t> &bytes, size_t at, unsigned value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void append_u32(std::vector<uint8_t> &bytes, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

// A run-length coded page's header.
std::vector<uint8_t> page_header(unsigned width, unsigned height, uint8_t bits, uint8_t planes,
                                 unsigned bytes_per_line) {
    std::vector<uint8_t> page(128, 0);
    page[0] = 10;
    page[1] = 5;
    page[2] = 1;
    page[3] = bits;
    put_u16(page, 8, width - 1);
    put_u16(page, 10, height - 1);
    page[65] = planes;
    put_u16(page, 66, bytes_per_line);
    return page;
}

// A 1-bit PCX page of `side` x `side` pixels whose image data are `data`.
std::vector<uint8_t> square_page(unsigned side, unsigned bytes_per_line, const std::vector<uint8_t> &data) {
    std::vector<uint8_t> page = page_header(side, side, 1, 1, bytes_per_line);
    page.resize(128 + data.size());
    std::copy(data.begin(), data.end(), page.begin() + 128);
    return page;
}

// The 200-byte page of the report: 65535 x 65535 with 0 bytes per line.
std::vector<uint8_t> hostile_page(unsigned bytes_per_line = 0) {
    std::vector<uint8_t> data;
    for (int i = 0; i < 36; ++i) {
        data.insert(data.end(), {0xC1, 0x00});
    }
    return square_page(65535, bytes_per_line, data);
}

std::vector<uint8_t> dcx_of(const std::vector<uint8_t> &page, uint32_t pages) {
    std::vector<uint8_t> file;
    append_u32(file, 0x3ADE68B1);
    const uint32_t first = 4 + 4 * (pages + 1);
    for (uint32_t i = 0; i < pages; ++i) {
        append_u32(file, first + i * static_cast<uint32_t>(page.size()));
    }
    append_u32(file, 0);
    for (uint32_t i = 0; i < pages; ++i) {
        file.insert(file.end(), page.begin(), page.end());
    }
    return file;
}

// A PNG of which only the first `rows` are written (fewer than `height`
// leave the file cut short): all zero, or noise that does not compress.
void write_test_png(const std::string &path, uint32_t width, uint32_t height, int bit_depth, int color_type,
                    uint32_t rows, bool noise) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        ADD_FAILURE() << "cannot write " << path;
    } else {
        png_init_io(png, file);
        png_set_compression_level(png, 9);
        png_set_IHDR(png, info, width, height, bit_depth, color_type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        std::vector<uint8_t> row(png_get_rowbytes(png, info), 0);
        uint32_t state = 12345;
        for (uint32_t y = 0; y < rows; ++y) {
            for (uint8_t &byte : row) {
                state = state * 1103515245u + 12345u;
                byte = noise ? static_cast<uint8_t>(state >> 24) : 0;
            }
            png_write_row(png, row.data());
        }
        if (rows == height) {
            png_write_end(png, info);
        }
    }
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

std::vector<uint8_t> text_bytes(const std::string &text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Every file in the folder with its size, and its bytes when it is small
// enough to read (not the sparse file).
std::map<std::string, std::pair<uintmax_t, std::vector<uint8_t>>> snapshot(const fs::path &folder) {
    std::map<std::string, std::pair<uintmax_t, std::vector<uint8_t>>> files;
    for (const auto &entry : fs::directory_iterator(folder)) {
        const uintmax_t size = entry.is_regular_file() ? entry.file_size() : 0;
        files[entry.path().filename().string()] = {
            size, size < (uintmax_t{64} << 20) ? read_bytes(entry.path().string()) : std::vector<uint8_t>{}};
    }
    return files;
}

// A 24-bit page of mid-gray lines, coded as runs: a large image in a small file.
std::vector<uint8_t> gray_rgb_page(unsigned width, unsigned height) {
    std::vector<uint8_t> line;
    for (unsigned left = width; left > 0;) {
        const unsigned run = std::min(left, 63u);
        line.insert(line.end(), {static_cast<uint8_t>(0xC0 + run), 0x80});
        left -= run;
    }
    std::vector<uint8_t> page = page_header(width, height, 8, 3, width);
    for (unsigned row = 0; row < 3 * height; ++row) {
        page.insert(page.end(), line.begin(), line.end());
    }
    return page;
}

struct Refusal {
    const char *name;
    // Prepares the folder and returns the script; "$1" is pcxtool, $D the folder.
    std::function<std::string(const TempDir &)> setup;
    int exit_code;
    std::vector<std::string> message; // every fragment must appear on stderr
};

void PrintTo(const Refusal &refusal, std::ostream *os) {
    *os << refusal.name;
}

const Refusal kRefusals[] = {
    // An output the file system stops taking (a file size limit, its signal
    // ignored, so writes fail with EFBIG) is a failure, and leaves nothing.
    {"write_fails",
     [](const TempDir &d) {
         write_bytes(d / "in.pcx", gray_rgb_page(1000, 500)); // 1.5 MB of PPM
         return std::string(R"(trap '' XFSZ; ulimit -f 1024; exec "$1" decode "$D/in.pcx" "$D/out.ppm")");
     },
     1,
     {"out.ppm", "cannot write", "too large"}},
    // The same while a second thread numbers and codes rows of a large image.
    {"write_fails_on_two_threads",
     [](const TempDir &d) {
         write_pnm(d / "in.ppm", make_image(Content::ManyColours, 1400, 1100), false); // 1.6 MB of PCX
         return std::string(R"(trap '' XFSZ; ulimit -f 1024; exec "$1" encode "$D/in.ppm" "$D/out.pcx")");
     },
     1,
     {"out.pcx", "cannot write", "too large"}},
    // Headers that claim far more than the file holds.
    {"no_bytes_per_line",
     [](const TempDir &d) {
         write_bytes(d / "huge.pcx", hostile_page());
         return std::string(R"(exec "$1" decode "$D/huge.pcx" "$D/out.ppm")");
     },
     1,
     {"huge.pcx", "0 bytes per plane line", "8192"}},
    {"two_thousand_such_pages",
     [](const TempDir &d) {
         write_bytes(d / "huge.dcx", dcx_of(hostile_page(), 2000));
         return std::string(R"(exec "$1" decode "$D/huge.dcx" "$D/page-%d.png")");
     },
     1,
     {"huge.dcx", "page 0", "bytes per plane line"}},
    {"window_beyond_the_pixel_limit",
     [](const TempDir &d) {
         write_bytes(d / "huge.pcx", hostile_page(8192));
         return std::string(R"(exec "$1" decode "$D/huge.pcx" -)");
     },
     1,
     {"huge.pcx", "65535 x 65535", "--max-pixels"}},
    {"page_beyond_a_chosen_limit",
     [](const TempDir &) {
         return R"(exec "$1" decode --max-pixels 5000 ")" + corpus("np_24bit.pcx") + R"(" "$D/out.png")";
     },
     1,
     {"np_24bit.pcx", "5160 pixels", "5000"}},
    // The limit lifted to the largest window: a 65536 x 65536 page passes
    // it and fails only where its data end; a higher limit is no limit.
    {"largest_window_with_the_limit_lifted",
     [](const TempDir &d) {
         write_bytes(d / "widest.pcx", square_page(65536, 8192, std::vector<uint8_t>(72, 0xC1)));
         return std::string(R"(exec "$1" decode --max-pixels 4294967296 "$D/widest.pcx" "$D/out.pbm")");
     },
     1,
     {"widest.pcx", "decoding line 0", "IFF_ERR_LINE"}},
    {"limit_beyond_the_largest_window",
     [](const TempDir &) {
         return R"(exec "$1" decode --max-pixels 4294967297 ")" + corpus("np_24bit.pcx") + R"(" "$D/out.png")";
     },
     2,
     {"--max-pixels", "0 to 4294967296"}},
    {"image_beyond_a_chosen_limit",
     [](const TempDir &) {
         return R"(exec "$1" encode --max-pixels 5000 ")" + corpus("np_24bit.ppm") + R"(" "$D/out.pcx")";
     },
     1,
     {"np_24bit.ppm", "5160 pixels"}},
    {"png_of_900_million_pixels",
     [](const TempDir &d) {
         write_test_png(d / "big.png", 30000, 30000, 1, PNG_COLOR_TYPE_GRAY, 30000, false);
         EXPECT_LT(fs::file_size(d / "big.png"), 200000u);
         return std::string(R"(exec "$1" encode "$D/big.png" "$D/out.pcx")");
     },
     1,
     {"big.png", "900000000 pixels"}},
    {"png_header_larger_than_its_data",
     [](const TempDir &d) {
         // 16000 x 16000 RGB, under the pixel limit, cut short after 10 rows.
         write_test_png(d / "claims.png", 16000, 16000, 8, PNG_COLOR_TYPE_RGB, 10, true);
         return std::string(R"(exec "$1" encode "$D/claims.png" "$D/out.pcx")");
     },
     1,
     {"claims.png", "16000 x 16000", "cannot hold"}},
    {"pnm_header_larger_than_its_data",
     [](const TempDir &d) {
         std::vector<uint8_t> ppm = text_bytes("P6\n16000 16000\n255\n");
         ppm.resize(ppm.size() + 3000, 0x80);
         write_bytes(d / "claims.ppm", ppm);
         return std::string(R"(exec "$1" encode - "$D/out.pcx" < "$D/claims.ppm")");
     },
     1,
     {"standard input", "end early"}},
    {"sparse_file_of_3_gib",
     [](const TempDir &d) {
         std::FILE *file = std::fopen((d / "sparse.pcx").c_str(), "wb");
         std::fclose(file);
         fs::resize_file(d / "sparse.pcx", uintmax_t{3} << 30);
         return std::string(R"(exec "$1" info "$D/sparse.pcx")");
     },
     1,
     {"sparse.pcx", "3221225472 bytes", "2 GiB"}},
    {"endless_stream_for_decode",
     [](const TempDir &) { return std::string(R"(exec "$1" decode - "$D/out.png" < /dev/zero)"); },
     1,
     {"standard input", "does not start like a PCX"}},
    {"endless_stream_for_encode",
     [](const TempDir &) { return std::string(R"(exec "$1" encode /dev/zero "$D/out.pcx")"); },
     1,
     {"/dev/zero", "not a PNG or PNM image"}},
    // Outputs that would replace an input.
    {"encode_over_its_input",
     [](const TempDir &d) {
         // Named without an extension, which encode would refuse first.
         write_png(d / "in", make_image(Content::TenColours, 8, 8));
         return std::string(R"(exec "$1" encode "$D/in" "$D/in")");
     },
     1,
     {"in", "is an input"}},
    {"encode_over_a_link_to_its_input",
     [](const TempDir &d) {
         write_pnm(d / "in.ppm", make_image(Content::TenColours, 8, 8), false);
         fs::create_hard_link(d / "in.ppm", d / "link");
         return std::string(R"(exec "$1" encode "$D/in.ppm" "$D/link")");
     },
     1,
     {"link", "same file as", "in.ppm"}},
    {"unpack_over_its_input",
     [](const TempDir &d) {
         fs::copy_file(corpus("np_pages.dcx"), d / "x0.pcx");
         return std::string(R"(exec "$1" unpack "$D/x0.pcx" "$D/x")");
     },
     1,
     {"x0.pcx", "is an input"}},
    {"stdout_appended_to_the_input",
     [](const TempDir &d) {
         fs::copy_file(corpus("np_24bit.pcx"), d / "x.pcx");
         return std::string(R"(exec "$1" decode "$D/x.pcx" - >> "$D/x.pcx")");
     },
     1,
     {"standard output", "x.pcx"}},
    {"stdin_read_from_the_output",
     [](const TempDir &d) {
         write_pnm(d / "in", make_image(Content::TenColours, 8, 8), false);
         return std::string(R"(exec "$1" encode - "$D/in" < "$D/in")");
     },
     1,
     {"in", "standard input"}},
    // Standard output that takes nothing (a full disk): every command that
    // writes there fails, however little it wrote.
    {"info_json_to_a_full_disk",
     [](const TempDir &) {
         const std::string file = "\"" + corpus("np_pages.dcx") + "\"";
         return "exec \"$1\" info --json " + file + " " + file + " " + file + " " + file + " " + file + " > /dev/full";
     },
     1,
     {"info", "standard output", "No space left"}},
    {"info_to_a_full_disk",
     [](const TempDir &) { return R"(exec "$1" info ")" + corpus("np_24bit.pcx") + R"(" > /dev/full)"; },
     1,
     {"info", "standard output", "No space left"}},
    {"help_to_a_full_disk",
     [](const TempDir &) { return std::string(R"(exec "$1" decode --help > /dev/full)"); },
     1,
     {"decode", "standard output"}},
    {"version_to_a_full_disk",
     [](const TempDir &) { return std::string(R"(exec "$1" --version > /dev/full)"); },
     1,
     {"standard output"}},
    {"decode_to_a_full_disk",
     [](const TempDir &) { return R"(exec "$1" decode ")" + corpus("np_24bit.pcx") + R"(" - > /dev/full)"; },
     1,
     {"decode", "standard output", "No space left"}},
    {"pack_to_a_full_disk",
     [](const TempDir &) { return R"(exec "$1" pack - ")" + corpus("np_24bit.pcx") + R"(" > /dev/full)"; },
     1,
     {"pack", "standard output", "No space left"}},
    // Standard streams misused.
    {"several_png_pages_to_stdout",
     [](const TempDir &) { return R"(exec "$1" decode --to png ")" + corpus("np_pages.dcx") + R"(" -)"; },
     2,
     {"np_pages.dcx", "--page N"}},
    {"stdin_twice",
     [](const TempDir &) { return std::string(R"(exec "$1" pack "$D/out.dcx" - -)"); },
     2,
     {"only once"}},
};

class Refusals : public testing::TestWithParam<Refusal> {};

TEST_P(Refusals, ComeAtOnceWithAReasonAndLeaveNothing) {
    const Refusal &refusal = GetParam();
    TempDir dir;
    const std::string script = refusal.setup(dir);
    const auto before = snapshot(dir.path());
    const RunResult run = run_shell("D='" + dir.path().string() + "'; " + script);
    EXPECT_EQ(run.exit_code, refusal.exit_code) << run.err;
    for (const std::string &fragment : refusal.message) {
        EXPECT_NE(run.err.find(fragment), std::string::npos) << "missing '" << fragment << "' in: " << run.err;
    }
    EXPECT_TRUE(snapshot(dir.path()) == before) << "a refusal leaves the folder and the inputs as they were";
    EXPECT_EQ(run.out, "");
    EXPECT_LT(run.max_rss_kb, kMemoryBoundKb);
    EXPECT_LT(run.seconds, kTimeBoundSeconds);
}

INSTANTIATE_TEST_SUITE_P(Cases, Refusals, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal> &param_info) {
                             return std::string(param_info.param.name);
                         });

// A run ended by a signal leaves no temporary file behind.
class EndedBySignal : public testing::TestWithParam<int> {};

TEST_P(EndedBySignal, LeavesNoTemporaryFile) {
    TempDir dir;
    // Four 16000 x 16000 white pages: seconds of work, 4 MB of file.
    std::vector<uint8_t> line;
    for (int run = 0; run < 31; ++run) {
        line.insert(line.end(), {0xFF, 0xFF});
    }
    line.insert(line.end(), {0xC0 + 47, 0xFF});
    std::vector<uint8_t> data;
    for (int y = 0; y < 16000; ++y) {
        data.insert(data.end(), line.begin(), line.end());
    }
    write_bytes(dir / "big.dcx", dcx_of(square_page(16000, 2000, data), 4));
    const int pid = start_pcxtool({"decode", dir / "big.dcx", dir / "page-%d.png"});
    ASSERT_GT(pid, 0);
    bool temporary_seen = false;
    for (int wait = 0; wait < 30000 && !temporary_seen; ++wait) {
        for (const auto &entry : fs::directory_iterator(dir.path())) {
            temporary_seen = temporary_seen || entry.path().filename().string().rfind(".page-", 0) == 0;
        }
        if (!temporary_seen) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    kill(pid, GetParam());
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(temporary_seen) << "pcxtool never began an output";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == GetParam()) << "status " << status;
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir.path())) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::set<std::string>{"big.dcx"});
}

INSTANTIATE_TEST_SUITE_P(Signals, EndedBySignal, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const testing::TestParamInfo<int> &param_info) {
                             return std::string(param_info.param == SIGINT    ? "SIGINT"
                                                : param_info.param == SIGTERM ? "SIGTERM"
                                                                              : "SIGHUP");
                         });

} // namespace
} // namespace tool_test
