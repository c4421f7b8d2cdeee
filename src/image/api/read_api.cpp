// Opening PCX and DCX files, and what their pages are.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "api/file_object.h"
#include "api/guarded.h"

namespace image {

Limits limits_of(const iffpcx_limits *limits) {
    const iffpcx_limits chosen = limits != nullptr ? *limits : iffpcx_default_limits();
    return Limits{chosen.max_pixels, chosen.max_file_bytes, chosen.max_pages};
}

void fill_page_info(const PageInfo &page, iffpcx_page_info *info) {
    std::memset(info, 0, sizeof *info);
    const HeaderFields &h = page.header;
    info->index = static_cast<uint32_t>(page.index);
    info->width = page.width;
    info->height = page.height;
    info->kind = page.kind;
    info->color_class = page.color_class;
    info->bits = page.bits;
    info->planes = h.planes;
    info->bits_per_plane = h.bits_per_plane;
    info->version = h.version;
    info->encoding = h.encoding;
    info->bytes_per_line = h.bytes_per_line;
    info->palette_type = h.palette_info;
    info->x_min = h.x_min;
    info->y_min = h.y_min;
    info->x_max = h.x_max;
    info->y_max = h.y_max;
    info->dpi_x = page.dpi_x;
    info->dpi_y = page.dpi_y;
    info->palette_entries = static_cast<uint32_t>(page.palette_entries);
    const size_t colours = std::min<size_t>(page.colours.size(), 256);
    if (colours > 0) {
        std::memcpy(info->palette, page.colours.data(), 3 * colours);
    }
    info->offset = page.span.offset;
    info->size = page.span.end - page.span.offset;
    info->warnings = page.warnings;
}

namespace {

uint64_t most_bytes(const Limits &limits) {
    return limits.max_file_bytes != 0 ? limits.max_file_bytes : 0x7FFFFFFF;
}

[[noreturn]] void too_large(const std::string &name, uint64_t limit) {
    throw ImageError(IFFPCX_ERR_LIMIT, name + ": more than the limit of " + std::to_string(limit) + " bytes");
}

iffpcx_status open_bytes(std::unique_ptr<iffpcx_file> file, ByteView bytes, const std::string &name,
                         const iffpcx_limits *limits, iffpcx_file **out, iffpcx_error *error) {
    return guarded(error, [&] {
        if (out == nullptr) {
            argument_error("no place for the file was given");
        }
        *out = nullptr;
        file->reader = std::make_unique<PcxFile>(bytes, name, limits_of(limits));
        *out = file.release();
    });
}

iffpcx_file *file_or_fail(iffpcx_file *file) {
    if (file == nullptr || !file->reader) {
        argument_error("no file was given");
    }
    return file;
}

} // namespace

} // namespace image

using namespace image;

extern "C" {

iffpcx_status iffpcx_open_path(const char *path, const iffpcx_limits *limits, iffpcx_file **file, iffpcx_error *error) {
    auto opened = std::make_unique<iffpcx_file>();
    const iffpcx_status read = guarded(error, [&] {
        if (path == nullptr) {
            argument_error("no path was given");
        }
        std::FILE *stream = std::fopen(path, "rb");
        if (stream == nullptr) {
            throw ImageError(IFFPCX_ERR_READ, std::string(path) + ": cannot open: " + std::strerror(errno));
        }
        const std::unique_ptr<std::FILE, int (*)(std::FILE *)> closer(stream, std::fclose);
        const uint64_t limit = most_bytes(limits_of(limits));
        // The size first, so that a file past the limit is not read at all.
        if (std::fseek(stream, 0, SEEK_END) == 0) {
            const long size = std::ftell(stream);
            if (size > 0 && static_cast<uint64_t>(size) > limit) {
                too_large(path, limit);
            }
            opened->owned.reserve(size > 0 ? static_cast<size_t>(size) : 0);
            std::rewind(stream);
        }
        uint8_t buffer[1 << 16];
        for (;;) {
            const size_t got = std::fread(buffer, 1, sizeof buffer, stream);
            if (opened->owned.size() + got > limit) {
                too_large(path, limit);
            }
            opened->owned.insert(opened->owned.end(), buffer, buffer + got);
            if (got < sizeof buffer) {
                break;
            }
        }
        if (std::ferror(stream)) {
            throw ImageError(IFFPCX_ERR_READ, std::string(path) + ": cannot read: " + std::strerror(errno));
        }
    });
    if (read != IFFPCX_OK) {
        if (file != nullptr) {
            *file = nullptr;
        }
        return read;
    }
    const ByteView bytes(opened->owned);
    return open_bytes(std::move(opened), bytes, path, limits, file, error);
}

iffpcx_status iffpcx_open_memory(const void *data, size_t size, const char *name, const iffpcx_limits *limits,
                                 iffpcx_file **file, iffpcx_error *error) {
    if (data == nullptr && size > 0) {
        return guarded(error, [] { argument_error("no bytes were given"); });
    }
    return open_bytes(std::make_unique<iffpcx_file>(), ByteView(static_cast<const uint8_t *>(data), size),
                      name_or(name, "input"), limits, file, error);
}

iffpcx_status iffpcx_open_reader(iffpcx_read_fn read, void *context, const char *name, const iffpcx_limits *limits,
                                 iffpcx_file **file, iffpcx_error *error) {
    auto opened = std::make_unique<iffpcx_file>();
    const std::string label = name_or(name, "input");
    const iffpcx_status status = guarded(error, [&] {
        if (read == nullptr) {
            argument_error("no read callback was given");
        }
        const uint64_t limit = most_bytes(limits_of(limits));
        uint8_t buffer[1 << 16];
        for (;;) {
            const int64_t got = read(context, buffer, sizeof buffer);
            if (got < 0 || got > static_cast<int64_t>(sizeof buffer)) {
                throw ImageError(IFFPCX_ERR_READ, label + ": the read callback failed");
            }
            if (got == 0) {
                break;
            }
            if (opened->owned.size() + static_cast<size_t>(got) > limit) {
                too_large(label, limit);
            }
            opened->owned.insert(opened->owned.end(), buffer, buffer + got);
        }
    });
    if (status != IFFPCX_OK) {
        if (file != nullptr) {
            *file = nullptr;
        }
        return status;
    }
    const ByteView bytes(opened->owned);
    return open_bytes(std::move(opened), bytes, label, limits, file, error);
}

void iffpcx_close(iffpcx_file *file) {
    delete file;
}

int iffpcx_is_dcx(const iffpcx_file *file) {
    return file != nullptr && file->reader && file->reader->is_dcx() ? 1 : 0;
}

uint32_t iffpcx_page_count(const iffpcx_file *file) {
    return file != nullptr && file->reader ? static_cast<uint32_t>(file->reader->page_count()) : 0;
}

const char *iffpcx_file_name(const iffpcx_file *file) {
    return file != nullptr && file->reader ? file->reader->name().c_str() : "";
}

iffpcx_status iffpcx_page_info_get(iffpcx_file *file, uint32_t page, iffpcx_page_info *info, iffpcx_error *error) {
    return guarded(error, [&] {
        if (info == nullptr) {
            argument_error("no place for the page's description was given");
        }
        fill_page_info(file_or_fail(file)->reader->page_info(static_cast<int>(std::min<uint32_t>(page, INT32_MAX))),
                       info);
    });
}

iffpcx_status iffpcx_page_check(iffpcx_file *file, uint32_t page, iffpcx_error *error) {
    return guarded(
        error, [&] { file_or_fail(file)->reader->check_page(static_cast<int>(std::min<uint32_t>(page, INT32_MAX))); });
}

iffpcx_status iffpcx_page_bytes(iffpcx_file *file, uint32_t page, const uint8_t **data, size_t *size,
                                iffpcx_error *error) {
    return guarded(error, [&] {
        const PcxFile &reader = *file_or_fail(file)->reader;
        if (data == nullptr || size == nullptr) {
            argument_error("no place for the page's bytes was given");
        }
        if (page >= static_cast<uint32_t>(reader.page_count())) {
            throw ImageError(IFFPCX_ERR_ARGUMENT, reader.name() + ": has no page " + std::to_string(page));
        }
        const PageSpan &span = reader.span(static_cast<int>(page));
        *data = reader.bytes().data() + span.offset;
        *size = span.end - span.offset;
    });
}

iffpcx_status iffpcx_page_spans(const void *data, size_t size, const char *name, uint64_t *offsets, uint32_t *count,
                                iffpcx_error *error) {
    return guarded(error, [&] {
        if ((data == nullptr && size > 0) || count == nullptr) {
            argument_error("no bytes or no count was given");
        }
        const std::vector<PageSpan> spans =
            page_spans(ByteView(static_cast<const uint8_t *>(data), size), name_or(name, "input"));
        if (offsets != nullptr) {
            if (*count < spans.size()) {
                argument_error("room for " + std::to_string(*count) + " pages, not " + std::to_string(spans.size()));
            }
            for (size_t k = 0; k < spans.size(); ++k) {
                offsets[k] = spans[k].offset;
            }
            offsets[spans.size()] = spans.back().end;
        }
        *count = static_cast<uint32_t>(spans.size());
    });
}

} // extern "C"
