// Whole-file reads, and outputs that appear only once they are complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace pcxtool {

// The file's bytes; a missing or unreadable file is an input error that
// names the file and the system's reason.
std::vector<uint8_t> read_whole_file(const std::string &path);

// One output file under construction: the bytes go to a temporary file in
// the target's folder (so the final rename stays on one file system) and
// reach the target name only through commit. Dropped uncommitted, the
// temporary file is removed.
class PendingFile {
  public:
    explicit PendingFile(std::string target);
    ~PendingFile();
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;

    const std::string &target() const { return target_; }
    std::FILE *stream() { return stream_; }

    void write(const uint8_t *data, size_t size);
    // Flushes and closes the temporary file; write errors surface here.
    void finish();
    void commit();

  private:
    std::string target_;
    std::string temp_path_;
    std::FILE *stream_ = nullptr;
    bool finished_ = false;
    bool committed_ = false;
};

// Several outputs of one command: all are written in full before any of
// them takes its final name, so a failure on page 3 leaves no pages 0 to 2.
class OutputBatch {
  public:
    PendingFile &add(const std::string &target);
    void commit_all();

  private:
    std::vector<std::unique_ptr<PendingFile>> files_;
};

void write_whole_file(OutputBatch &batch, const std::string &target, const std::vector<uint8_t> &bytes);

} // namespace pcxtool
