#include "plane_values.h"

#include <algorithm>
#include <cstring>

#include "base/image_error.h"
#include "base/status_names.h"

namespace image {

namespace {

void put_u16(uint8_t *at, size_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

std::string layout_name(const HeaderFields &header) {
    return std::to_string(header.bits_per_plane) + " bits in " + std::to_string(header.planes) + " planes";
}

} // namespace

bool PlaneValues::needed(const HeaderFields &header) {
    return (header.bits_per_plane == 2 || header.bits_per_plane == 4) && header.planes > 1;
}

PlaneValues::PlaneValues(ByteView page, const HeaderFields &header, int32_t width, const std::string &where)
    : stream_(page, ByteView(header_.data(), header_.size())), width_(static_cast<size_t>(width)),
      bits_(header.bits_per_plane), planes_(header.planes), plane_bytes_(static_cast<size_t>(header.bytes_per_line)) {
    scan_bytes_ = static_cast<size_t>(planes_) * plane_bytes_;
    // check_page refuses such pages first.
    if (plane_bytes_ * 8 < width_ * static_cast<size_t>(bits_) || page.size() < pcx_format::kHeaderSize) {
        throw ImageError(IFFPCX_ERR_MALFORMED,
                         where + "the page is too short for its header or its planes for the width");
    }
    if (scan_bytes_ > 0xFFFF) {
        throw ImageError(IFFPCX_ERR_UNSUPPORTED, where + kNotConverted + layout_name(header) + " whose lines take " +
                                                     std::to_string(scan_bytes_) + " bytes, more than 65535");
    }
    // The same page as one 8-bit plane: window 0 to scan_bytes - 1 across,
    // one plane of scan_bytes bytes; the rest of the header stays.
    std::memcpy(header_.data(), page.data(), header_.size());
    using namespace pcx_format;
    header_[kBitsPerPixelAt] = 8;
    put_u16(&header_[kXMinAt], 0);
    put_u16(&header_[kXMaxAt], scan_bytes_ - 1);
    header_[kPlanesAt] = 1;
    put_u16(&header_[kBytesPerLineAt], scan_bytes_);

    const int32_t opened = IFFOpen(stream_.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info_);
    if (opened <= 0) {
        throw ImageError(IFFPCX_ERR_LIBRARY, where + "opening the planes of " + layout_name(header) +
                                                 " failed: " + describe_status(-opened));
    }
    handle_ = opened;
    uint16_t line_size = 0;
    uint32_t stride = 0;
    int32_t status = IFFControl(handle_, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr);
    if (status == IFF_OK) {
        status = IFFControl(handle_, IFF_REQ_LINE_SIZE, 0, 0, &line_size);
    }
    if (status == IFF_OK) {
        status = IFFControl(handle_, IFF_REQ_LINE_STRIDE, 0, 0, &stride);
    }
    scan_stride_ = stride;
    if (status != IFF_OK || line_size != scan_bytes_ || scan_stride_ < scan_bytes_) {
        IFFClose(handle_); // the destructor does not run for a constructor that throws
        handle_ = 0;
        throw ImageError(IFFPCX_ERR_LIBRARY,
                         where + "reading the planes of " + layout_name(header) + " failed: " +
                             (status != IFF_OK ? describe_status(status) : "the library delivers other lines"));
    }
}

PlaneValues::~PlaneValues() {
    if (handle_ > 0) {
        IFFClose(handle_);
    }
}

void PlaneValues::combine(const uint8_t *scan, uint8_t *values) const {
    const auto bits = static_cast<size_t>(bits_);
    const unsigned mask = (1u << bits) - 1;
    std::fill(values, values + width_, uint8_t{0});
    for (int plane = 0; plane < planes_; ++plane) {
        const uint8_t *samples = scan + static_cast<size_t>(plane) * plane_bytes_;
        const auto shift = static_cast<unsigned>(plane) * static_cast<unsigned>(bits);
        for (size_t x = 0; x < width_; ++x) {
            // The first pixel of a byte lies in its most significant bits.
            const size_t bit = x * bits;
            const unsigned sample = samples[bit / 8] >> (8 - bits - bit % 8) & mask;
            values[x] = static_cast<uint8_t>(values[x] | sample << shift);
        }
    }
}

} // namespace image
