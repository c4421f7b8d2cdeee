// Coding a PCX file's rows on two threads: the file's own thread puts most
// rows through the file's handle and writes the file; a second thread makes
// the rows where they must be made in order (the numbering of a palette's
// colours) and codes rows of its own into memory whenever the first thread
// has enough to do. The file gets the same bytes as from one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "write/coded_part.h"
#include "write/encode_layout.h"

namespace image {

// The file's own handle, which takes the rows in order.
class LineOutput {
  public:
    virtual ~LineOutput() = default;
    // Row y through the handle.
    virtual void put(const uint8_t *row, size_t y) = 0;
    // Rows coded apart, as if they had been put here.
    virtual void append(const CodedPart &part) = 0;
};

// Where a file's rows come from, a block of rows at a time.
class BlockRows {
  public:
    virtual ~BlockRows() = default;
    // Whether blocks are made one after another (on the second thread)
    // rather than read where they are.
    virtual bool made_in_order() const = 0;
    // Makes rows [y, y + rows) into `block`, row after row; false stops the
    // rows there (a 257th colour). Called only when made_in_order().
    virtual bool make(size_t y, size_t rows, uint8_t *block) = 0;
    // Row y in the layout's samples: `made` when blocks are made in order,
    // else from the image, with `line` as room for a row that needs work.
    virtual const uint8_t *row(size_t y, const uint8_t *made, uint8_t *line) const = 0;
};

enum class TwoThreads {
    NotStarted, // nothing put: no second thread or memory to be had
    AllRows,    // every row put
    Stopped,    // make() stopped: the rows of the blocks before were put
};

// Puts the rows of an image `width` pixels wide in `layout`: rows [0, from)
// from `first_rows`, where they were made already, then rows [from, height)
// in blocks of `block_rows` rows. A failure is reported after every earlier
// row went out, as from one thread; `target` names the output.
TwoThreads put_rows_on_two_threads(LineOutput &file, BlockRows &rows, const uint8_t *first_rows, size_t width,
                                   size_t from, size_t height, size_t block_rows, const PcxLayout &layout,
                                   const std::string &target);

} // namespace image
