// Failures as the writer and reader report them: one message naming the
// file, the page, the row and the reason, with libtiff's own words when it
// gave any.
#pragma once

#include <cstdarg>
#include <cstdint>

#include <tiffio.h>

#include "image/tiff/tiff_types.h"

namespace iff::tiff {

// libtiff's first error (and, failing that, its last warning) on one TIFF, kept
// instead of printed.
struct LibraryMessage {
    char text[512] = {};
    bool is_error = false;

    void clear() {
        text[0] = '\0';
        is_error = false;
    }
};

// Options that route libtiff's errors and warnings into message; nullptr
// when they cannot be had. Free with TIFFOpenOptionsFree.
TIFFOpenOptions *capturing_options(LibraryMessage &message);

// Where a failure happened: the input or output's name and the page.
struct Place {
    const char *name;
    int32_t page;
    int32_t line;
};

// Fills error (when not null) with "name: page 2: line 10: what[: libtiff's
// message]" and returns status.
Status report(Error *error, Status status, const Place &place, const LibraryMessage *library, const char *what, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 5, 6)))
#endif
    ;

} // namespace iff::tiff
