// What an iffpcx_file is: the bytes (the caller's, or read at open and owned
// here) and the reader over them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "iffpcx_image.h"
#include "read/pcx_reader.h"

struct iffpcx_file {
    std::vector<uint8_t> owned; // a path's or a reader's bytes; empty for memory
    std::unique_ptr<image::PcxFile> reader;
};

namespace image {

// The caller's limits as the reader takes them: NULL gives the defaults.
Limits limits_of(const iffpcx_limits *limits);

// The page's description in the public form.
void fill_page_info(const PageInfo &page, iffpcx_page_info *info);

} // namespace image
