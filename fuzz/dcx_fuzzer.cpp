// The image layer's DCX directory handling on any bytes: iffpcx_page_spans
// either refuses a file or gives pages that lie in order inside it. Each
// page's bytes, read alone as a PCX file, must read as the library reads that
// page of the whole file: the same description, palette, resolution and
// lines (as far as the page alone decodes: the library may read on past a
// page's end). Those pages packed again by iffpcx_pack_dcx (when each opens
// as PCX) must split into the same bytes, and the library must count them
// and describe each as its header says.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/pcx_format.h"
#include "fuzz_check.h"
#include "fuzz_stream.h"
#include "iffpcx.h"
#include "iffpcx_image.h"

namespace {

struct Span {
    uint64_t offset;
    uint64_t end;
};

// The pages' spans by the layer, or none when it refuses the file.
std::vector<Span> spans_of(const std::vector<uint8_t> &file) {
    uint32_t count = 0;
    if (iffpcx_page_spans(file.data(), file.size(), "input", nullptr, &count, nullptr) != IFFPCX_OK) return {};
    std::vector<uint64_t> offsets(size_t{count} + 1);
    FUZZ_CHECK(iffpcx_page_spans(file.data(), file.size(), "input", offsets.data(), &count, nullptr) == IFFPCX_OK);
    std::vector<Span> spans;
    for (uint32_t k = 0; k < count; ++k) spans.push_back(Span{offsets[k], offsets[k + 1]});
    return spans;
}

int depth_at(const std::vector<uint8_t> &file, uint64_t offset) {
    return file[offset + pcx_format::kBitsPerPixelAt] * file[offset + pcx_format::kPlanesAt];
}

constexpr int kMaxSelections = 8;

void check_library_pages(const std::vector<uint8_t> &file, const std::vector<Span> &spans) {
    fuzz::FuzzStream stream;
    stream.data = file;
    IFFImageInfo info{};
    const int32_t h = IFFOpen(&stream, IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    if (h <= 0) return; // a page the library does not read
    uint16_t pages = 0;
    FUZZ_CHECK(IFFControl(h, IFF_REQ_PAGE_COUNT, 0, 0, &pages) == IFF_OK);
    FUZZ_CHECK(pages == spans.size());
    for (size_t page = 0; page < spans.size() && page < kMaxSelections; ++page) {
        if (IFFControl(h, IFF_REQ_SELECT_PAGE, 0, int32_t(page), nullptr) != IFF_OK) continue;
        const int depth = depth_at(file, spans[page].offset);
        FUZZ_CHECK(info.bits == (depth == 24 ? 8 : depth));
    }
    FUZZ_CHECK(IFFClose(h) == IFF_OK);
}

// Every page's bytes alone read as the library reads that page of the file.
void check_pages_alone(const std::vector<uint8_t> &file, const std::vector<Span> &spans) {
    fuzz::FuzzStream whole;
    whole.data = file;
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
        alone_stream.data.assign(file.begin() + spans[page].offset, file.begin() + spans[page].end);
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
    const std::vector<Span> spans = spans_of(file);
    if (spans.empty()) return 0;
    // Bytes that are no DCX file are one page, however short: too short for
    // a header, they are no PCX page either, and there is nothing to pack.
    if (spans.size() == 1 && spans[0].offset == 0 && spans[0].end < pcx_format::kHeaderSize) return 0;
    FUZZ_CHECK(spans.size() <= pcx_format::kDcxMostPages);
    std::vector<iffpcx_bytes> pages;
    uint64_t previous_end = 0;
    for (const Span &span : spans) {
        FUZZ_CHECK(span.offset >= previous_end && span.offset <= span.end && span.end <= size);
        FUZZ_CHECK(span.end - span.offset >= pcx_format::kHeaderSize);
        previous_end = span.end;
        touch_bytes(file.data() + span.offset, pcx_format::kHeaderSize);
        pages.push_back(iffpcx_bytes{file.data() + span.offset, size_t(span.end - span.offset), nullptr});
    }
    check_pages_alone(file, spans);
    iffpcx_output *output = nullptr;
    FUZZ_CHECK(iffpcx_output_memory(&output, nullptr) == IFFPCX_OK);
    iffpcx_error error{};
    const iffpcx_status packed_status = iffpcx_pack_dcx(pages.data(), pages.size(), output, &error);
    if (packed_status != IFFPCX_OK) {
        FUZZ_CHECK(packed_status == IFFPCX_ERR_NOT_PCX); // a page that does not open alone
        iffpcx_output_free(output);
        return 0;
    }
    size_t packed_size = 0;
    const uint8_t *packed_bytes = iffpcx_output_bytes(output, &packed_size);
    const std::vector<uint8_t> packed(packed_bytes, packed_bytes + packed_size);
    iffpcx_output_free(output);
    const std::vector<Span> repacked = spans_of(packed);
    FUZZ_CHECK(repacked.size() == pages.size());
    for (size_t page = 0; page < pages.size(); ++page) {
        const Span &span = repacked[page];
        FUZZ_CHECK(span.end - span.offset == pages[page].size &&
                   std::equal(packed.begin() + long(span.offset), packed.begin() + long(span.end), pages[page].data));
    }
    check_library_pages(packed, repacked);
    return 0;
}
