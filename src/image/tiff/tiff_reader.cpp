#include "image/tiff/tiff_reader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

#include "image/tiff/row_forms.h"

namespace iff::tiff {

namespace {

// Rows are handed over in blocks of about this many bytes (at least one row).
constexpr size_t kBlockBytes = 64 * 1024;

// Whole dots per inch from a resolution tag; 0 where it is absent or not
// absolute.
int32_t dots_per_inch(TIFF *tif, uint32_t tag, uint16_t unit) {
    float value = 0;
    if (!TIFFGetField(tif, tag, &value) || !(value > 0) || unit == RESUNIT_NONE) return 0;
    const double dpi = unit == RESUNIT_CENTIMETER ? double(value) * 2.54 : double(value);
    return dpi < double(INT32_MAX) ? int32_t(std::lround(dpi)) : 0;
}

} // namespace

Reader::~Reader() {
    if (tiff_ != nullptr) TIFFClose(tiff_);
}

Status Reader::fail(Error *error, Status status, int32_t page, int32_t line, const char *what) {
    return report(error, status, {name_.c_str(), page, line}, &message_, "%s", what);
}

Status Reader::start(TIFF *tif, Error *error) {
    if (tif == nullptr) {
        // libtiff's words tell a file that is not TIFF from one it cannot read.
        const bool unreadable = std::strstr(message_.text, "Cannot open") != nullptr;
        return fail(error, unreadable ? Status::read : Status::not_tiff, -1, -1, "cannot read it as a TIFF file");
    }
    tiff_ = tif;
    const tdir_t pages = TIFFNumberOfDirectories(tif);
    if (pages == 0) return fail(error, Status::malformed, -1, -1, "the file has no pages");
    pages_ = pages;
    return Status::ok;
}

Status Reader::open_path(const char *path, std::unique_ptr<Reader> &reader, Error *error) {
    try {
        reader.reset(new Reader());
        reader->name_ = path != nullptr ? path : "";
    } catch (const std::bad_alloc &) {
        reader.reset();
        return report(error, Status::memory, {path, -1, -1}, nullptr, "out of memory");
    }
    TIFFOpenOptions *options = capturing_options(reader->message_);
    if (path == nullptr || options == nullptr) {
        TIFFOpenOptionsFree(options);
        reader.reset();
        return report(error, path == nullptr ? Status::argument : Status::memory, {path, -1, -1}, nullptr,
                      path == nullptr ? "no path" : "out of memory");
    }
    TIFF *tif = TIFFOpenExt(path, "r", options);
    TIFFOpenOptionsFree(options);
    const Status status = reader->start(tif, error);
    if (status != Status::ok) reader.reset();
    return status;
}

Status Reader::open_memory(const void *data, size_t size, const char *name, std::unique_ptr<Reader> &reader,
                           Error *error) {
    if (name == nullptr) name = "memory";
    try {
        reader.reset(new Reader());
        reader->name_ = name;
    } catch (const std::bad_alloc &) {
        reader.reset();
        return report(error, Status::memory, {name, -1, -1}, nullptr, "out of memory");
    }
    if (data == nullptr && size > 0) {
        reader.reset();
        return report(error, Status::argument, {name, -1, -1}, nullptr, "no bytes");
    }
    static const uint8_t kNothing = 0; // an empty input is still an input
    reader->memory_.input = data != nullptr ? static_cast<const uint8_t *>(data) : &kNothing;
    reader->memory_.size = size;
    TIFFOpenOptions *options = capturing_options(reader->message_);
    TIFF *tif = options != nullptr ? open_tiff(reader->memory_, name, "r", options) : nullptr;
    TIFFOpenOptionsFree(options);
    const Status status = reader->start(tif, error);
    if (status != Status::ok) reader.reset();
    return status;
}

Status Reader::page_info(uint32_t page, PageInfo &info, Error *error) {
    const auto p = int32_t(page);
    if (page >= pages_) return report(error, Status::argument, {name_.c_str(), p, -1}, nullptr, "no such page");
    message_.clear();
    // The page in hand (its info, then its rows) is not read again.
    if (page != loaded_page_) {
        loaded_page_ = UINT32_MAX;
        if (!TIFFSetDirectory(tiff_, tdir_t(page)))
            return fail(error, Status::malformed, p, -1, "cannot read the page's directory");
        loaded_page_ = page;
    }
    TIFF *tif = tiff_;
    PageInfo out;
    out.index = page;
    uint32_t width = 0, height = 0;
    uint16_t samples = 1, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) ||
        !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &out.photometric))
        return fail(error, Status::malformed, p, -1, "the page lacks its size or photometric interpretation");
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &out.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &out.compression);
    if (width < 1 || height < 1) return fail(error, Status::malformed, p, -1, "the page has no pixels");
    if (width > uint32_t(INT32_MAX) / 4 || height > uint32_t(INT32_MAX))
        return fail(error, Status::limit, p, -1, "the page is too large");
    out.width = int32_t(width);
    out.height = int32_t(height);

    const uint16_t photometric = out.photometric;
    const bool gray = photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
    uint16_t extra_count = 0;
    uint16_t *extra = nullptr;
    TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    bool known = !TIFFIsTiled(tif) && format == SAMPLEFORMAT_UINT && (planar == PLANARCONFIG_CONTIG || samples == 1);
    if (known && samples == 1 && gray && out.bits == 1) {
        out.kind = Kind::bilevel;
    } else if (known && samples == 1 && gray && out.bits == 8) {
        out.kind = Kind::gray;
    } else if (known && samples == 1 && photometric == PHOTOMETRIC_PALETTE &&
               (out.bits == 1 || out.bits == 2 || out.bits == 4 || out.bits == 8)) {
        out.kind = Kind::indexed;
        uint16_t *map[3] = {};
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &map[0], &map[1], &map[2]))
            return fail(error, Status::malformed, p, -1, "a palette page without its colour map");
        out.palette_entries = 1u << out.bits;
        // 16-bit entries to 8 bits: the high byte, exact for v * 257 and v << 8 alike.
        for (uint32_t i = 0; i < out.palette_entries; ++i)
            for (int c = 0; c < 3; ++c) out.palette[3 * i + uint32_t(c)] = uint8_t(map[c][i] >> 8);
    } else if (known && samples == 3 && photometric == PHOTOMETRIC_RGB && out.bits == 8) {
        out.kind = Kind::rgb;
    } else if (known && samples == 4 && photometric == PHOTOMETRIC_RGB && out.bits == 8 && extra_count == 1 &&
               extra[0] == EXTRASAMPLE_UNASSALPHA) {
        out.kind = Kind::rgba;
    } else {
        char what[160];
        std::snprintf(what, sizeof what,
                      "a layout this reader does not convert (%s, %u bits x %u samples, photometric %u, planar %u)",
                      TIFFIsTiled(tif) ? "tiles" : "strips", unsigned(out.bits), unsigned(samples),
                      unsigned(photometric), unsigned(planar));
        return fail(error, Status::unsupported, p, -1, what);
    }
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    out.dpi_x = dots_per_inch(tif, TIFFTAG_XRESOLUTION, unit);
    out.dpi_y = dots_per_inch(tif, TIFFTAG_YRESOLUTION, unit);
    info = out;
    return Status::ok;
}

Status Reader::read_rows(uint32_t page, RowsFn rows, void *context, Error *error) {
    PageInfo info;
    if (Status status = page_info(page, info, error); status != Status::ok) return status;
    const auto p = int32_t(page);
    if (rows == nullptr) return report(error, Status::argument, {name_.c_str(), p, -1}, nullptr, "no row callback");
    const size_t row = row_bytes(info.kind, info.width);
    const tmsize_t stored = TIFFScanlineSize(tiff_);
    const bool unpack = info.kind == Kind::indexed && info.bits < 8;
    const size_t block_rows = std::max<size_t>(1, std::min<size_t>(size_t(info.height), kBlockBytes / row));
    if (!unpack && stored >= 0 && size_t(stored) < row)
        return fail(error, Status::malformed, p, -1, "the page's rows are shorter than its size says");
    if (stored <= 0 || !scanline_.reserve(size_t(stored)) || !block_.reserve(block_rows * row))
        return fail(error, Status::memory, p, -1, "out of memory");
    const bool inverted = (info.kind == Kind::bilevel && info.photometric == PHOTOMETRIC_MINISBLACK) ||
                          (info.kind == Kind::gray && info.photometric == PHOTOMETRIC_MINISWHITE);
    for (int32_t y = 0, first = 0; y < info.height; ++y) {
        if (TIFFReadScanline(tiff_, scanline_.data(), uint32_t(y), 0) < 0)
            return fail(error, Status::malformed, p, y, "decoding the row failed");
        uint8_t *out = block_.data() + size_t(y - first) * row;
        if (unpack) {
            unpack_indices(scanline_.data(), size_t(info.width), info.bits, out);
        } else {
            std::memcpy(out, scanline_.data(), row);
            if (inverted) complement(out, row);
            if (info.kind == Kind::bilevel) clear_tail_bits(out, size_t(info.width));
        }
        const auto held = size_t(y + 1 - first);
        if (held == block_rows || y + 1 == info.height) {
            if (rows(context, first, block_.data(), held, row) != 0)
                return report(error, Status::callback, {name_.c_str(), p, first}, nullptr, "the row callback stopped");
            first = y + 1;
        }
    }
    return Status::ok;
}

} // namespace iff::tiff
