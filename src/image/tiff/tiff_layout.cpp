#include "image/tiff/tiff_layout.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include <tiffio.h>

namespace iff::tiff {

namespace {

// Uncoded bytes of a strip: large enough that Deflate's window and the
// per-strip overhead cost little, small enough that a strip is buffered
// whatever the page's height.
constexpr size_t kStripBytes = 256 * 1024;

uint16_t stored_compression(Kind kind, Compression compression) {
    switch (compression) {
    case Compression::none: return COMPRESSION_NONE;
    case Compression::lzw: return COMPRESSION_LZW;
    case Compression::deflate: return COMPRESSION_ADOBE_DEFLATE;
    case Compression::g4:
    case Compression::page_default: break;
    }
    return kind == Kind::bilevel ? COMPRESSION_CCITTFAX4 : COMPRESSION_ADOBE_DEFLATE;
}

} // namespace

size_t row_bytes(Kind kind, int32_t width) {
    if (width < 1) return 0;
    const auto w = size_t(width);
    switch (kind) {
    case Kind::bilevel: return (w + 7) / 8;
    case Kind::gray:
    case Kind::indexed: return w;
    case Kind::rgb: return 3 * w;
    case Kind::rgba: return 4 * w;
    }
    return 0;
}

bool parse_compression(const char *name, Compression &compression) {
    static const struct {
        const char *name;
        Compression value;
    } kNames[] = {{"default", Compression::page_default},
                  {"none", Compression::none},
                  {"lzw", Compression::lzw},
                  {"deflate", Compression::deflate},
                  {"g4", Compression::g4}};
    for (const auto &entry : kNames) {
        if (name != nullptr && std::strcmp(name, entry.name) == 0) {
            compression = entry.value;
            return true;
        }
    }
    return false;
}

Status choose_layout(const Page &page, Compression compression, Layout &layout, const char **why) {
    const auto refuse = [why](const char *reason) {
        *why = reason;
        return Status::argument;
    };
    if (page.width < 1 || page.height < 1) return refuse("a page must be at least 1 x 1 pixels");
    if (uint32_t(page.kind) > uint32_t(Kind::rgba)) return refuse("unknown page kind");
    if (page.dpi_x < 0 || page.dpi_y < 0) return refuse("a negative resolution");
    if (page.kind == Kind::indexed &&
        (page.palette == nullptr || page.palette_entries < 1 || page.palette_entries > 256))
        return refuse("a palette page needs a palette of 1 to 256 colours");
    // The widest rows (RGBA) must fit libtiff's signed sizes with room to spare.
    if (uint64_t(page.width) * 4 > uint64_t(INT32_MAX)) return refuse("the page is too wide");

    Layout l;
    l.compression = stored_compression(page.kind, compression);
    switch (page.kind) {
    case Kind::bilevel:
        l.photometric = PHOTOMETRIC_MINISWHITE; // bit 1 is black, as the rows come
        l.bits = 1;
        break;
    case Kind::gray: l.photometric = PHOTOMETRIC_MINISBLACK; break;
    case Kind::indexed:
        l.photometric = PHOTOMETRIC_PALETTE;
        // Up to 16 colours in 4 bits, which every baseline reader takes.
        l.bits = page.palette_entries <= 16 ? 4 : 8;
        l.colormap_entries = 1u << l.bits;
        break;
    case Kind::rgb:
        l.photometric = PHOTOMETRIC_RGB;
        l.samples = 3;
        break;
    case Kind::rgba:
        l.photometric = PHOTOMETRIC_RGB;
        l.samples = 4;
        l.alpha = true;
        break;
    }
    // Differencing helps continuous tones; palette indices and bits have none.
    const bool tones = page.kind == Kind::gray || page.kind == Kind::rgb || page.kind == Kind::rgba;
    if (tones && (l.compression == COMPRESSION_ADOBE_DEFLATE || l.compression == COMPRESSION_LZW)) l.predictor = 2;
    l.row_bytes = row_bytes(page.kind, page.width);
    l.stored_bytes = (size_t(page.width) * l.bits * l.samples + 7) / 8;
    // A Group 4 page is one strip, as fax readers expect, coded row by row
    // through a small buffer; other pages are cut into strips of bounded size.
    l.one_strip = l.compression == COMPRESSION_CCITTFAX4;
    if (l.one_strip)
        l.rows_per_strip = uint32_t(page.height);
    else
        l.rows_per_strip =
            uint32_t(std::min<size_t>(size_t(page.height), std::max<size_t>(1, kStripBytes / l.stored_bytes)));
    layout = l;
    return Status::ok;
}

} // namespace iff::tiff
