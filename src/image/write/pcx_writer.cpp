#include "pcx_writer.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "base/image_error.h"
#include "base/status_names.h"
#include "base/two_threads.h"
#include "iffpcx.h"
#include "write/rows_on_two_threads.h"

namespace image {

namespace {

// A plane line's length is stored in 16 bits after rounding up to even.
int64_t max_width(int depth) {
    return depth >= 8 ? 65534 : kMaxImageSide;
}

// Pixels are numbered a block of whole rows at a time, about 64K pixels.
size_t rows_per_block(size_t width) {
    return std::max<size_t>(1, (size_t{1} << 16) / width);
}

// Rows read where they are go to two threads in blocks of about 32K pixels:
// smaller blocks coded ahead wait in less memory.
size_t read_rows_per_block(size_t width) {
    return std::max<size_t>(1, (size_t{1} << 15) / width);
}

// One PCX file being written through the library; `name` is the output's.
class PcxFile : public LineOutput {
  public:
    PcxFile(const RgbPixels &image, const PcxLayout &layout, const WriteOptions &options, PcxOutput &output,
            const std::string &name)
        : output_(output), name_(name) {
        const int64_t widest = max_width(layout.depth());
        if (image.width < 1 || image.width > widest || image.height < 1 || image.height > kMaxImageSide) {
            throw ImageError(IFFPCX_ERR_LIMIT,
                             name + ": " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                                 " pixels do not fit this PCX layout (at most " + std::to_string(widest) + " x " +
                                 std::to_string(kMaxImageSide) + ")");
        }
        // Room for the coded image at its largest, two bytes a byte.
        output.expect(2 * (static_cast<size_t>(image.width) + 1) * static_cast<size_t>(image.height) *
                          (layout.depth() == 24 ? 3 : 1) +
                      4096);
        IFFImageInfo info{};
        info.width = image.width;
        info.height = image.height;
        info.color_class = layout.color_class;
        info.bits = layout.bits;
        info.kind = 0;
        const int32_t opened = IFFOpen(output.source(), IFF_MODE_WRITE | IFF_MODE_STREAMS, &info);
        if (opened <= 0) {
            output.check_writes();
            throw ImageError(status_of_library(-opened),
                             name_ + ": cannot create the PCX file: " + describe_status(-opened), -1, -1, -opened);
        }
        handle_ = opened;
        check(IFFControl(handle_, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr),
              "choosing the index sample layout");
        int32_t dpi[2] = {image.dpi_x, image.dpi_y};
        if (dpi[0] > 0 && dpi[1] > 0) {
            check(IFFControl(handle_, IFF_REQ_RESOLUTION, 3, 0, dpi), "setting the resolution");
        }
        // The 256-colour block goes right after the image data unless the
        // library's own aligned placement is asked for.
        if (!options.align_palette && layout.depth() == 8) {
            check(IFFControl(handle_, IFF_REQ_PALETTE_PLACEMENT, IFF_PALETTE_AFTER_DATA, 0, nullptr),
                  "placing the palette block");
        }
    }
    ~PcxFile() {
        if (handle_ > 0) {
            abandon(); // a failure: the output is dropped
        }
    }
    PcxFile(const PcxFile &) = delete;
    PcxFile &operator=(const PcxFile &) = delete;

    // Row y: palette indices, or red, green, blue for RGB.
    void put(const uint8_t *row, size_t y) override {
        const int32_t status = IFFPutLine(handle_, 1, row);
        if (status != IFF_OK) {
            output_.check_writes();
            check(status, "writing line " + std::to_string(y), static_cast<int32_t>(y));
        }
    }

    // Writes lines coded apart where the library would have written them,
    // one write a line as the library's own, so that a failure comes at the
    // same line and is reported as put() reports it.
    void append(const CodedPart &part) override {
        for (size_t k = 0; k < part.lines(); ++k) {
            const ByteView line = part.line(k);
            const auto size = static_cast<int32_t>(line.size());
            if (output_.append(line.data(), size) != size) {
                output_.check_writes();
                check(IFF_ERR_WRITE, "writing line " + std::to_string(part.row(k)), static_cast<int32_t>(part.row(k)));
            }
        }
    }

    // Hands over the palette of a layout that has one, and completes the file.
    void finish(const PcxLayout &layout, const std::vector<Rgb> &palette) {
        // 1-bit files carry no palette and 24-bit files none at all.
        if (layout.depth() > 1 && layout.depth() <= 8) {
            const size_t bytes = 3 * (size_t{1} << layout.depth());
            uint16_t expected = 0;
            check(IFFControl(handle_, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &expected),
                  "asking the palette size");
            if (expected != bytes) {
                throw ImageError(IFFPCX_ERR_LIBRARY, name_ + ": the library asks " + std::to_string(expected) +
                                                         " palette bytes for a " + std::to_string(layout.depth()) +
                                                         "-bit image, not " + std::to_string(bytes));
            }
            std::vector<uint8_t> entries(bytes, 0); // unused entries black
            for (size_t k = 0; k < palette.size() && 3 * k < bytes; ++k) {
                entries[3 * k] = palette[k].r;
                entries[3 * k + 1] = palette[k].g;
                entries[3 * k + 2] = palette[k].b;
            }
            check(IFFControl(handle_, IFF_REQ_PALETTE, 0, 0, entries.data()), "handing over the palette");
        }
        const int32_t handle = handle_;
        handle_ = 0; // the library releases the handle on every failure but a palette step's
        const int32_t status = IFFClose(handle);
        output_.check_writes();
        check(status, "completing the PCX file");
        output_.finish();
    }

    // Ends the handle without completing the file; the next open empties it.
    void abandon() {
        IFFControl(handle_, IFF_REQ_ABANDON, 0, 0, nullptr);
        IFFClose(handle_);
        handle_ = 0;
    }

  private:
    void check(int32_t status, const std::string &step, int32_t line = -1) const {
        if (status != IFF_OK) {
            throw ImageError(status_of_library(status), name_ + ": " + step + " failed: " + describe_status(status), -1,
                             line, status);
        }
    }

    PcxOutput &output_;
    std::string name_;
    int32_t handle_ = 0;
};

// Images from this many bytes of pixels on are coded on two threads;
// smaller ones take less time than a second thread and its handles cost.
constexpr uint64_t kTwoThreadsFromBytes = uint64_t{3} << 20;

// Whether `rows` rows of `width` pixels go to two threads. Standard output
// keeps one: it holds the whole file in memory anyway.
bool worth_two_threads(const PcxOutput &output, const WriteOptions &options, size_t width, size_t rows) {
    return !options.one_thread && output.is_file() && uint64_t{3} * width * rows >= kTwoThreadsFromBytes && two_cores();
}

// Rows read where they are: RGB as it stands, indices held for the whole
// image, or indices looked up again (gray levels, black and white).
class ReadRows : public BlockRows {
  public:
    ReadRows(const RgbPixels &image, const PcxLayout &layout, const uint8_t *numbers)
        : image_(image), width_(static_cast<size_t>(image.width)), numbers_(numbers) {
        if (layout.color_class != 3 && numbers == nullptr) {
            indices_ = std::make_unique<IndexMap>(layout);
        }
    }
    bool made_in_order() const override { return false; }
    bool make(size_t, size_t, uint8_t *) override { return false; }
    const uint8_t *row(size_t y, const uint8_t *, uint8_t *line) const override {
        if (numbers_ != nullptr) {
            return numbers_ + width_ * y;
        }
        const uint8_t *rgb = image_.rgb + 3 * width_ * y;
        if (!indices_) {
            return rgb;
        }
        indices_->map_row(rgb, width_, line);
        return line;
    }

  private:
    const RgbPixels &image_;
    size_t width_;
    const uint8_t *numbers_;
    std::unique_ptr<IndexMap> indices_; // for looked-up indices only
};

// Writes every row in a layout whose indices were not kept, or every row of
// `numbers` when it holds them all; a large file's on two threads.
void write_rows(PcxFile &pcx, const RgbPixels &image, const PcxLayout &layout, const uint8_t *numbers,
                PcxOutput &output, const WriteOptions &options) {
    const size_t width = static_cast<size_t>(image.width);
    const size_t height = static_cast<size_t>(image.height);
    ReadRows rows(image, layout, numbers);
    if (worth_two_threads(output, options, width, height) &&
        put_rows_on_two_threads(pcx, rows, nullptr, width, 0, height, read_rows_per_block(width), layout,
                                output.name()) != TwoThreads::NotStarted) {
        return;
    }
    std::vector<uint8_t> line(width);
    for (size_t y = 0; y < height; ++y) {
        pcx.put(rows.row(y, nullptr, line.data()), y);
    }
}

// Rows numbered by their colours, a block at a time and in order: each
// block's numbers depend on the colours of every row before it.
class NumberedRows : public BlockRows {
  public:
    NumberedRows(const RgbPixels &image, ColourSummary &summary)
        : image_(image), width_(static_cast<size_t>(image.width)), summary_(summary) {}
    bool made_in_order() const override { return true; }
    bool make(size_t y, size_t rows, uint8_t *block) override {
        return summary_.add(image_.rgb + 3 * width_ * y, rows * width_, block);
    }
    const uint8_t *row(size_t, const uint8_t *made, uint8_t *) const override { return made; }

  private:
    const RgbPixels &image_;
    size_t width_;
    ColourSummary &summary_;
};

// Writes the 8-bit palette layout: the first `numbered` rows from
// `numbers`, the rest numbered as they go out (a large file's on a second
// thread), so that the image's indices are never held whole. False, with the
// file abandoned, when the rest brings a 257th colour.
bool write_8bit_palette(const RgbPixels &image, ColourSummary &summary, const uint8_t *numbers, size_t numbered,
                        const WriteOptions &options, PcxOutput &output) {
    PcxLayout layout;
    layout.color_class = 2;
    layout.bits = 8;
    PcxFile pcx(image, layout, options, output, output.name());
    const size_t width = static_cast<size_t>(image.width);
    const size_t height = static_cast<size_t>(image.height);
    const size_t block_rows = rows_per_block(width);
    NumberedRows rows(image, summary);
    TwoThreads outcome = TwoThreads::NotStarted;
    if (worth_two_threads(output, options, width, height - numbered)) {
        outcome =
            put_rows_on_two_threads(pcx, rows, numbers, width, numbered, height, block_rows, layout, output.name());
    }
    if (outcome == TwoThreads::NotStarted) {
        for (size_t y = 0; y < numbered; ++y) {
            pcx.put(numbers + width * y, y);
        }
        // The same blocks on this thread, so that a 257th colour stops the
        // rows at the same place.
        std::vector<uint8_t> block(block_rows * width);
        outcome = TwoThreads::AllRows;
        for (size_t y = numbered; y < height; y += block_rows) {
            const size_t count = std::min(block_rows, height - y);
            if (!rows.make(y, count, block.data())) {
                outcome = TwoThreads::Stopped;
                break;
            }
            for (size_t k = 0; k < count; ++k) {
                pcx.put(block.data() + width * k, y + k);
            }
        }
    }
    if (outcome == TwoThreads::Stopped) {
        pcx.abandon();
        return false;
    }
    pcx.finish(layout, summary.colours());
    return true;
}

} // namespace

PcxLayout write_pcx(const RgbPixels &image, std::optional<int> requested_bits, const WriteOptions &options,
                    PcxOutput &output, const std::string &name) {
    if (requested_bits == 24) { // no colours to learn
        const PcxLayout rgb;
        PcxFile pcx(image, rgb, options, output, output.name());
        write_rows(pcx, image, rgb, nullptr, output, options);
        pcx.finish(rgb, rgb.palette);
        return rgb;
    }
    // The colours settle the layout, and a palette layout's indices are the
    // colours' numbers. The numbers are kept while the layout is open; their
    // room is touched only as far as they go.
    const size_t width = static_cast<size_t>(std::max(image.width, 1));
    const size_t height = static_cast<size_t>(std::max(image.height, 0));
    const std::unique_ptr<uint8_t[]> numbers(new uint8_t[width * height]);
    const size_t block_rows = rows_per_block(width);
    const bool fits_8_bits = image.width <= max_width(8);
    ColourSummary summary;
    size_t numbered = 0; // whole rows
    while (numbered < height) {
        const size_t rows = std::min(block_rows, height - numbered);
        if (!summary.add(image.rgb + 3 * width * numbered, rows * width, numbers.get() + width * numbered)) {
            break;
        }
        numbered += rows;
        if (numbered < height && fits_8_bits && settles_on_8bit_palette(summary, requested_bits)) {
            if (write_8bit_palette(image, summary, numbers.get(), numbered, options, output)) {
                return choose_layout(summary, requested_bits, name);
            }
            break; // more than 256 colours after all
        }
    }
    const PcxLayout layout = choose_layout(summary, requested_bits, name);
    PcxFile pcx(image, layout, options, output, output.name());
    const bool numbers_held = layout.color_class == 2 && numbered == height;
    write_rows(pcx, image, layout, numbers_held ? numbers.get() : nullptr, output, options);
    pcx.finish(layout, layout.palette);
    return layout;
}

} // namespace image
