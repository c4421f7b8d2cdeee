// What a scan of a file's bytes finds: its format, its pages and the rules
// they break. Scans read only the bytes they are given and allocate nothing
// by what a header claims: their time follows the file's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "rules.h"

namespace iffpcx_check {

struct Bytes {
    const uint8_t *data = nullptr;
    uint64_t size = 0;
};

inline uint32_t load_le16(const uint8_t *at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8;
}
inline uint32_t load_le32(const uint8_t *at) {
    return load_le16(at) | load_le16(at + 2) << 16;
}

struct Finding {
    Rule rule;
    int32_t page; // -1: the file as a whole
    uint64_t offset;
    std::string message;
};

// One page's header fields and where its parts lie in the file.
struct PageFacts {
    uint32_t index = 0;
    uint64_t offset = 0;
    uint64_t end = 0; // the next page's offset, or the file's end
    int32_t version = -1;
    uint8_t encoding = 0;
    int32_t bits = 0, planes = 0;
    int32_t width = 0, height = 0;
    uint32_t bytes_per_line = 0;
    uint32_t palette_info = 0;
    bool readable = false;          // header usable and data complete
    uint64_t data_end = 0;          // where the image data end, when readable
    uint64_t block_at = 0;          // the 256-colour block where readers look, or 0
    bool ambiguous_colours = false; // a block lies where not all readers look
};

enum class Format { Unknown, Pcx, Dcx };

struct FileScan {
    Format format = Format::Unknown;
    std::vector<PageFacts> pages;
    std::vector<Finding> findings;
    bool over_limit = false; // more pages than the caller allows: not judged
};

// Checks the page whose header starts at page.offset and which ends at
// page.end (data may run on to the file's end, which counts against it).
void scan_page(Bytes file, PageFacts &page, std::vector<Finding> &findings);

// Checks a whole PCX or DCX file. max_pages bounds a DCX directory.
FileScan scan_file(Bytes file, uint32_t max_pages);

} // namespace iffpcx_check
