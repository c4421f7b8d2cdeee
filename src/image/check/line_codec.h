// Scan lines out of a page's image data and back into runs, for repair.
#pragma once

#include <cstdint>
#include <vector>

#include "scan.h"

namespace iffpcx_check {

// Decodes a page's lines in order, carrying a run that crosses a line's end
// into the next line as readers of this library do.
class LineDecoder {
  public:
    LineDecoder(Bytes file, const PageFacts &page);
    // The next line of `size` bytes; false when the data end first.
    bool next(uint8_t *line, uint64_t size);
    // Where the bytes of the lines decoded so far end.
    uint64_t cursor() const { return cursor_; }

  private:
    Bytes file_;
    uint64_t cursor_;
    bool stored_;
    uint32_t pending_count_ = 0;
    uint8_t pending_value_ = 0;
};

// Appends one plane's line as runs that stay inside it.
void encode_runs(const uint8_t *line, uint64_t size, std::vector<uint8_t> &out);

} // namespace iffpcx_check
