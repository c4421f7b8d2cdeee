#include "image/tiff/tiff_writer.h"

#include <cstring>
#include <new>

#include <tiffio.h>

#include "image/tiff/row_forms.h"

namespace iff::tiff {

namespace {

// libtiff's buffer for coded data of a one-strip (Group 4) page: what fills
// it is written out, so it bounds the memory however tall the page is.
constexpr tmsize_t kCodedBufferBytes = 64 * 1024;

} // namespace

// Names are copied into std::string, whose only failure is memory; it stays
// inside here.
template <typename Open>
Status Writer::open_output(Compression compression, const char *name, std::unique_ptr<Writer> &writer, Error *error,
                           Open &&open) {
    try {
        writer.reset(new (std::nothrow) Writer(compression));
        Status status = writer != nullptr ? open(writer->output_) : Status::memory;
        if (writer == nullptr) report(error, status, {name, -1, -1}, nullptr, "out of memory");
        if (status != Status::ok) writer.reset();
        return status;
    } catch (const std::bad_alloc &) {
        writer.reset();
        return report(error, Status::memory, {name, -1, -1}, nullptr, "out of memory");
    }
}

Status Writer::to_path(const char *path, Compression compression, std::unique_ptr<Writer> &writer, Error *error) {
    return open_output(compression, path, writer, error, [&](Output &output) { return output.open_path(path, error); });
}

Status Writer::to_memory(Compression compression, std::unique_ptr<Writer> &writer, Error *error) {
    return open_output(compression, "memory", writer, error, [&](Output &output) { return output.open_memory(error); });
}

Status Writer::to_writer(WriteFn write, void *context, const char *name, Compression compression,
                         std::unique_ptr<Writer> &writer, Error *error) {
    return open_output(compression, name, writer, error,
                       [&](Output &output) { return output.open_writer(write, context, name, error); });
}

Status Writer::fail(Error *error, Status status, int32_t line, const char *what, const LibraryMessage *library) {
    failed_ = true;
    report(&failure_, status, {output_.name(), page_, line}, library, "%s", what);
    output_.abandon();
    if (error != nullptr) *error = failure_;
    return status;
}

Status Writer::repeat_failure(Error *error) const {
    if (error != nullptr) *error = failure_;
    return Status(failure_.status);
}

Status Writer::set_page_fields(const Page &page, Error *error) {
    TIFF *tif = output_.tiff();
    const Layout &l = layout_;
    bool set = TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) &&
               TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(page.width)) &&
               TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(page.height)) &&
               TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.bits) &&
               TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, l.samples) &&
               TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.photometric) &&
               TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
               TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
               TIFFSetField(tif, TIFFTAG_COMPRESSION, l.compression) &&
               TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, l.rows_per_strip) &&
               // Page numbers from 0; the total is not known while pages stream in.
               TIFFSetField(tif, TIFFTAG_PAGENUMBER, uint16_t(page_ > 0xFFFF ? 0xFFFF : page_), uint16_t(0));
    if (set && l.predictor != 1) set = TIFFSetField(tif, TIFFTAG_PREDICTOR, l.predictor);
    if (set && l.alpha) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        set = TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), &extra);
    }
    if (set && l.colormap_entries != 0) {
        // 16-bit entries: an 8-bit value v is v * 257, so 255 is full scale.
        uint16_t map[3][256] = {};
        for (uint32_t i = 0; i < page.palette_entries; ++i)
            for (int c = 0; c < 3; ++c) map[c][i] = uint16_t(page.palette[3 * i + uint32_t(c)] * 257u);
        set = TIFFSetField(tif, TIFFTAG_COLORMAP, map[0], map[1], map[2]);
    }
    if (set && (page.dpi_x > 0 || page.dpi_y > 0)) {
        set = TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        if (set && page.dpi_x > 0) set = TIFFSetField(tif, TIFFTAG_XRESOLUTION, double(page.dpi_x));
        if (set && page.dpi_y > 0) set = TIFFSetField(tif, TIFFTAG_YRESOLUTION, double(page.dpi_y));
    }
    if (!set) return fail(error, Status::write, -1, "setting the page's tags failed", &output_.message());
    if (l.one_strip && !TIFFWriteBufferSetup(tif, nullptr, kCodedBufferBytes))
        return fail(error, Status::memory, -1, "out of memory", &output_.message());
    return Status::ok;
}

Status Writer::begin_page(const Page &page, Error *error) {
    if (failed_) return repeat_failure(error);
    if (finished_) return report(error, Status::argument, {output_.name(), -1, -1}, nullptr, "the file is finished");
    if (page_open_) return fail(error, Status::argument, -1, "a new page began before the last one had all its rows");
    ++page_;
    const char *why = "";
    if (choose_layout(page, compression_, layout_, &why) != Status::ok) return fail(error, Status::argument, -1, why);
    const size_t buffer = layout_.one_strip ? layout_.stored_bytes : layout_.stored_bytes * layout_.rows_per_strip;
    if (!strip_.reserve(buffer)) return fail(error, Status::memory, -1, "out of memory");
    output_.message().clear();
    if (Status status = set_page_fields(page, error); status != Status::ok) return status;
    palette_entries_ = page.kind == Kind::indexed ? page.palette_entries : 256;
    width_ = page.width;
    height_ = page.height;
    rows_done_ = 0;
    page_open_ = true;
    return Status::ok;
}

// Puts row y, in the caller's form, where the strip (or the one row being
// coded) takes it in the stored form.
Status Writer::store_row(const uint8_t *row, int32_t y, Error *error) {
    const Layout &l = layout_;
    uint8_t *target =
        l.one_strip ? strip_.data() : strip_.data() + size_t(uint32_t(y) % l.rows_per_strip) * l.stored_bytes;
    const auto width = size_t(width_);
    if (l.photometric == PHOTOMETRIC_PALETTE) {
        const size_t outside = first_index_outside(row, width, palette_entries_);
        if (outside != width) {
            char what[96];
            std::snprintf(what, sizeof what, "pixel %zu has index %u, beyond the palette's %u colours", outside,
                          unsigned(row[outside]), unsigned(palette_entries_));
            return fail(error, Status::colours, y, what);
        }
        if (l.bits == 4) {
            pack_nibbles(row, width, target);
            return Status::ok;
        }
    }
    std::memcpy(target, row, l.row_bytes);
    if (l.bits == 1) clear_tail_bits(target, width);
    return Status::ok;
}

Status Writer::flush_strip(int32_t end_row, Error *error) {
    const uint32_t rows = uint32_t(end_row - 1) % layout_.rows_per_strip + 1;
    const uint32_t strip = uint32_t(end_row - 1) / layout_.rows_per_strip;
    if (TIFFWriteEncodedStrip(output_.tiff(), strip, strip_.data(), tmsize_t(rows * layout_.stored_bytes)) < 0)
        return fail(error, output_.failure_status(), end_row - int32_t(rows), "writing the strip failed",
                    &output_.message());
    return Status::ok;
}

Status Writer::write_rows(const uint8_t *rows, size_t count, size_t stride, Error *error) {
    if (failed_) return repeat_failure(error);
    if (!page_open_) return fail(error, Status::argument, -1, "rows came with no page begun");
    if (count == 0) return Status::ok;
    if (rows == nullptr) return fail(error, Status::argument, rows_done_, "no rows");
    if (count > size_t(height_ - rows_done_))
        return fail(error, Status::argument, rows_done_, "more rows than the page has");
    if (count > 1 && stride < layout_.row_bytes)
        return fail(error, Status::argument, rows_done_, "the stride is shorter than a row");
    for (size_t i = 0; i < count; ++i) {
        const int32_t y = rows_done_;
        if (Status status = store_row(rows + i * stride, y, error); status != Status::ok) return status;
        if (layout_.one_strip) {
            if (TIFFWriteScanline(output_.tiff(), strip_.data(), uint32_t(y), 0) < 0)
                return fail(error, output_.failure_status(), y, "coding the row failed", &output_.message());
        }
        rows_done_ = y + 1;
        if (!layout_.one_strip && (uint32_t(rows_done_) % layout_.rows_per_strip == 0 || rows_done_ == height_)) {
            if (Status status = flush_strip(rows_done_, error); status != Status::ok) return status;
        }
    }
    if (rows_done_ == height_) {
        if (!TIFFWriteDirectory(output_.tiff()))
            return fail(error, output_.failure_status(), -1, "writing the page's directory failed", &output_.message());
        page_open_ = false;
        ++pages_done_;
    }
    return Status::ok;
}

Status Writer::finish(Error *error) {
    if (failed_) return repeat_failure(error);
    if (finished_) return report(error, Status::argument, {output_.name(), -1, -1}, nullptr, "the file is finished");
    if (page_open_) return fail(error, Status::argument, rows_done_, "the page has not had all its rows");
    if (pages_done_ == 0) return fail(error, Status::argument, -1, "a TIFF file needs at least one page");
    page_ = -1;
    const Status status = output_.complete(&failure_);
    if (status != Status::ok) {
        failed_ = true;
        if (error != nullptr) *error = failure_;
        return status;
    }
    finished_ = true;
    return Status::ok;
}

const uint8_t *Writer::bytes(size_t &size) const {
    size = 0;
    return finished_ ? output_.bytes(size) : nullptr;
}

} // namespace iff::tiff
