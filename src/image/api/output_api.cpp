// Outputs: where encoded files go.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "api/guarded.h"
#include "api/output_object.h"

namespace image {

namespace {

// A file of our own, written through pwrite at any offset.
class DescriptorFile : public PlacedFile {
  public:
    explicit DescriptorFile(int fd) : fd_(fd) {}
    ~DescriptorFile() override { close(); }
    DescriptorFile(const DescriptorFile &) = delete;
    DescriptorFile &operator=(const DescriptorFile &) = delete;

    bool write_at(uint64_t offset, const uint8_t *data, size_t size) override {
        while (size > 0) {
            const ssize_t written = pwrite(fd_, data, size, static_cast<off_t>(offset));
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                why_ = written < 0 ? std::strerror(errno) : "the file takes no more bytes";
                return false;
            }
            data += written;
            offset += static_cast<uint64_t>(written);
            size -= static_cast<size_t>(written);
        }
        return true;
    }
    bool truncate(uint64_t size) override {
        if (ftruncate(fd_, static_cast<off_t>(size)) != 0) {
            why_ = std::strerror(errno);
            return false;
        }
        return true;
    }
    std::string why() const override { return why_; }

    // Closes the file; false with why() when the close fails (a delayed write).
    bool close() {
        if (fd_ < 0) {
            return true;
        }
        const int result = ::close(fd_);
        fd_ = -1;
        if (result != 0) {
            why_ = std::strerror(errno);
        }
        return result == 0;
    }

  private:
    int fd_;
    std::string why_;
};

// The caller's file that takes bytes at any offset.
class CallbackFile : public PlacedFile {
  public:
    CallbackFile(iffpcx_write_at_fn write_fn, iffpcx_resize_fn resize_fn, void *context)
        : write_at_(write_fn), resize_(resize_fn), context_(context) {}
    bool write_at(uint64_t offset, const uint8_t *data, size_t size) override {
        return write_at_(context_, offset, data, size) == 0;
    }
    bool truncate(uint64_t size) override { return resize_ == nullptr || resize_(context_, size) == 0; }
    std::string why() const override { return "the write callback failed"; }

  private:
    iffpcx_write_at_fn write_at_;
    iffpcx_resize_fn resize_;
    void *context_;
};

void take_output(iffpcx_output **out, std::unique_ptr<iffpcx_output> output) {
    *out = output.release();
}

void check_place(iffpcx_output **out) {
    if (out == nullptr) {
        argument_error("no place for the output was given");
    }
    *out = nullptr;
}

[[noreturn]] void cannot_write(const iffpcx_output &output, const std::string &why) {
    throw ImageError(IFFPCX_ERR_WRITE, output.name + ": cannot write: " + why);
}

} // namespace

PcxOutput &start_pcx(iffpcx_output &output) {
    if (output.used || output.finished) {
        argument_error(output.name + ": an output takes one file");
    }
    output.used = true;
    if (output.file) {
        output.pcx = std::make_unique<PcxOutput>(output.name, *output.file);
    } else {
        output.pcx = std::make_unique<PcxOutput>(output.name);
    }
    return *output.pcx;
}

void write_whole(iffpcx_output &output, const std::vector<ByteView> &pieces) {
    if (output.used || output.finished) {
        argument_error(output.name + ": an output takes one file");
    }
    output.used = true;
    if (!output.file) {
        for (const ByteView &piece : pieces) {
            output.whole.insert(output.whole.end(), piece.begin(), piece.end());
        }
        return;
    }
    if (!output.file->truncate(0)) {
        cannot_write(output, output.file->why());
    }
    uint64_t at = 0;
    for (const ByteView &piece : pieces) {
        if (!output.file->write_at(at, piece.data(), piece.size())) {
            cannot_write(output, output.file->why());
        }
        at += piece.size();
    }
}

} // namespace image

using namespace image;

extern "C" {

iffpcx_status iffpcx_output_path(const char *path, iffpcx_output **out, iffpcx_error *error) {
    return guarded(error, [&] {
        check_place(out);
        if (path == nullptr || *path == '\0') {
            argument_error("no path was given");
        }
        auto output = std::make_unique<iffpcx_output>();
        output->kind = OutputKind::Path;
        output->name = path;
        output->path = path;
        // Beside the target, so that the rename stays on one file system.
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0; attempt < 100 && !output->file; ++attempt) {
            output->temporary =
                output->path + ".part-" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
            const int fd = open(output->temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                output->file = std::make_unique<DescriptorFile>(fd);
            } else if (errno != EEXIST) {
                throw ImageError(IFFPCX_ERR_WRITE, std::string(path) + ": cannot create: " + std::strerror(errno));
            }
        }
        if (!output->file) {
            throw ImageError(IFFPCX_ERR_WRITE, std::string(path) + ": cannot create a temporary file beside it");
        }
        take_output(out, std::move(output));
    });
}

iffpcx_status iffpcx_output_memory(iffpcx_output **out, iffpcx_error *error) {
    return guarded(error, [&] {
        check_place(out);
        auto output = std::make_unique<iffpcx_output>();
        output->name = "memory";
        take_output(out, std::move(output));
    });
}

iffpcx_status iffpcx_output_writer(iffpcx_write_fn write, void *context, const char *name, iffpcx_output **out,
                                   iffpcx_error *error) {
    return guarded(error, [&] {
        check_place(out);
        if (write == nullptr) {
            argument_error("no write callback was given");
        }
        auto output = std::make_unique<iffpcx_output>();
        output->kind = OutputKind::Writer;
        output->name = name_or(name, "output");
        output->write = write;
        output->context = context;
        take_output(out, std::move(output));
    });
}

iffpcx_status iffpcx_output_placed(iffpcx_write_at_fn write_at, iffpcx_resize_fn resize, void *context,
                                   const char *name, iffpcx_output **out, iffpcx_error *error) {
    return guarded(error, [&] {
        check_place(out);
        if (write_at == nullptr) {
            argument_error("no write callback was given");
        }
        auto output = std::make_unique<iffpcx_output>();
        output->kind = OutputKind::Placed;
        output->name = name_or(name, "output");
        output->file = std::make_unique<CallbackFile>(write_at, resize, context);
        take_output(out, std::move(output));
    });
}

const uint8_t *iffpcx_output_bytes(const iffpcx_output *output, size_t *size) {
    ByteView bytes;
    if (output != nullptr && output->kind == OutputKind::Memory) {
        bytes = output->pcx ? output->pcx->contents() : ByteView(output->whole);
    }
    if (size != nullptr) {
        *size = bytes.size();
    }
    return bytes.data();
}

iffpcx_status iffpcx_output_finish(iffpcx_output *output, iffpcx_error *error) {
    return guarded(error, [&] {
        if (output == nullptr) {
            argument_error("no output was given");
        }
        if (output->finished) {
            return;
        }
        if (!output->used) {
            argument_error(output->name + ": nothing was encoded into the output");
        }
        if (output->kind == OutputKind::Writer) {
            const ByteView bytes = output->pcx ? output->pcx->contents() : ByteView(output->whole);
            if (output->write(output->context, bytes.data(), bytes.size()) != 0) {
                cannot_write(*output, "the write callback failed");
            }
        }
        if (output->kind == OutputKind::Path) {
            auto &file = static_cast<DescriptorFile &>(*output->file);
            if (!file.close()) {
                cannot_write(*output, file.why());
            }
            if (std::rename(output->temporary.c_str(), output->path.c_str()) != 0) {
                cannot_write(*output, std::strerror(errno));
            }
            output->temporary.clear();
        }
        output->finished = true;
    });
}

void iffpcx_output_free(iffpcx_output *output) {
    if (output == nullptr) {
        return;
    }
    output->pcx.reset();
    output->file.reset(); // closes a path's file
    if (!output->temporary.empty()) {
        std::remove(output->temporary.c_str());
    }
    delete output;
}

} // extern "C"
