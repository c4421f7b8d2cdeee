// What the TIFF writer and reader share with their callers: page kinds, row
// forms, statuses and the error record. Numbers follow the whole-image layer's
// C interface (iffpcx_status, iffpcx_kind, iffpcx_error), so the layer can
// hand them on unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

namespace iff::tiff {

enum class Status : int32_t {
    ok = 0,
    argument = 1,    // a null pointer, a page or row out of order, a page description that makes no sense
    not_tiff = 2,    // the input is not a TIFF file
    malformed = 3,   // a directory or strip that cannot be used
    truncated = 4,   // image data end before the page's last row
    unsupported = 5, // a TIFF layout the reader does not convert
    limit = 6,       // a page too large to be described or buffered
    memory = 7,      // an allocation failed
    read = 8,        // the input could not be opened or read
    write = 9,       // the output could not be created or written
    colours = 10,    // a palette index beyond the page's palette
    callback = 11    // a callback of the caller's asked to stop
};

// "TIFF_ERR_WRITE" and the like, for messages and tests.
const char *status_name(Status status);

// What a page holds, and the form its rows take:
//   bilevel  packed 1-bit rows, first pixel in the top bit, 1 for black,
//            the last byte's unused bits 0
//   gray     a byte a pixel
//   indexed  a byte a pixel: the palette index
//   rgb      three bytes a pixel; rgba four (alpha not premultiplied)
enum class Kind : uint32_t { bilevel = 0, gray = 1, indexed = 2, rgb = 3, rgba = 4 };

// Bytes of one row of a page of this kind and width in its form (0 for a
// width below 1 or an unknown kind).
size_t row_bytes(Kind kind, int32_t width);

// A failure's details, filled on failure and left alone on success.
struct Error {
    int32_t status = 0; // a Status
    int32_t page = -1;  // the page (from 0), or -1
    int32_t line = -1;  // the row (from 0), or -1
    char message[1024] = {};
};

// A caller's output: take size bytes; 0, or nonzero on failure.
using WriteFn = int (*)(void *context, const void *data, size_t size);

// Receives count rows from row y on, stride bytes apart; nonzero stops.
using RowsFn = int (*)(void *context, int32_t y, const uint8_t *rows, size_t count, size_t stride);

} // namespace iff::tiff
