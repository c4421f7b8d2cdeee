// migrate's manifest: one JSON record per file, a line each, appended as
// each file completes, and read back to resume a run.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace pcxtool {

struct OutputRecord {
    std::string path;
    std::string sha256;
};

struct MigrateRecord {
    std::string source;
    uint64_t size = 0;
    std::string sha256;
    std::string format; // from check: "pcx", "dcx" or "unknown"
    std::string format_id;
    std::string verdict;
    int pages = 0;
    int32_t width = 0; // the first page's
    int32_t height = 0;
    int32_t dpi_x = 0;
    int32_t dpi_y = 0;
    std::vector<OutputRecord> outputs;
    bool verified = false;
    bool adopted = false; // the outputs were there already and match (a run cut off before its record)
    std::string status;   // "converted", "failed" or "skipped"
    std::string error;
};

// The record as one line of JSON, with its newline. Names that are not
// UTF-8 have their stray bytes replaced.
std::string manifest_line(const MigrateRecord &record);

// A source as manifest_line spells it, to match records read back.
std::string manifest_spelling(const std::string &source);

// What an earlier run finished with, converted and verified or skipped as
// not PCX or DCX: its size and sha256 by source.
struct ConvertedFile {
    uint64_t size = 0;
    std::string sha256;
};
using ConvertedFiles = std::unordered_map<std::string, ConvertedFile>;

// Reads a manifest (none yet: empty). Lines that are not whole records, as
// the last one after a power loss, are ignored.
ConvertedFiles read_manifest(const std::string &path);

// Appends records, each in one write of a whole line, from any thread.
class ManifestWriter {
  public:
    explicit ManifestWriter(const std::string &path);
    ~ManifestWriter();
    ManifestWriter(const ManifestWriter &) = delete;
    ManifestWriter &operator=(const ManifestWriter &) = delete;

    void append(const MigrateRecord &record);
    // Makes the records so far durable.
    void sync();

  private:
    std::string path_;
    int fd_ = -1;
    std::mutex mutex_;
};

} // namespace pcxtool
