// pcxtool's DCX directory handling on any bytes: page_spans either refuses a
// file with an input error or gives pages that lie in order inside it. Each
// page's bytes, read alone as a PCX file, must read as the library reads that
// page of the whole file: the same description, palette, resolution and
// lines (as far as the page alone decodes: the library may read on past a
// page's end). Those pages packed again by build_dcx must split into the
// same bytes, and the library must count them and describe each as its
// header says.
#include <algorithm>
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

// Every page's bytes alone read as the library reads that page of the file.
void check_pages_alone(const std::vector<uint8_t> &file, const std::vector<pcxtool::PageSpan> &spans) {
    fuzz::FuzzStream whole;
    whole.bytes = file;
    IFFImageInfo info{};
    const int32_t h = IFFOpen(&whole, IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    if (h <= 0) return;
    uint16_t pages = 0;
    if (IFFControl(h, IFF_REQ_PAGE_COUNT, 0, 0, &pages) != IFF_OK || pages != spans.size()) {
        IFFClose(h); // pcxtool refuses a file whose pages the library counts otherwise
        return;
    }
    for (size_t page = 0; page < spans.size() && page < kMaxSelections; ++page) {
        const bool selected = IFFControl(h, IFF_REQ_SELECT_PAGE, 0, int32_t(page), nullptr) == IFF_OK;
        fuzz::FuzzStream alone_stream;
        alone_stream.bytes.assign(file.begin() + spans[page].offset, file.begin() + spans[page].end);
        IFFImageInfo alone_info{};
        const int32_t alone = IFFOpen(&alone_stream, IFF_MODE_READ | IFF_MODE_STREAMS, &alone_info);
        FUZZ_CHECK(selected == (alone > 0));
        if (alone <= 0) continue;
        FUZZ_CHECK(alone_info.width == info.width && alone_info.height == info.height &&
                   alone_info.color_class == info.color_class && alone_info.bits == info.bits);
        // Both in the index layout, which the handle of the file keeps from
        // page to page.
        const bool index_layout = IFFControl(h, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr) == IFF_OK;
        FUZZ_CHECK((IFFControl(alone, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr) == IFF_OK) == index_layout);
        // The palette: its size, then its entries (a 256-colour block lies
        // at the page's end).
        uint16_t sizes[2] = {0, 0};
        const int32_t size_status = IFFControl(h, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &sizes[0]);
        FUZZ_CHECK(IFFControl(alone, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &sizes[1]) == size_status);
        FUZZ_CHECK(sizes[0] == sizes[1]);
        if (size_status == IFF_OK && sizes[0] > 0) {
            std::vector<uint8_t> palettes[2] = {std::vector<uint8_t>(sizes[0]), std::vector<uint8_t>(sizes[0])};
            const int32_t status = IFFControl(h, IFF_REQ_PALETTE, 0, 0, palettes[0].data());
            FUZZ_CHECK(IFFControl(alone, IFF_REQ_PALETTE, 0, 0, palettes[1].data()) == status);
            FUZZ_CHECK(status != IFF_OK || palettes[0] == palettes[1]);
        }
        int32_t dpi[2][2] = {};
        FUZZ_CHECK(IFFControl(h, IFF_REQ_RESOLUTION, 3, 0, dpi[0]) ==
                   IFFControl(alone, IFF_REQ_RESOLUTION, 3, 0, dpi[1]));
        FUZZ_CHECK(dpi[0][0] == dpi[1][0] && dpi[0][1] == dpi[1][1]);
        // Lines, up to about a megabyte of them.
        uint32_t strides[2] = {0, 0};
        if (index_layout && IFFControl(h, IFF_REQ_LINE_STRIDE, 0, 0, &strides[0]) == IFF_OK &&
            IFFControl(alone, IFF_REQ_LINE_STRIDE, 0, 0, &strides[1]) == IFF_OK && strides[0] > 0) {
            FUZZ_CHECK(strides[0] == strides[1]);
            std::vector<uint8_t> lines[2] = {std::vector<uint8_t>(strides[0]), std::vector<uint8_t>(strides[0])};
            const int64_t most = std::max<int64_t>(1, (int64_t{1} << 20) / strides[0]);
            for (int64_t y = 0; y < std::min<int64_t>(info.height, most); ++y) {
                if (IFFGetLine(alone, 1, lines[1].data()) != IFF_OK) break;
                FUZZ_CHECK(IFFGetLine(h, 1, lines[0].data()) == IFF_OK);
                FUZZ_CHECK(lines[0] == lines[1]);
            }
        }
        FUZZ_CHECK(IFFClose(alone) == IFF_OK);
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
    check_pages_alone(file, spans);
    check_library_pages(packed, repacked);
    return 0;
}
