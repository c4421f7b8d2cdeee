// Writes pages one after another into one multi-page TIFF file, each page's
// rows as they arrive: a strip is coded and written as soon as its rows are
// in, so memory depends on the page's width, not its height.
//
//   std::unique_ptr<Writer> w;
//   Writer::to_path("out.tif", Compression::page_default, w, &error);
//   w->begin_page(page, &error);
//   w->write_rows(rows, count, stride, &error); ...   // until page.height rows
//   ... more pages ...
//   w->finish(&error);
//
// Nothing throws. The first failure sticks: every later call returns it
// again, and the output is abandoned (a path's file never appears).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "image/tiff/owned_buffer.h"
#include "image/tiff/tiff_layout.h"
#include "image/tiff/tiff_output.h"
#include "image/tiff/tiff_types.h"

namespace iff::tiff {

class Writer {
  public:
    // A file by name, complete under that name only after finish.
    static Status to_path(const char *path, Compression compression, std::unique_ptr<Writer> &writer, Error *error);
    // Memory, read with bytes() after finish.
    static Status to_memory(Compression compression, std::unique_ptr<Writer> &writer, Error *error);
    // The caller's callback, which receives the whole file in order during finish.
    static Status to_writer(WriteFn write, void *context, const char *name, Compression compression,
                            std::unique_ptr<Writer> &writer, Error *error);

    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;
    ~Writer() = default; // an unfinished output is abandoned

    // Starts the next page; the previous one must have all its rows.
    Status begin_page(const Page &page, Error *error);

    // count rows of the page in hand, stride bytes apart, in its kind's form.
    // The page is complete when its last row arrives.
    Status write_rows(const uint8_t *rows, size_t count, size_t stride, Error *error);

    // Completes the file (at least one page, every page whole) and delivers it.
    Status finish(Error *error);

    // A memory output's bytes after finish (nullptr otherwise).
    const uint8_t *bytes(size_t &size) const;
    // Bytes written to the output (or its temporary file) so far.
    uint64_t bytes_so_far() const { return output_.bytes_so_far(); }
    // Pages complete so far.
    uint32_t pages() const { return pages_done_; }

  private:
    explicit Writer(Compression compression) : compression_(compression) {}
    template <typename Open>
    static Status open_output(Compression compression, const char *name, std::unique_ptr<Writer> &writer, Error *error,
                              Open &&open);

    Status fail(Error *error, Status status, int32_t line, const char *what, const LibraryMessage *library = nullptr);
    Status repeat_failure(Error *error) const;
    Status set_page_fields(const Page &page, Error *error);
    Status store_row(const uint8_t *row, int32_t y, Error *error);
    Status flush_strip(int32_t end_row, Error *error);

    Compression compression_;
    Output output_;
    Layout layout_;
    uint32_t palette_entries_ = 0;
    int32_t page_ = -1; // the page in hand, from 0
    int32_t width_ = 0;
    int32_t height_ = 0; // its rows
    int32_t rows_done_ = 0;
    uint32_t pages_done_ = 0;
    bool page_open_ = false;
    bool finished_ = false;
    bool failed_ = false;
    Error failure_;
    OwnedBuffer strip_; // the strip being filled, or the row being coded
};

} // namespace iff::tiff
