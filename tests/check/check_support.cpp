#include "check/check_support.h"

#include <cstring>

#include "support/memory_stream.h"

namespace check_test {

uint64_t Judged::offset_of(const std::string &id) const {
    for (const iffpcx_finding &finding : findings)
        if (id == finding.id) return finding.offset;
    return UINT64_MAX;
}

Judged judge(const std::vector<uint8_t> &file, bool strict) {
    Judged judged;
    iffpcx_check_options options{};
    options.flags = strict ? IFFPCX_CHECK_STRICT : 0;
    iffpcx_report *report = nullptr;
    judged.status = iffpcx_check_memory(file.data(), file.size(), "test", &options, &report, nullptr);
    if (judged.status != IFFPCX_OK) return judged;
    judged.format = report->format;
    judged.format_id = report->format_id;
    judged.version = report->version;
    judged.verdict = iffpcx_verdict_name(report->verdict);
    judged.pages = report->page_count;
    for (uint32_t i = 0; i < report->page_count; ++i) {
        const auto *page = file.data() + report->pages[i].offset;
        judged.spans.emplace_back(page, page + report->pages[i].size);
    }
    for (size_t i = 0; i < report->finding_count; ++i) {
        iffpcx_finding finding = report->findings[i];
        judged.ids.insert(finding.id);
        finding.message = nullptr;
        judged.findings.push_back(finding);
    }
    iffpcx_report_free(report);
    return judged;
}

bool DecodedPage::operator==(const DecodedPage &other) const {
    return info.width == other.info.width && info.height == other.info.height &&
           info.color_class == other.info.color_class && info.bits == other.info.bits && dpi[0] == other.dpi[0] &&
           dpi[1] == other.dpi[1] && palette == other.palette && pixels == other.pixels;
}

std::vector<DecodedPage> decode_all(const std::vector<uint8_t> &file) {
    std::vector<DecodedPage> pages;
    test::MemoryStream stream(file);
    IFFImageInfo info{};
    const int32_t handle = IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    if (handle <= 0) return pages;
    uint16_t count = 0;
    IFFControl(handle, IFF_REQ_PAGE_COUNT, 0, 0, &count);
    for (uint16_t page = 0; page < count; ++page) {
        DecodedPage decoded;
        if (IFFControl(handle, IFF_REQ_SELECT_PAGE, 0, page, nullptr) != IFF_OK) break;
        decoded.info = info;
        IFFControl(handle, IFF_REQ_RESOLUTION, 3, 0, decoded.dpi);
        IFFControl(handle, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr);
        uint16_t size = 0;
        if (IFFControl(handle, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &size) == IFF_OK && size > 0) {
            decoded.palette.resize(size);
            if (IFFControl(handle, IFF_REQ_PALETTE, 0, 0, decoded.palette.data()) != IFF_OK) decoded.palette.clear();
        }
        IFFControl(handle, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INTERLEAVED, 0, nullptr);
        uint32_t stride = 0;
        IFFControl(handle, IFF_REQ_LINE_STRIDE, 0, 0, &stride);
        decoded.pixels.assign(size_t(stride) * size_t(info.height), 0);
        if (IFFGetLine(handle, uint32_t(info.height), decoded.pixels.data()) != IFF_OK) decoded.pixels.clear();
        pages.push_back(decoded);
    }
    IFFClose(handle);
    return pages;
}

std::vector<DecodedPage> decode_pages_alone(const std::vector<uint8_t> &file) {
    std::vector<DecodedPage> pages;
    for (const std::vector<uint8_t> &span : judge(file).spans) {
        const std::vector<DecodedPage> page = decode_all(span);
        if (page.size() != 1) return {};
        pages.push_back(page.front());
    }
    return pages;
}

Repaired repair(const std::vector<uint8_t> &file) {
    Repaired repaired;
    iffpcx_repaired *result = nullptr;
    iffpcx_error error{};
    repaired.status = iffpcx_repair_memory(file.data(), file.size(), "test", nullptr, &result, &error);
    if (repaired.status != IFFPCX_OK) {
        repaired.message = error.message;
        return repaired;
    }
    repaired.bytes.assign(result->data, result->data + result->size);
    for (size_t i = 0; i < result->change_count; ++i) repaired.changes.push_back(result->changes[i]);
    iffpcx_repaired_free(result);
    return repaired;
}

} // namespace check_test
