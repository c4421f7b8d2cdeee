#include "line_codec.h"

#include <cstring>

#include "core/pcx_format.h"

namespace iffpcx_check {

namespace fmt = pcx_format;

LineDecoder::LineDecoder(Bytes file, const PageFacts &page)
    : file_(file), cursor_(page.offset + fmt::kHeaderSize), stored_(page.encoding == fmt::kEncodingStored) {}

bool LineDecoder::next(uint8_t *line, uint64_t size) {
    if (stored_) {
        if (cursor_ + size > file_.size) return false;
        std::memcpy(line, file_.data + cursor_, size_t(size));
        cursor_ += size;
        return true;
    }
    uint64_t filled = 0;
    while (filled < size) {
        if (pending_count_ > 0) {
            const uint64_t take = pending_count_ < size - filled ? pending_count_ : size - filled;
            std::memset(line + filled, pending_value_, size_t(take));
            filled += take;
            pending_count_ -= uint32_t(take);
            continue;
        }
        if (cursor_ >= file_.size) return false;
        const uint8_t b = file_.data[cursor_];
        if ((b & fmt::kRunMark) != fmt::kRunMark) {
            line[filled++] = b;
            ++cursor_;
            continue;
        }
        if (cursor_ + 1 >= file_.size) return false;
        pending_count_ = b & fmt::kRunCountMask;
        pending_value_ = file_.data[cursor_ + 1];
        cursor_ += 2;
    }
    return true;
}

void encode_runs(const uint8_t *line, uint64_t size, std::vector<uint8_t> &out) {
    uint64_t at = 0;
    while (at < size) {
        const uint8_t value = line[at];
        uint64_t run = 1;
        while (at + run < size && run < fmt::kLongestRun && line[at + run] == value) ++run;
        if (run == 1 && (value & fmt::kRunMark) != fmt::kRunMark) {
            out.push_back(value);
        } else {
            out.push_back(uint8_t(fmt::kRunMark | run));
            out.push_back(value);
        }
        at += run;
    }
}

} // namespace iffpcx_check
