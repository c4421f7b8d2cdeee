#include "migrate_manifest.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "tool_error.h"

namespace pcxtool {

namespace {

using Json = nlohmann::ordered_json; // fields in the order written

std::string dump(const Json &value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

[[noreturn]] void cannot_write(const std::string &path) {
    throw input_error(path + ": cannot write the manifest: " + std::strerror(errno));
}

} // namespace

std::string manifest_line(const MigrateRecord &record) {
    Json outputs = Json::array();
    for (const OutputRecord &output : record.outputs) {
        outputs.push_back({{"path", output.path}, {"sha256", output.sha256}});
    }
    Json line = {{"source", record.source},
                 {"size", record.size},
                 {"sha256", record.sha256},
                 {"format", record.format},
                 {"format_id", record.format_id},
                 {"verdict", record.verdict},
                 {"pages", record.pages},
                 {"width", record.width},
                 {"height", record.height},
                 {"dpi", {record.dpi_x, record.dpi_y}},
                 {"outputs", outputs},
                 {"verified", record.verified},
                 {"status", record.status},
                 {"error", record.error}};
    if (record.adopted) {
        line["adopted"] = true;
    }
    return dump(line) + "\n";
}

std::string manifest_spelling(const std::string &source) {
    return Json::parse(dump(Json(source))).get<std::string>();
}

ConvertedFiles read_manifest(const std::string &path) {
    ConvertedFiles converted;
    std::ifstream in(path, std::ios::binary);
    std::string text;
    while (std::getline(in, text)) {
        const Json line = Json::parse(text, nullptr, false);
        if (!line.is_object() || !line.contains("source") || !line["source"].is_string()) {
            continue;
        }
        const std::string source = line["source"].get<std::string>();
        const std::string status = line.value("status", "");
        if ((status == "converted" && line.value("verified", false)) || status == "skipped") {
            converted[source] = {line.value("size", uint64_t{0}), line.value("sha256", "")};
        } else {
            converted.erase(source); // a later record of the same file decides
        }
    }
    return converted;
}

ManifestWriter::ManifestWriter(const std::string &path) : path_(path) {
    fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        cannot_write(path);
    }
    // A line torn by a power loss ends here, so that the next record starts a line of its own.
    struct stat status {};
    char last = '\n';
    if (fstat(fd_, &status) == 0 && status.st_size > 0) {
        const int reader = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (reader >= 0) {
            if (pread(reader, &last, 1, status.st_size - 1) != 1) {
                last = '\n';
            }
            close(reader);
        }
    }
    if (last != '\n' && write(fd_, "\n", 1) != 1) {
        cannot_write(path);
    }
}

ManifestWriter::~ManifestWriter() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

void ManifestWriter::append(const MigrateRecord &record) {
    const std::string line = manifest_line(record);
    const std::lock_guard<std::mutex> guard(mutex_);
    // One write: a signal or a crash leaves whole lines, or a torn last one.
    ssize_t written;
    do {
        written = write(fd_, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    if (written != static_cast<ssize_t>(line.size())) {
        cannot_write(path_);
    }
}

void ManifestWriter::sync() {
    const std::lock_guard<std::mutex> guard(mutex_);
    if (fdatasync(fd_) != 0) {
        cannot_write(path_);
    }
}

} // namespace pcxtool
