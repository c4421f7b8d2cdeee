// Files pcxtool writes are read exactly by other PCX readers: netpbm's
// pcxtoppm and Pillow, when the machine has them.
#include <gtest/gtest.h>

#include "tool_harness.h"

namespace tool_test {
namespace {

const char kPython[] = "/usr/bin/python3";

bool have_pcxtoppm() {
    return program_exists("pcxtoppm");
}

bool have_pillow() {
    return fs::exists(kPython) && run_program({kPython, "-c", "import PIL"}).exit_code == 0;
}

struct Written {
    const char *name;
    Content content;
    int width;
    std::vector<std::string> options;
    int depth;
    int planes;
};

// Widths 37 and 64 give plane lines with and without a pad byte.
const Written kWritten[] = {
    {"black_white", Content::BlackWhite, 37, {}, 1, 1},
    {"two_colours", Content::TwoColours, 37, {}, 4, 4},
    {"ten_colours", Content::TenColours, 64, {}, 4, 4},
    {"ten_colours_padded", Content::TenColours, 37, {}, 4, 4},
    {"gray", Content::Gray, 37, {}, 8, 1},
    {"many_colours", Content::ManyColours, 37, {}, 8, 1},
    {"true_colour", Content::TrueColour, 37, {}, 24, 3},
    {"packed_2bit", Content::TwoColours, 37, {"--bits", "2"}, 2, 1},
    {"three_planes", Content::TwoColours, 37, {"--bits", "3"}, 3, 3},
};

struct Placement {
    const char *name;
    bool aligned;
};

void PrintTo(const Written &written, std::ostream *os) {
    *os << written.name;
}
void PrintTo(const Placement &placement, std::ostream *os) {
    *os << placement.name;
}

class OtherReaders : public testing::TestWithParam<std::tuple<Written, Placement>> {
  protected:
    void SetUp() override {
        const auto &[written, placement] = GetParam();
        image_ = make_image(written.content, written.width, 19);
        write_png(dir_ / "in.png", image_);
        std::vector<std::string> args{"encode"};
        args.insert(args.end(), written.options.begin(), written.options.end());
        if (placement.aligned) {
            args.push_back("--align-palette");
        }
        args.insert(args.end(), {dir_ / "in.png", dir_ / "out.pcx"});
        const RunResult run = run_pcxtool(args);
        ASSERT_EQ(run.exit_code, 0) << run.err;
    }

    TempDir dir_;
    Image image_;
};

TEST_P(OtherReaders, PcxtoppmReadsTheFileExactly) {
    const auto &[written, placement] = GetParam();
    if (!have_pcxtoppm()) {
        GTEST_SKIP() << "pcxtoppm (netpbm) is not installed";
    }
    // pcxtoppm expects the 256-colour block right after the image data, so
    // an aligned file is read only when its gap happens to be empty.
    bool gap = false;
    if (placement.aligned && written.depth == 8) {
        ASSERT_EQ(run_pcxtool({"encode", dir_ / "in.png", dir_ / "packed.pcx"}).exit_code, 0);
        gap = fs::file_size(dir_ / "out.pcx") != fs::file_size(dir_ / "packed.pcx");
    }
    const RunResult run =
        run_program({"sh", "-c", "pcxtoppm \"$1\" > \"$2\"", "sh", dir_ / "out.pcx", dir_ / "np.ppm"});
    if (gap) {
        EXPECT_NE(run.exit_code, 0) << "pcxtoppm read past a gap before the palette block";
        return;
    }
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(read_ppm(dir_ / "np.ppm") == image_);
}

TEST_P(OtherReaders, PillowReadsTheFileExactly) {
    const auto &[written, placement] = GetParam();
    if (!have_pillow()) {
        GTEST_SKIP() << "Pillow (python3-pil) is not installed";
    }
    // Layouts Pillow's reader does not read, or (Debian's 9.4) misreads.
    const bool padded_planes = written.planes == 4 && ((written.width + 7) / 8) % 2 == 1;
    if (written.planes == 3 && written.depth == 3) {
        GTEST_SKIP() << "Pillow does not read 3-plane files";
    }
    if (written.depth == 2 && written.planes == 1) {
        GTEST_SKIP() << "Pillow does not read packed 2-bit files";
    }
    if (padded_planes) {
        GTEST_SKIP() << "Pillow 9.4 misreads 4 bit planes whose lines end in a pad byte";
    }
    const RunResult run =
        run_program({kPython, "-c",
                     "import sys\nfrom PIL import Image\n"
                     "open(sys.argv[2], 'wb').write(Image.open(sys.argv[1]).convert('RGB').tobytes())",
                     dir_ / "out.pcx", dir_ / "pil.rgb"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(read_bytes(dir_ / "pil.rgb"), image_.rgb);
}

INSTANTIATE_TEST_SUITE_P(Files, OtherReaders,
                         testing::Combine(testing::ValuesIn(kWritten),
                                          testing::Values(Placement{"packed", false}, Placement{"aligned", true})),
                         [](const testing::TestParamInfo<std::tuple<Written, Placement>> &param_info) {
                             return std::string(std::get<0>(param_info.param).name) + "_" +
                                    std::get<1>(param_info.param).name;
                         });

} // namespace
} // namespace tool_test
