#include "pcx_writer.h"

#include <cstring>

#include "iffpcx.h"
#include "memory_stream.h"
#include "status_names.h"
#include "tool_error.h"

namespace pcxtool {

namespace {

// A plane line's length is stored in 16 bits after rounding up to even.
int64_t max_width(const PcxLayout &layout) {
    return layout.depth() >= 8 ? 65534 : kMaxImageSide;
}

class WriteHandle {
  public:
    WriteHandle(StreamSource &source, IFFImageInfo &info, const std::string &name) : name_(name) {
        const int32_t opened = IFFOpen(&source, IFF_MODE_WRITE | IFF_MODE_STREAMS, &info);
        if (opened <= 0) {
            throw input_error(name_ + ": cannot create the PCX file: " + describe_status(-opened));
        }
        handle_ = opened;
    }
    ~WriteHandle() {
        if (handle_ > 0) {
            IFFClose(handle_);
        }
    }
    WriteHandle(const WriteHandle &) = delete;
    WriteHandle &operator=(const WriteHandle &) = delete;

    int32_t get() const { return handle_; }

    void check(int32_t status, const std::string &step) const {
        if (status != IFF_OK) {
            throw input_error(name_ + ": " + step + " failed: " + describe_status(status));
        }
    }

    void close() {
        const int32_t handle = handle_;
        handle_ = 0; // the library releases the handle on every failure but a palette step's
        check(IFFClose(handle), "completing the PCX file");
    }

  private:
    std::string name_;
    int32_t handle_ = 0;
};

} // namespace

std::vector<uint8_t> write_pcx(const RgbImage &image, const PcxLayout &layout, const WriteOptions &options,
                               const std::string &name) {
    if (image.width < 1 || image.width > max_width(layout) || image.height < 1 || image.height > kMaxImageSide) {
        throw input_error(name + ": " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                          " pixels do not fit this PCX layout (at most " + std::to_string(max_width(layout)) + " x " +
                          std::to_string(kMaxImageSide) + ")");
    }
    MemoryStream stream(options.align_palette ? MemoryStream::PastEnd::Extend : MemoryStream::PastEnd::Clamp);
    // Room for the coded image at its largest, two bytes a byte, so the
    // buffer never grows; pages are touched only as they are written.
    stream.reserve(2 * (static_cast<size_t>(image.width) + 1) * static_cast<size_t>(image.height) *
                       (layout.depth() == 24 ? 3 : 1) + 4096);
    StreamSource source = make_stream_source(stream);
    IFFImageInfo info{};
    info.width = image.width;
    info.height = image.height;
    info.color_class = layout.color_class;
    info.bits = layout.bits;
    info.kind = 0;
    WriteHandle handle(source, info, name);

    handle.check(IFFControl(handle.get(), IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr),
                 "choosing the index sample layout");

    // 1-bit files carry no palette and 24-bit files none at all.
    if (layout.depth() > 1 && layout.depth() <= 8) {
        const size_t bytes = 3 * (size_t{1} << layout.depth());
        uint16_t expected = 0;
        handle.check(IFFControl(handle.get(), IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &expected),
                     "asking the palette size");
        if (expected != bytes) {
            throw input_error(name + ": the library asks " + std::to_string(expected) + " palette bytes for a " +
                              std::to_string(layout.depth()) + "-bit image, not " + std::to_string(bytes));
        }
        std::vector<uint8_t> palette(bytes, 0); // unused entries black
        for (size_t k = 0; k < layout.palette.size() && 3 * k < bytes; ++k) {
            palette[3 * k] = layout.palette[k].r;
            palette[3 * k + 1] = layout.palette[k].g;
            palette[3 * k + 2] = layout.palette[k].b;
        }
        handle.check(IFFControl(handle.get(), IFF_REQ_PALETTE, 0, 0, palette.data()), "handing over the palette");
    }

    int32_t dpi[2] = {options.dpi_x > 0 ? options.dpi_x : image.dpi_x, options.dpi_y > 0 ? options.dpi_y : image.dpi_y};
    if (dpi[0] > 0 && dpi[1] > 0) {
        handle.check(IFFControl(handle.get(), IFF_REQ_RESOLUTION, 3, 0, dpi), "setting the resolution");
    }

    const size_t width = static_cast<size_t>(image.width);
    const bool rgb = layout.color_class == 3;
    const IndexMap indices(layout);
    std::vector<uint8_t> line(rgb ? 0 : width);
    const bool known_indices = !rgb && layout.indices.size() == width * static_cast<size_t>(image.height);
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t *source_row = &image.rgb[3 * width * static_cast<size_t>(y)];
        const uint8_t *row = source_row;
        if (known_indices) {
            row = &layout.indices[width * static_cast<size_t>(y)];
        } else if (!rgb) {
            indices.map_row(source_row, width, line.data());
            row = line.data();
        }
        const int32_t status = IFFPutLine(handle.get(), 1, row);
        if (status != IFF_OK) {
            handle.check(status, "writing line " + std::to_string(y));
        }
    }
    handle.close();
    return stream.release();
}

} // namespace pcxtool
