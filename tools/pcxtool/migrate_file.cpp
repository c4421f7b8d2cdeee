#include "migrate_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "file_io.h"
#include "iffpcx_check.h"
#include "migrate_verify.h"
#include "pcx_pages.h"
#include "png_io.h"
#include "sha256.h"
#include "tool_error.h"

namespace pcxtool {

namespace {

// Reads a whole file into `bytes`; false with errno set on failure. Files
// beyond what a PCX or DCX file can be are left unread (`too_large`).
bool read_file(const std::string &path, std::vector<uint8_t> &bytes, uint64_t &size, bool &too_large) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat status {};
    bool ok = fstat(fd, &status) == 0;
    size = ok ? static_cast<uint64_t>(status.st_size) : 0;
    too_large = size > kMaxInputBytes;
    bytes.clear();
    if (ok && !too_large) {
        bytes.resize(size);
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                ok = n == 0; // cut short meanwhile: what is there
                break;
            }
            done += static_cast<size_t>(n);
        }
        bytes.resize(done);
        size = done;
    }
    const int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

// A PNG page held in memory until it is verified.
class MemoryFile : public ByteOutput {
  public:
    explicit MemoryFile(std::string name) : name_(std::move(name)) {}
    const std::string &target() const override { return name_; }
    void write(const uint8_t *data, size_t size) override { bytes.insert(bytes.end(), data, data + size); }
    void write_at(uint64_t offset, const uint8_t *data, size_t size) override {
        if (bytes.size() < offset + size) {
            bytes.resize(offset + size);
        }
        std::memcpy(bytes.data() + offset, data, size);
    }
    std::vector<uint8_t> bytes;

  private:
    std::string name_;
};

struct Output {
    std::string path;
    std::vector<uint8_t> bytes;
    int page = -1; // PNG: the page it holds; TIFF: -1, every page
};

std::vector<Output> convert(PcxPages &pages, const std::string &base, const MigrateSettings &settings) {
    std::vector<Output> outputs;
    if (!settings.png) {
        iffpcx_output *memory = nullptr;
        iffpcx_error error{};
        iffpcx_status status = iffpcx_output_memory(&memory, &error);
        if (status == IFFPCX_OK) {
            status = iffpcx_decode_tiff(pages.handle(), nullptr, 0, settings.tiff_compression, IFFPCX_ONE_THREAD,
                                        memory, &error);
        }
        if (status == IFFPCX_OK) {
            size_t size = 0;
            const uint8_t *bytes = iffpcx_output_bytes(memory, &size);
            outputs.push_back({base + ".tif", std::vector<uint8_t>(bytes, bytes + size), -1});
        }
        iffpcx_output_free(memory);
        if (status != IFFPCX_OK) {
            throw_layer_error(error);
        }
        return outputs;
    }
    for (int page = 0; page < pages.page_count(); ++page) {
        const std::string path = pages.is_dcx() ? base + ".p" + std::to_string(page) + ".png" : base + ".png";
        MemoryFile file(path);
        std::unique_ptr<RowSink> sink = make_png_sink(file);
        std::string warnings; // what the page's header lacks changes nothing here
        pages.decode_page(page, *sink, &warnings);
        outputs.push_back({path, std::move(file.bytes), page});
    }
    return outputs;
}

void verify(PcxPages &pages, const Output &output, ByteView bytes) {
    if (output.page < 0) {
        verify_tiff(pages, bytes, output.path);
    } else {
        verify_png(pages, output.page, bytes, output.path);
    }
}

std::vector<uint8_t> whole_file(const std::string &path) {
    std::vector<uint8_t> bytes;
    uint64_t size = 0;
    bool too_large = false;
    if (!read_file(path, bytes, size, too_large) || too_large) {
        throw input_error(path + ": exists already and cannot be read to compare");
    }
    return bytes;
}

// Gives each output its name; an output that stands there already is kept
// when it holds the same pages (a run cut off before it recorded the file),
// and is otherwise a failure. On failure the outputs placed here are removed.
void place(PcxPages &pages, const std::vector<Output> &outputs, MigrateRecord &record) {
    std::vector<std::string> placed;
    try {
        for (const Output &output : outputs) {
            std::error_code ignored;
            const std::filesystem::path folder = std::filesystem::path(output.path).parent_path();
            if (!folder.empty()) {
                std::filesystem::create_directories(folder, ignored);
            }
            struct stat status {};
            if (lstat(output.path.c_str(), &status) == 0) {
                const std::vector<uint8_t> existing = whole_file(output.path);
                try {
                    verify(pages, output, existing);
                } catch (const ToolError &error) {
                    throw input_error(output.path + ": exists already, and is not this file's: " + error.what());
                }
                record.outputs.push_back({output.path, sha256_hex(existing)});
                record.adopted = true;
                continue;
            }
            PendingFile file(output.path);
            file.write(output.bytes.data(), output.bytes.size());
            file.place_new();
            placed.push_back(output.path);
            record.outputs.push_back({output.path, sha256_hex(output.bytes)});
        }
    } catch (...) {
        for (const std::string &path : placed) {
            unlink(path.c_str());
        }
        record.outputs.clear();
        throw;
    }
}

// What check says of the file; false when it is neither PCX nor DCX.
bool describe(ByteView bytes, const std::string &source, MigrateRecord &record) {
    iffpcx_report *report = nullptr;
    iffpcx_error error{};
    if (iffpcx_check_memory(bytes.data(), bytes.size(), source.c_str(), nullptr, &report, &error) != IFFPCX_OK) {
        // Beyond check's limits: still a file to convert if it starts as one.
        record.format = starts_like_pcx_or_dcx(bytes) ? (has_dcx_signature(bytes) ? "dcx" : "pcx") : "unknown";
        return record.format != "unknown";
    }
    record.format = report->format;
    record.format_id = report->format_id;
    record.verdict = iffpcx_verdict_name(report->verdict);
    iffpcx_report_free(report);
    return record.format != "unknown";
}

} // namespace

MigrateOutcome migrate_file(const std::string &source, const std::string &output_base, const MigrateSettings &settings,
                            const ConvertedFiles &converted, std::vector<uint8_t> &buffer) {
    MigrateOutcome outcome;
    MigrateRecord &record = outcome.record;
    record.source = source;
    uint64_t size = 0;
    bool too_large = false;
    if (!read_file(source, buffer, size, too_large)) {
        record.status = "failed";
        record.error = source + ": cannot read: " + std::strerror(errno);
        return outcome;
    }
    record.size = size;
    if (too_large) {
        record.status = "skipped";
        record.error = "larger than a PCX or DCX file can be";
        return outcome;
    }
    const ByteView bytes(buffer);
    record.sha256 = sha256_hex(bytes);
    const auto earlier = converted.find(manifest_spelling(source));
    if (earlier != converted.end() && earlier->second.size == size && earlier->second.sha256 == record.sha256) {
        outcome.resumed = true;
        return outcome;
    }
    if (!describe(bytes, source, record)) {
        record.status = "skipped";
        return outcome;
    }
    try {
        PcxPages pages(bytes, source, settings.max_pixels, false);
        record.pages = pages.page_count();
        const iffpcx_page_info first = pages.page_info(0);
        record.width = first.width;
        record.height = first.height;
        record.dpi_x = first.dpi_x;
        record.dpi_y = first.dpi_y;
        const std::vector<Output> outputs = convert(pages, output_base, settings);
        for (const Output &output : outputs) {
            verify(pages, output, output.bytes);
        }
        place(pages, outputs, record);
        record.verified = true;
        record.status = "converted";
    } catch (const ToolError &error) {
        record.status = "failed";
        record.error = error.what();
    } catch (const std::bad_alloc &) {
        record.status = "failed";
        record.error = source + ": out of memory";
    } catch (const std::exception &error) {
        record.status = "failed";
        record.error = source + ": " + error.what();
    }
    return outcome;
}

} // namespace pcxtool
