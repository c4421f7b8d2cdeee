// Reads the pages of a TIFF file back into the forms the writer takes, with
// their resolution: what the migration decodes again to check each file it
// wrote. It reads the strip layouts the writer produces and their near kin
// (1-bit and 8-bit gray of either polarity, palettes of 1, 2, 4 or 8 bits,
// 8-bit RGB and RGB with unassociated alpha, any compression libtiff
// decodes); anything else is Status::unsupported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <tiffio.h>

#include "image/tiff/owned_buffer.h"
#include "image/tiff/tiff_error.h"
#include "image/tiff/tiff_streams.h"
#include "image/tiff/tiff_types.h"

namespace iff::tiff {

struct PageInfo {
    uint32_t index = 0;
    int32_t width = 0;
    int32_t height = 0;
    Kind kind = Kind::bilevel;
    uint32_t palette_entries = 0; // indexed pages: the colour map's 2^bits entries
    uint8_t palette[256 * 3] = {};
    int32_t dpi_x = 0; // rounded to whole dots per inch; 0 where the page gives none
    int32_t dpi_y = 0;
    uint16_t compression = 0; // as stored: COMPRESSION_..., PHOTOMETRIC_..., bits per sample
    uint16_t photometric = 0;
    uint16_t bits = 0;
};

class Reader {
  public:
    static Status open_path(const char *path, std::unique_ptr<Reader> &reader, Error *error);
    // The bytes are read in place: they must stay as they are while the reader lives.
    static Status open_memory(const void *data, size_t size, const char *name, std::unique_ptr<Reader> &reader,
                              Error *error);

    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;
    ~Reader();

    uint32_t page_count() const { return pages_; }

    Status page_info(uint32_t page, PageInfo &info, Error *error);

    // Delivers the page's rows in its kind's form, in blocks of whole rows.
    Status read_rows(uint32_t page, RowsFn rows, void *context, Error *error);

  private:
    Reader() = default;
    Status start(TIFF *tif, Error *error);
    Status fail(Error *error, Status status, int32_t page, int32_t line, const char *what);

    std::string name_;
    MemoryStream memory_;
    LibraryMessage message_;
    TIFF *tiff_ = nullptr;
    uint32_t pages_ = 0;
    uint32_t loaded_page_ = 0; // the directory libtiff holds; UINT32_MAX after a failure
    OwnedBuffer scanline_;     // one row as stored
    OwnedBuffer block_;        // rows in the caller's form
};

} // namespace iff::tiff
