// The outputs of one command appear all or none: a target that cannot take
// its file is refused before any is renamed, and a rename that fails anyway
// undoes the ones made before it, putting back the files they replaced.
#include <functional>
#include <gtest/gtest.h>
#include <set>

#include "file_io.h"
#include "tool_error.h"
#include "tool_harness.h"

namespace tool_test {
namespace {

std::string corpus(const std::string &name) {
    return std::string(PCXTOOL_CORPUS_DIR) + "/" + name;
}

std::set<std::string> names_in(const fs::path &folder) {
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

struct BlockedBatch {
    const char *name;
    // The command, given the folder where "p2.ppm" (or "p2.pcx") is a folder.
    std::function<std::vector<std::string>(const TempDir &)> command;
};

void PrintTo(const BlockedBatch &batch, std::ostream *os) {
    *os << batch.name;
}

const BlockedBatch kBlockedBatches[] = {
    {"decode_pages",
     [](const TempDir &d) {
         fs::create_directory(d / "p2.ppm");
         return std::vector<std::string>{"decode", corpus("np_pages.dcx"), d / "p%d.ppm"};
     }},
    {"unpack",
     [](const TempDir &d) {
         fs::create_directory(d / "p2.pcx");
         return std::vector<std::string>{"unpack", corpus("np_pages.dcx"), d / "p"};
     }},
};

class BlockedBatches : public testing::TestWithParam<BlockedBatch> {};

TEST_P(BlockedBatches, WriteNoOutputAtAll) {
    TempDir dir;
    const std::vector<std::string> args = GetParam().command(dir);
    const std::set<std::string> before = names_in(dir.path());
    const RunResult run = run_pcxtool(args);
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_NE(run.err.find("is a folder"), std::string::npos) << run.err;
    EXPECT_EQ(names_in(dir.path()), before) << "no page of the batch may appear";
}

INSTANTIATE_TEST_SUITE_P(Commands, BlockedBatches, testing::ValuesIn(kBlockedBatches),
                         [](const testing::TestParamInfo<BlockedBatch> &param_info) {
                             return std::string(param_info.param.name);
                         });

void write_text(pcxtool::PendingFile &file, const std::string &text) {
    file.write(reinterpret_cast<const uint8_t *>(text.data()), text.size());
}

std::string text_of(const std::string &path) {
    const std::vector<uint8_t> bytes = read_bytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// A rename that fails after others were made (the last output's folder is
// moved away meanwhile): the earlier targets are as they were, a replaced
// file is back with its old bytes, a new one is gone.
TEST(OutputBatch, FailedRenameUndoesTheOthers) {
    TempDir dir;
    write_bytes(dir / "old.txt", {'o', 'l', 'd'});
    fs::create_directory(dir / "sub");
    {
        pcxtool::OutputBatch batch;
        write_text(batch.add(dir / "old.txt"), "new");
        write_text(batch.add(dir / "fresh.txt"), "fresh");
        write_text(batch.add(dir / "sub/last.txt"), "last");
        fs::rename(dir / "sub", dir / "moved");
        EXPECT_THROW(batch.commit_all(), pcxtool::ToolError);
    }
    EXPECT_EQ(text_of(dir / "old.txt"), "old");
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"old.txt", "moved"}));
}

} // namespace
} // namespace tool_test
