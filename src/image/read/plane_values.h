// Pages of 2-bit or 4-bit samples in several planes. The library delivers
// plane 0 of such lines only, so their bytes are read through a handle of
// their own that takes the page for lines of plain bytes: its header is
// replaced by one saying a single 8-bit plane of planes x bytes_per_line
// bytes, which codes the very same data. Each pixel's value is put together
// here from its planes, plane 0 in the least significant bits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/byte_view.h"
#include "base/memory_stream.h"
#include "iffpcx.h"
#include "read/dcx_layout.h"

namespace image {

class PlaneValues {
  public:
    // Whether a page of this layout needs this: 2 or 4 bits in 2 or more planes.
    static bool needed(const HeaderFields &header);

    // `page`: the page's bytes, header first, which must outlive this. A
    // scan line longer than a header can state, or a handle the library
    // does not open, is a failure whose message `where` begins.
    PlaneValues(ByteView page, const HeaderFields &header, int32_t width, const std::string &where);
    ~PlaneValues();
    PlaneValues(const PlaneValues &) = delete;
    PlaneValues &operator=(const PlaneValues &) = delete;

    // The handle that reads the scan lines, and their bytes and stride.
    int32_t handle() const { return handle_; }
    size_t scan_bytes() const { return scan_bytes_; }
    size_t scan_stride() const { return scan_stride_; }

    // The values of the width's pixels of one scan line, a byte each.
    void combine(const uint8_t *scan, uint8_t *values) const;

  private:
    std::array<uint8_t, pcx_format::kHeaderSize> header_{};
    MemoryStream stream_;
    IFFImageInfo info_{};
    int32_t handle_ = 0;
    size_t width_;
    int bits_;
    int planes_;
    size_t plane_bytes_;
    size_t scan_bytes_ = 0;
    size_t scan_stride_ = 0;
};

} // namespace image
