// Rows of an image coded through a library write handle of their own into
// memory, so that a second thread can code some of a file's rows while the
// file's own handle codes the others and writes them all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/byte_view.h"
#include "base/memory_stream.h"
#include "write/encode_layout.h"

namespace image {

// The library codes every scan line on its own, so the lines coded here are
// the very bytes the file's handle would write for these rows. They follow
// the part's own header, which is never written out; the handle is
// abandoned at the end, so neither is a palette.
class CodedPart {
  public:
    // Room for up to `rows` consecutive rows at a time of an image `width`
    // pixels wide in `layout`; `name` is the output's, for messages. Throws
    // std::bad_alloc or an input error when the library cannot open the
    // handle.
    CodedPart(int32_t width, size_t rows, const PcxLayout &layout, const std::string &name);
    ~CodedPart();
    CodedPart(const CodedPart &) = delete;
    CodedPart &operator=(const CodedPart &) = delete;

    // Drops the lines coded so far; the next row put is the first.
    void restart();
    // Row y of the image, which follows the last one put: palette indices,
    // or red, green, blue for RGB. A failure is the input error the file's
    // handle would give for that line.
    void put(const uint8_t *row, size_t y);

    // The lines put since the restart, and each line's bytes and row.
    size_t lines() const { return count_; }
    ByteView line(size_t k) const;
    size_t row(size_t k) const { return first_row_ + k; }

  private:
    void end();

    MemoryStream stream_;
    std::string name_;
    size_t capacity_;
    size_t header_bytes_ = 0;
    size_t first_row_ = 0;
    size_t count_ = 0;               // lines since the restart
    std::unique_ptr<size_t[]> ends_; // each line's end in the stream, lines back to back from the header's
    int32_t handle_ = 0;
};

} // namespace image
