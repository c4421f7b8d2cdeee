// One PCX page's bytes read through the line library's six entry points, as
// every host reads it: what repair takes colours from and compares against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "iffpcx.h"
#include "scan.h"

namespace iffpcx_check {

struct ByteSource; // the stream record IFFOpen receives

class LibraryPage {
  public:
    // Opens bytes (which must outlive the object) as a plain PCX file.
    explicit LibraryPage(Bytes page);
    ~LibraryPage();
    LibraryPage(const LibraryPage &) = delete;
    LibraryPage &operator=(const LibraryPage &) = delete;

    int32_t status() const { return status_; } // of the open: IFF_OK or the library's reason
    const IFFImageInfo &info() const { return info_; }
    // The palette as the library hands it out in the current sample layout,
    // or empty with the export's status in palette_status.
    std::vector<uint8_t> palette(uint32_t pixel_format, int32_t &palette_status);
    // The resolution and every line in a layout that loses nothing; false
    // with the reason when either differs from other's.
    bool same_image(LibraryPage &other, std::string &reason);

  private:
    ByteSource *source_;
    IFFImageInfo info_{};
    int32_t handle_ = 0;
    int32_t status_ = IFF_OK;
};

} // namespace iffpcx_check
