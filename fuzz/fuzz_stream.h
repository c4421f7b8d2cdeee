// The stream of the fuzz targets: the image layer's memory stream. Reads
// return at most `max_read` bytes, so the library's refills land anywhere in
// a file; the read, write or seek call of a chosen number fails (once, or
// that one and every later one).
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/base/memory_stream.h"

namespace fuzz {

using FuzzStream = image::MemoryStream;

// Options taken from the input's last bytes, so a mutation of the file part
// keeps them and a mutation of the tail explores them.
struct Tail {
    const uint8_t *bytes;
    size_t size;
    uint8_t operator[](size_t i) const { return i < size ? bytes[i] : 0; }
    uint16_t u16(size_t i) const { return uint16_t((*this)[i] | ((*this)[i + 1] << 8)); }
};

} // namespace fuzz
