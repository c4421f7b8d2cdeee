// pcxtool's DCX directory handling on any bytes: page_spans either refuses a
// file with an input error or gives pages that lie in order inside it. Those
// pages packed again by build_dcx must split into the same bytes, and the
// library must count them and describe each as its header says.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dcx_layout.h"
#include "fuzz_check.h"
#include "fuzz_stream.h"
#include "iffpcx.h"
#include "tool_error.h"

namespace {

constexpr int kMaxSelections = 8;

void check_library_pages(const std::vector<uint8_t> &file, const std::vector<pcxtool::PageSpan> &spans) {
    fuzz::FuzzStream stream;
    stream.bytes = file;
    IFFImageInfo info{};
    const int32_t h = IFFOpen(&stream, IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    if (h <= 0) return; // a page the library does not read
    uint16_t pages = 0;
    FUZZ_CHECK(IFFControl(h, IFF_REQ_PAGE_COUNT, 0, 0, &pages) == IFF_OK);
    FUZZ_CHECK(pages == spans.size());
    for (size_t page = 0; page < spans.size() && page < kMaxSelections; ++page) {
        if (IFFControl(h, IFF_REQ_SELECT_PAGE, 0, int32_t(page), nullptr) != IFF_OK) continue;
        const pcxtool::HeaderFields fields = pcxtool::header_fields(file, spans[page].offset);
        const int depth = fields.bits_per_plane * fields.planes;
        FUZZ_CHECK(info.bits == (depth == 24 ? 8 : depth));
    }
    FUZZ_CHECK(IFFClose(h) == IFF_OK);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 20)) return 0;
    const std::vector<uint8_t> file(data, data + size);
    std::vector<pcxtool::PageSpan> spans;
    try {
        spans = pcxtool::page_spans(file, "input");
    } catch (const pcxtool::ToolError &) {
        return 0;
    }
    // A plain file is one page, and a page shorter than a header cannot be packed.
    if (!pcxtool::has_dcx_signature(file) && size < pcxtool::kPcxHeaderSize) return 0;
    FUZZ_CHECK(!spans.empty() && spans.size() <= pcxtool::kMaxPages);
    std::vector<std::vector<uint8_t>> pages;
    uint32_t previous_end = 0;
    for (const pcxtool::PageSpan &span : spans) {
        FUZZ_CHECK(span.offset >= previous_end && span.offset <= span.end && span.end <= size);
        previous_end = span.end;
        const pcxtool::HeaderFields fields = pcxtool::header_fields(file, span.offset);
        touch_bytes(reinterpret_cast<const unsigned char *>(&fields), sizeof fields);
        pages.emplace_back(file.begin() + span.offset, file.begin() + span.end);
    }
    const std::vector<uint8_t> packed = pcxtool::build_dcx(pages);
    const std::vector<pcxtool::PageSpan> repacked = pcxtool::page_spans(packed, "packed");
    FUZZ_CHECK(repacked.size() == pages.size());
    for (size_t page = 0; page < pages.size(); ++page) {
        const pcxtool::PageSpan &span = repacked[page];
        FUZZ_CHECK(std::vector<uint8_t>(packed.begin() + span.offset, packed.begin() + span.end) == pages[page]);
    }
    check_library_pages(packed, repacked);
    return 0;
}
