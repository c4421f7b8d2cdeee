#include "write/coded_part.h"

#include "base/image_error.h"
#include "base/status_names.h"
#include "iffpcx.h"

namespace image {

CodedPart::CodedPart(int32_t width, size_t rows, const PcxLayout &layout, const std::string &name)
    : name_(name), capacity_(rows), ends_(new size_t[rows]) {
    // Room for the lines at their largest, two bytes a byte: the buffer never
    // moves, and its pages are touched only as lines are coded into them.
    stream_.data.reserve(2 * (static_cast<size_t>(width) + 1) * rows * (layout.depth() == 24 ? 3 : 1) + 4096);
    IFFImageInfo info{};
    info.width = width;
    info.height = static_cast<int32_t>(rows);
    info.color_class = layout.color_class;
    info.bits = layout.bits;
    info.kind = 0;
    const int32_t opened = IFFOpen(stream_.source(), IFF_MODE_WRITE | IFF_MODE_STREAMS, &info);
    if (opened <= 0) {
        throw ImageError(status_of_library(-opened), name_ + ": cannot code rows apart: " + describe_status(-opened));
    }
    handle_ = opened;
    const int32_t status = IFFControl(handle_, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr);
    if (status != IFF_OK) {
        end();
        throw ImageError(status_of_library(status), name_ + ": cannot code rows apart: " + describe_status(status));
    }
    header_bytes_ = stream_.data.size();
}

CodedPart::~CodedPart() {
    end();
}

void CodedPart::end() {
    if (handle_ > 0) {
        IFFControl(handle_, IFF_REQ_ABANDON, 0, 0, nullptr);
        IFFClose(handle_);
        handle_ = 0;
    }
}

void CodedPart::restart() {
    // The handle writes wherever the stream stands; later lines overwrite
    // the earlier ones.
    stream_.seek(static_cast<int32_t>(header_bytes_), 0);
    count_ = 0;
}

void CodedPart::put(const uint8_t *row, size_t y) {
    if (count_ == capacity_) {
        throw ImageError(IFFPCX_ERR_LIBRARY,
                         name_ + ": writing line " + std::to_string(y) + " failed: more rows than the part holds", -1,
                         static_cast<int32_t>(y));
    }
    const int32_t status = IFFPutLine(handle_, 1, row);
    if (status != IFF_OK) {
        throw ImageError(status_of_library(status),
                         name_ + ": writing line " + std::to_string(y) + " failed: " + describe_status(status), -1,
                         static_cast<int32_t>(y), status);
    }
    if (count_ == 0) {
        first_row_ = y;
    }
    ends_[count_++] = static_cast<size_t>(stream_.seek(0, 1));
}

ByteView CodedPart::line(size_t k) const {
    const size_t start = k == 0 ? header_bytes_ : ends_[k - 1];
    return ByteView(stream_.data.data() + start, ends_[k] - start);
}

} // namespace image
