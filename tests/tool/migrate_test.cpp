// pcxtool migrate over a tree of corpus files under odd names, files that
// are not images, a .dcx file that is not DCX, a truncated file and an
// output folder that cannot be written; resuming; a run ended by a signal.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <tiffio.h>

#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tool_harness.h"

namespace tool_test {
namespace {

using Json = nlohmann::json;

std::string corpus(const std::string &name) {
    return std::string(PCXTOOL_CORPUS_DIR) + "/" + name;
}

void copy(const std::string &from, const std::string &to) {
    fs::create_directories(fs::path(to).parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

std::vector<std::string> lines_of(const std::string &path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The manifest's last record of each source (a torn line is passed over, as
// migrate passes it over).
std::map<std::string, Json> records(const std::string &manifest) {
    std::map<std::string, Json> by_source;
    for (const std::string &line : lines_of(manifest)) {
        if (!Json::accept(line)) {
            continue;
        }
        const Json record = Json::parse(line);
        by_source[record.at("source")] = record;
    }
    return by_source;
}

std::string sha256_of(const std::string &path) {
    const RunResult run = run_program({"sha256sum", path});
    return run.out.substr(0, 64);
}

int tiff_pages(const std::string &path) {
    TIFFSetErrorHandler(nullptr);
    TIFF *tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) {
        return -1;
    }
    const int pages = TIFFNumberOfDirectories(tif);
    TIFFClose(tif);
    return pages;
}

// Files whose names start with a dot: temporaries left behind.
std::vector<std::string> hidden_files(const fs::path &root) {
    std::vector<std::string> found;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename().string()[0] == '.') {
            found.push_back(entry.path().string());
        }
    }
    return found;
}

struct TreeFile {
    const char *path; // under SRC
    const char *from; // a corpus file, or nullptr for the content below
    const char *content;
    const char *status; // as recorded
    int pages;
};

// The tree: corpus files under names that do not say what they are, others
// that are not images, one cut short, and one whose output folder is blocked.
const TreeFile kTree[] = {
    {"fax/scan.bin", "np_pages.dcx", nullptr, "converted", 4},
    {"fax/NOEXT", "pil_bilevel.pcx", nullptr, "converted", 1},
    {"deep/er/photo.DCX.old", "im_pages.dcx", nullptr, "converted", 3},
    {"deep/rgb.pcx", "pil_rgb.pcx", nullptr, "converted", 1},
    {"gray.img", "pil_gray.pcx", nullptr, "converted", 1},
    {"notes.txt", nullptr, "not an image\n", "skipped", 0},
    {"accounts.dcx", nullptr, "a database of another program", "skipped", 0},
    {"empty", nullptr, "", "skipped", 0},
    {"short.pcx", "np_24bit.pcx", "cut", "failed", 1},
    {"blocked/palette.pcx", "np_8bit.pcx", nullptr, "failed", 1},
};

void make_tree(const TempDir &dir) {
    for (const TreeFile &file : kTree) {
        const std::string path = dir / ("src/" + std::string(file.path));
        if (file.from != nullptr) {
            copy(corpus(file.from), path);
            if (file.content != nullptr) { // cut to half
                auto bytes = read_bytes(path);
                bytes.resize(bytes.size() / 2);
                write_bytes(path, bytes);
            }
        } else {
            fs::create_directories(fs::path(path).parent_path());
            std::ofstream(path) << file.content;
        }
    }
    // An output folder that cannot be made: a file stands at its name.
    fs::create_directories(dir / "dst");
    std::ofstream(dir / "dst/blocked") << "in the way";
}

TEST(Migrate, RecordsEveryFileAndVerifiesWhatItConverts) {
    TempDir dir;
    make_tree(dir);
    const std::string manifest = dir / "manifest.jsonl";
    const RunResult run = run_pcxtool({"migrate", "--jobs", "2", "--manifest", manifest, dir / "src", dir / "dst"});
    EXPECT_EQ(run.exit_code, 1) << run.err; // two failed
    EXPECT_NE(run.err.find("5 converted and verified"), std::string::npos) << run.err;
    const auto by_source = records(manifest);
    ASSERT_EQ(by_source.size(), std::size(kTree));
    for (const TreeFile &file : kTree) {
        const Json &record = by_source.at(dir / ("src/" + std::string(file.path)));
        EXPECT_EQ(record.at("status"), file.status) << file.path << ": " << record.dump();
        EXPECT_EQ(record.at("sha256"), sha256_of(dir / ("src/" + std::string(file.path)))) << file.path;
        const bool converted = std::string(file.status) == "converted";
        EXPECT_EQ(record.at("verified"), converted) << file.path;
        EXPECT_EQ(record.at("error") == "", std::string(file.status) != "failed") << record.dump();
        if (!converted) {
            EXPECT_TRUE(record.at("outputs").empty()) << file.path;
            continue;
        }
        EXPECT_EQ(record.at("pages"), file.pages) << file.path;
        const std::string output = dir / ("dst/" + std::string(file.path) + ".tif");
        ASSERT_EQ(record.at("outputs").size(), 1u);
        EXPECT_EQ(record.at("outputs")[0].at("path"), output);
        EXPECT_EQ(record.at("outputs")[0].at("sha256"), sha256_of(output));
        EXPECT_EQ(tiff_pages(output), file.pages) << output;
    }
    EXPECT_EQ(by_source.at(dir / "src/fax/NOEXT").at("format_id"), "fmt/87"); // version 2, as Pillow writes
    EXPECT_EQ(by_source.at(dir / "src/fax/scan.bin").at("format"), "dcx");
    EXPECT_TRUE(hidden_files(dir / "dst").empty());
    EXPECT_FALSE(fs::exists(dir / "dst/short.pcx.tif"));
}

TEST(Migrate, PngPagesAreNamedByPage) {
    TempDir dir;
    copy(corpus("np_pages.dcx"), dir / "src/a.dcx");
    copy(corpus("pil_palette.pcx"), dir / "src/b");
    const RunResult run = run_pcxtool({"migrate", "--to", "png", dir / "src", dir / "dst"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    for (const char *name : {"a.dcx.p0.png", "a.dcx.p1.png", "a.dcx.p2.png", "a.dcx.p3.png", "b.png"}) {
        EXPECT_TRUE(fs::exists(dir / ("dst/" + std::string(name)))) << name;
    }
    EXPECT_EQ(read_png(dir / "dst/a.dcx.p1.png").image, read_ppm(corpus("np_pages.p1.ppm")));
    EXPECT_EQ(records(dir / "dst/migrate.jsonl").at(dir / "src/a.dcx").at("outputs").size(), 4u);
}

TEST(Migrate, ResumesWhereTheLastRunStoppedAndNeverOverwrites) {
    TempDir dir;
    make_tree(dir);
    const std::string manifest = dir / "manifest.jsonl";
    const std::vector<std::string> args{"migrate", "--manifest", manifest, dir / "src", dir / "dst"};
    ASSERT_EQ(run_pcxtool(args).exit_code, 1);
    const size_t first_lines = lines_of(manifest).size();
    const std::string kept = sha256_of(dir / "dst/gray.img.tif");

    // Unblocked, the failed file converts; the converted and skipped files
    // are passed over; the truncated one fails again.
    fs::remove(dir / "dst/blocked");
    RunResult run = run_pcxtool(args);
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_NE(run.err.find("1 converted and verified, 8 done before"), std::string::npos) << run.err;
    EXPECT_EQ(lines_of(manifest).size(), first_lines + 2);
    EXPECT_EQ(records(manifest).at(dir / "src/blocked/palette.pcx").at("status"), "converted");

    // A source that changed is converted again, but its old output stays.
    copy(corpus("np_24bit.pcx"), dir / "src/gray.img");
    run = run_pcxtool(args);
    EXPECT_EQ(records(manifest).at(dir / "src/gray.img").at("status"), "failed");
    EXPECT_NE(run.err.find("1 failed") == std::string::npos ? run.err.find("2 failed") : 0, std::string::npos);
    EXPECT_EQ(sha256_of(dir / "dst/gray.img.tif"), kept);

    // An output written before its record was lost (a power loss) is kept
    // as it is once it proves to hold the same pages; a torn last line is
    // passed over.
    copy(corpus("pil_gray.pcx"), dir / "src/gray.img");
    std::ofstream(manifest, std::ios::app) << "{\"source\": \"" << (dir / "src/gr");
    run = run_pcxtool(args);
    const Json record = records(manifest).at(dir / "src/gray.img");
    EXPECT_EQ(record.at("status"), "converted") << record.dump();
    EXPECT_EQ(record.at("adopted"), true);
    EXPECT_EQ(sha256_of(dir / "dst/gray.img.tif"), kept);
}

TEST(Migrate, AnInterruptedRunLeavesWholeFilesAndLinesAndASecondRunCompletes) {
    TempDir dir;
    // Enough files that the run is still going when the signal comes.
    const char *names[] = {"np_pages.dcx", "im_pages.dcx", "np_24bit.pcx", "pil_bilevel.pcx", "np_8bit.pcx"};
    const int copies = 60;
    for (int k = 0; k < copies; ++k) {
        for (const char *name : names) {
            copy(corpus(name), dir / ("src/" + std::to_string(k) + "/" + name));
        }
    }
    const std::string manifest = dir / "manifest.jsonl";
    const std::vector<std::string> args{"migrate", "--jobs", "2", "--manifest", manifest, dir / "src", dir / "dst"};
    for (int signal_number : {SIGINT, SIGTERM}) {
        const int pid = start_pcxtool(args);
        ASSERT_GT(pid, 0);
        // Once some files are recorded the run is well under way.
        int status = 0;
        bool ended = false;
        while (!ended && (!fs::exists(manifest) || fs::file_size(manifest) == 0)) {
            ended = waitpid(pid, &status, WNOHANG) == pid;
            std::this_thread::yield();
        }
        if (!ended) {
            kill(pid, signal_number);
            waitpid(pid, &status, 0);
        }
        EXPECT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) == 0);
        EXPECT_TRUE(hidden_files(dir / "dst").empty());
        for (const std::string &line : lines_of(manifest)) {
            EXPECT_TRUE(Json::accept(line)) << line;
        }
        for (const auto &entry : fs::recursive_directory_iterator(dir / "dst")) {
            if (entry.is_regular_file()) {
                EXPECT_GT(tiff_pages(entry.path().string()), 0) << entry.path();
            }
        }
    }
    const RunResult last = run_pcxtool(args);
    EXPECT_EQ(last.exit_code, 0) << last.err;
    const auto by_source = records(manifest);
    EXPECT_EQ(by_source.size(), size_t(copies) * std::size(names));
    for (const auto &[source, record] : by_source) {
        EXPECT_EQ(record.at("status"), "converted") << source;
    }
}

TEST(Migrate, ShardsShareATree) {
    TempDir dir;
    for (int k = 0; k < 7; ++k) {
        copy(corpus("pil_rgb.pcx"), dir / ("src/f" + std::to_string(k)));
    }
    size_t total = 0;
    for (const char *shard : {"1/3", "2/3", "3/3"}) {
        const RunResult run =
            run_pcxtool({"migrate", "--shard", shard, "--manifest", dir / "m.jsonl", dir / "src", dir / "dst"});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        total = lines_of(dir / "m.jsonl").size();
    }
    EXPECT_EQ(total, 7u);
    EXPECT_EQ(run_pcxtool({"migrate", "--shard", "4/3", dir / "src", dir / "dst"}).exit_code, 2);
}

} // namespace
} // namespace tool_test
