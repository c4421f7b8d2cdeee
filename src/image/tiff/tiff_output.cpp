#include "image/tiff/tiff_output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace iff::tiff {

namespace {

constexpr int kTemporaryNameTries = 100;

const char *why(int failure) {
    return failure > 0 ? std::strerror(failure) : "short write";
}

} // namespace

Status Output::open_path(const char *path, Error *error) {
    if (path == nullptr || path[0] == '\0')
        return report(error, Status::argument, {"TIFF", -1, -1}, nullptr, "no path");
    name_ = path;
    path_ = path;
    // A name of our own beside the target, so that the rename stays on one file system.
    for (int n = 0; file_.file == nullptr && n < kTemporaryNameTries; ++n) {
        temporary_ = path_ + ".part" + std::to_string(n);
        errno = 0;
        file_.file = std::fopen(temporary_.c_str(), "w+bx");
        if (file_.file == nullptr && errno != EEXIST) break;
    }
    if (file_.file == nullptr) {
        const int failure = errno;
        temporary_.clear();
        return report(error, Status::write, {name(), -1, -1}, nullptr, "cannot create the file: %s", why(failure));
    }
    return open_tiff(error);
}

Status Output::open_memory(Error *error) {
    name_ = "memory";
    return open_tiff(error);
}

Status Output::open_writer(WriteFn write, void *context, const char *name, Error *error) {
    name_ = name != nullptr ? name : "output";
    if (write == nullptr) return report(error, Status::argument, {this->name(), -1, -1}, nullptr, "no write callback");
    write_ = write;
    write_context_ = context;
    errno = 0;
    file_.file = std::tmpfile();
    if (file_.file == nullptr)
        return report(error, Status::write, {this->name(), -1, -1}, nullptr, "cannot create a temporary file: %s",
                      why(errno));
    return open_tiff(error);
}

Status Output::open_tiff(Error *error) {
    to_file_ = file_.file != nullptr;
    TIFFOpenOptions *options = capturing_options(message_);
    if (options == nullptr) return report(error, Status::memory, {name(), -1, -1}, nullptr, "out of memory");
    tiff_ = file_.file != nullptr ? iff::tiff::open_tiff(file_, name(), "w", options)
                                  : iff::tiff::open_tiff(memory_, name(), "w", options);
    TIFFOpenOptionsFree(options);
    if (tiff_ == nullptr) {
        const Status status = failure_status();
        abandon();
        return report(error, status, {name(), -1, -1}, &message_, "cannot start the TIFF file");
    }
    return Status::ok;
}

Status Output::close_file(Error *error) {
    std::FILE *file = file_.file;
    file_.file = nullptr;
    errno = 0;
    const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
    const int failure = errno;
    const bool closed = std::fclose(file) == 0;
    if (file_.failure != 0 || !flushed || !closed)
        return report(error, Status::write, {name(), -1, -1}, nullptr, "writing the file failed: %s",
                      why(file_.failure != 0 ? file_.failure
                          : failure != 0     ? failure
                                             : errno));
    return Status::ok;
}

Status Output::send_to_writer(Error *error) {
    // The whole file goes out from the start, a fixed block at a time.
    uint8_t block[65536];
    if (std::fseek(file_.file, 0, SEEK_SET) != 0)
        return report(error, Status::write, {name(), -1, -1}, nullptr, "cannot read back the temporary file");
    for (uint64_t sent = 0; sent < file_.size;) {
        const size_t n = std::fread(block, 1, size_t(std::min<uint64_t>(sizeof block, file_.size - sent)), file_.file);
        if (n == 0)
            return report(error, Status::write, {name(), -1, -1}, nullptr, "cannot read back the temporary file");
        if (write_(write_context_, block, n) != 0)
            return report(error, Status::write, {name(), -1, -1}, nullptr,
                          "the write callback refused %zu bytes at offset %llu", n, (unsigned long long)sent);
        sent += n;
    }
    return Status::ok;
}

Status Output::complete(Error *error) {
    if (tiff_ == nullptr) return report(error, Status::argument, {name(), -1, -1}, nullptr, "the output is closed");
    TIFFClose(tiff_); // the pages' directories are written already; this releases libtiff's state
    tiff_ = nullptr;
    if (file_.file == nullptr)
        return memory_.out_of_memory ? report(error, Status::memory, {name(), -1, -1}, nullptr, "out of memory")
                                     : Status::ok;
    Status status = file_.failure != 0 ? close_file(error) : Status::ok;
    if (status == Status::ok && write_ != nullptr) status = send_to_writer(error);
    if (status == Status::ok) status = close_file(error);
    if (status == Status::ok && !path_.empty() && std::rename(temporary_.c_str(), path_.c_str()) != 0)
        status = report(error, Status::write, {name(), -1, -1}, nullptr,
                        "cannot rename the finished file into place: %s", why(errno));
    if (status == Status::ok) temporary_.clear();
    abandon();
    return status;
}

void Output::abandon() {
    if (tiff_ != nullptr) {
        // Closing may try to finish the page in hand; whatever it writes is thrown away.
        TIFFClose(tiff_);
        tiff_ = nullptr;
    }
    if (file_.file != nullptr) {
        std::fclose(file_.file);
        file_.file = nullptr;
    }
    if (!temporary_.empty()) {
        std::remove(temporary_.c_str());
        temporary_.clear();
    }
}

} // namespace iff::tiff
