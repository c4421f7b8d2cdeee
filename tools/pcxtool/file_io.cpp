#include "file_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tool_error.h"

namespace pcxtool {

namespace {

std::string system_reason() {
    return std::strerror(errno);
}

std::string folder_of(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_name_of(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// mkstemp creates files readable by the owner only; outputs get the usual
// permissions the user's umask allows.
mode_t default_file_mode() {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

} // namespace

std::vector<uint8_t> read_whole_file(const std::string &path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw input_error(path + ": cannot open: " + system_reason());
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        const std::string reason = S_ISDIR(status.st_mode) ? "it is a folder" : "not a regular file";
        close(fd);
        throw input_error(path + ": cannot read: " + reason);
    }
    // Read straight into a buffer of the file's size; a file that grows
    // meanwhile goes on in chunks.
    std::vector<uint8_t> bytes(static_cast<size_t>(status.st_size));
    size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = read(fd, bytes.data() + filled, bytes.size() - filled);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            const std::string reason = system_reason();
            close(fd);
            throw input_error(path + ": cannot read: " + reason);
        }
        if (got == 0) {
            bytes.resize(filled);
            break;
        }
        filled += static_cast<size_t>(got);
    }
    uint8_t chunk[65536];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            const std::string reason = system_reason();
            close(fd);
            throw input_error(path + ": cannot read: " + reason);
        }
        if (got == 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    close(fd);
    return bytes;
}

PendingFile::PendingFile(std::string target) : target_(std::move(target)) {
    if (target_.empty() || target_.back() == '/') {
        throw usage_error("'" + target_ + "' names a folder, not an output file");
    }
    std::string pattern = folder_of(target_) + "/." + base_name_of(target_) + ".XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        throw input_error(target_ + ": cannot create the output in folder '" + folder_of(target_) +
                          "': " + system_reason());
    }
    temp_path_ = pattern;
    fchmod(fd, default_file_mode());
    stream_ = fdopen(fd, "wb");
    if (stream_ == nullptr) {
        const std::string reason = system_reason();
        close(fd);
        unlink(temp_path_.c_str());
        throw input_error(target_ + ": cannot write: " + reason);
    }
}

PendingFile::~PendingFile() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
    }
    if (!committed_) {
        unlink(temp_path_.c_str());
    }
}

void PendingFile::write(const uint8_t *data, size_t size) {
    if (size > 0 && std::fwrite(data, 1, size, stream_) != size) {
        throw input_error(target_ + ": cannot write: " + system_reason());
    }
}

void PendingFile::finish() {
    if (finished_) {
        return;
    }
    std::FILE *stream = stream_;
    stream_ = nullptr;
    const bool failed = std::ferror(stream) != 0;
    if (std::fclose(stream) != 0 || failed) {
        throw input_error(target_ + ": cannot write: " + system_reason());
    }
    finished_ = true;
}

void PendingFile::commit() {
    finish();
    if (rename(temp_path_.c_str(), target_.c_str()) != 0) {
        throw input_error(target_ + ": cannot put the output in place: " + system_reason());
    }
    committed_ = true;
}

PendingFile &OutputBatch::add(const std::string &target) {
    for (const auto &file : files_) {
        if (file->target() == target) {
            throw usage_error("two outputs would both be named '" + target + "'");
        }
    }
    files_.push_back(std::make_unique<PendingFile>(target));
    return *files_.back();
}

void OutputBatch::commit_all() {
    for (auto &file : files_) {
        file->finish();
    }
    for (auto &file : files_) {
        file->commit();
    }
}

void write_whole_file(OutputBatch &batch, const std::string &target, const std::vector<uint8_t> &bytes) {
    PendingFile &file = batch.add(target);
    file.write(bytes.data(), bytes.size());
    file.finish();
}

} // namespace pcxtool
