// Pages of a PCX or DCX file decoded into one multi-page TIFF file, through
// the TIFF writer over libtiff where the layer was built with it.
#include <vector>

#include "api/guarded.h"
#include "api/output_object.h"

#ifdef IFFPCX_HAVE_TIFF
#include "image/tiff/tiff_writer.h"

namespace image {

namespace {

using iff::tiff::Compression;
using iff::tiff::Kind;

Compression compression_of(uint32_t compression) {
    switch (compression) {
    case IFFPCX_TIFF_DEFAULT: return Compression::page_default;
    case IFFPCX_TIFF_NONE: return Compression::none;
    case IFFPCX_TIFF_LZW: return Compression::lzw;
    case IFFPCX_TIFF_DEFLATE: return Compression::deflate;
    case IFFPCX_TIFF_G4: return Compression::g4;
    default: argument_error("unknown TIFF compression " + std::to_string(compression));
    }
}

// The form each kind is decoded in: the one the writer takes for it.
iffpcx_form form_of(uint32_t kind) {
    switch (kind) {
    case IFFPCX_KIND_BILEVEL: return IFFPCX_FORM_BITS;
    case IFFPCX_KIND_GRAY: return IFFPCX_FORM_GRAY;
    case IFFPCX_KIND_INDEXED: return IFFPCX_FORM_INDEX;
    case IFFPCX_KIND_RGB: return IFFPCX_FORM_RGB;
    default: return IFFPCX_FORM_RGBA;
    }
}

// The writer's statuses carry the layer's numbers.
[[noreturn]] void throw_tiff(const iff::tiff::Error &error) {
    throw ImageError(error.status, error.message, error.page, error.line);
}

[[noreturn]] void throw_layer(const iffpcx_error &error) {
    throw ImageError(error.status, error.message, error.page, error.line, error.library_status);
}

struct RowFeed {
    iff::tiff::Writer *writer;
    iff::tiff::Error error;
    bool failed = false;
};

int feed_rows(void *context, int32_t, const uint8_t *rows, size_t count, size_t stride) {
    auto &feed = *static_cast<RowFeed *>(context);
    feed.failed = feed.writer->write_rows(rows, count, stride, &feed.error) != iff::tiff::Status::ok;
    return feed.failed ? 1 : 0;
}

// Writes one page; a page kept with rows missing (IFFPCX_PARTIAL) fills
// `shortfall` instead of throwing.
void write_page(iffpcx_file *file, uint32_t page, uint32_t flags, iff::tiff::Writer &writer, iffpcx_error &shortfall) {
    iffpcx_page_info info{};
    iffpcx_error error{};
    if (iffpcx_page_info_get(file, page, &info, &error) != IFFPCX_OK) {
        throw_layer(error);
    }
    iff::tiff::Page target;
    target.width = info.width;
    target.height = info.height;
    target.kind = Kind(info.kind);
    target.palette = info.palette;
    target.palette_entries = info.palette_entries;
    target.dpi_x = info.dpi_x;
    target.dpi_y = info.dpi_y;
    RowFeed feed{&writer, {}};
    if (writer.begin_page(target, &feed.error) != iff::tiff::Status::ok) {
        throw_tiff(feed.error);
    }
    // In order, on this thread: the writer codes rows as they come.
    const uint32_t decode_flags = (flags & (IFFPCX_ONE_THREAD | IFFPCX_PARTIAL));
    const iffpcx_status status =
        iffpcx_decode_rows(file, page, form_of(info.kind), decode_flags, 0, info.height, feed_rows, &feed, &error);
    if (feed.failed) {
        throw_tiff(feed.error);
    }
    const bool kept = status == IFFPCX_ERR_TRUNCATED && (flags & IFFPCX_PARTIAL) != 0;
    if (status != IFFPCX_OK && !kept) {
        throw_layer(error);
    }
    if (kept && shortfall.status == IFFPCX_OK) {
        shortfall = error;
    }
}

void decode_tiff(iffpcx_file *file, const uint32_t *pages, size_t count, uint32_t compression, uint32_t flags,
                 iffpcx_output *output) {
    if (file == nullptr || output == nullptr) {
        argument_error("no file or no output was given");
    }
    const Compression chosen = compression_of(compression);
    std::vector<uint32_t> all;
    if (pages == nullptr) {
        for (uint32_t page = 0; page < iffpcx_page_count(file); ++page) {
            all.push_back(page);
        }
        pages = all.data();
        count = all.size();
    }
    if (count == 0) {
        argument_error("a TIFF file needs at least one page");
    }
    iffpcx_error error{};
    for (size_t k = 0; k < count; ++k) {
        if (iffpcx_page_check(file, pages[k], &error) != IFFPCX_OK) {
            throw_layer(error); // before anything is written
        }
    }
    std::unique_ptr<iff::tiff::Writer> writer;
    iff::tiff::Error failure;
    if (iff::tiff::Writer::to_memory(chosen, writer, &failure) != iff::tiff::Status::ok) {
        throw_tiff(failure);
    }
    iffpcx_error shortfall{};
    for (size_t k = 0; k < count; ++k) {
        write_page(file, pages[k], flags, *writer, shortfall);
    }
    if (writer->finish(&failure) != iff::tiff::Status::ok) {
        throw_tiff(failure);
    }
    size_t size = 0;
    const uint8_t *bytes = writer->bytes(size);
    write_whole(*output, {ByteView(bytes, size)});
    if (shortfall.status != IFFPCX_OK) {
        throw_layer(shortfall); // the file is complete, its page still short
    }
}

} // namespace

} // namespace image

extern "C" iffpcx_status iffpcx_decode_tiff(iffpcx_file *file, const uint32_t *pages, size_t count,
                                            uint32_t compression, uint32_t flags, iffpcx_output *output,
                                            iffpcx_error *error) {
    return image::guarded(error, [&] { image::decode_tiff(file, pages, count, compression, flags, output); });
}

#else

extern "C" iffpcx_status iffpcx_decode_tiff(iffpcx_file *, const uint32_t *, size_t, uint32_t, uint32_t,
                                            iffpcx_output *, iffpcx_error *error) {
    return image::guarded(error, [] {
        throw image::ImageError(IFFPCX_ERR_UNSUPPORTED, "this iffpcx_image was built without libtiff: no TIFF output");
    });
}

#endif
