// The checker and repair on any bytes. Beyond "no crash": the report is
// consistent and its JSON complete; a file repair accepts checks valid, keeps
// its format and page count, and each of its pages decodes through the six
// entry points to what the input's page, read on its own, decodes to.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_stream.h"
#include "iffpcx_check.h"

namespace {

// Everything a host learns from a one-page file: the description, the
// resolution, the palette and every line; empty when it does not open.
std::vector<uint8_t> decoded(const uint8_t *data, size_t size) {
    fuzz::FuzzStream stream;
    stream.data.assign(data, data + size);
    IFFImageInfo info{};
    const int32_t handle = IFFOpen(&stream, IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    std::vector<uint8_t> out;
    if (handle <= 0) return out;
    const auto append = [&out](const void *bytes, size_t count) {
        const auto *from = static_cast<const uint8_t *>(bytes);
        out.insert(out.end(), from, from + count);
    };
    int32_t dpi[2] = {0, 0};
    IFFControl(handle, IFF_REQ_RESOLUTION, 3, 0, dpi);
    append(&info, sizeof info);
    append(dpi, sizeof dpi);
    uint16_t palette_size = 0;
    IFFControl(handle, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr);
    if (IFFControl(handle, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &palette_size) == IFF_OK) {
        std::vector<uint8_t> palette(palette_size);
        const int32_t status = IFFControl(handle, IFF_REQ_PALETTE, 0, 0, palette.data());
        append(&status, sizeof status);
        if (status == IFF_OK) append(palette.data(), palette.size());
    }
    IFFControl(handle, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INTERLEAVED, 0, nullptr);
    uint32_t stride = 0;
    IFFControl(handle, IFF_REQ_LINE_STRIDE, 0, 0, &stride);
    std::vector<uint8_t> line(stride);
    for (int32_t y = 0; y < info.height; ++y) {
        const int32_t status = IFFGetLine(handle, 1, line.data());
        append(&status, sizeof status);
        if (status != IFF_OK) break;
        append(line.data(), line.size());
    }
    IFFClose(handle);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    iffpcx_check_options options{};
    options.limits.max_pixels = 1u << 20; // repair decodes whole pages
    iffpcx_report *report = nullptr;
    FUZZ_CHECK(iffpcx_check_memory(data, size, "fuzz", &options, &report, nullptr) == IFFPCX_OK);
    FUZZ_CHECK(report->warnings + report->errors + report->fatals == report->finding_count);
    const uint32_t expected = report->fatals > 0   ? IFFPCX_NOT_WELL_FORMED
                              : report->errors > 0 ? IFFPCX_NOT_VALID
                                                   : IFFPCX_VALID;
    FUZZ_CHECK(report->verdict == expected);
    const size_t json_size = iffpcx_report_json(report, nullptr, 0);
    std::string json(json_size + 1, '\0');
    FUZZ_CHECK(iffpcx_report_json(report, &json[0], json.size()) == json_size && json[json_size] == '\0');
    FUZZ_CHECK(std::strlen(json.c_str()) == json_size);
    for (size_t i = 0; i < report->finding_count; ++i)
        touch_bytes(reinterpret_cast<const unsigned char *>(report->findings[i].message),
                    std::strlen(report->findings[i].message));

    iffpcx_repaired *repaired = nullptr;
    iffpcx_error error{};
    if (iffpcx_repair_memory(data, size, "fuzz", &options, &repaired, &error) != IFFPCX_OK) {
        FUZZ_CHECK(repaired == nullptr && error.message[0] != '\0');
        iffpcx_report_free(report);
        return 0;
    }
    FUZZ_CHECK(report->fatals == 0);
    iffpcx_report *after = nullptr;
    FUZZ_CHECK(iffpcx_check_memory(repaired->data, repaired->size, "repaired", &options, &after, nullptr) == IFFPCX_OK);
    FUZZ_CHECK(after->verdict == IFFPCX_VALID);
    FUZZ_CHECK(std::strcmp(after->format, report->format) == 0 && after->page_count == report->page_count);
    for (uint32_t page = 0; page < report->page_count; ++page) {
        const iffpcx_page_summary &a = report->pages[page], &b = after->pages[page];
        // Pages lie inside their files, whose sizes are size_t.
        FUZZ_CHECK(decoded(data + size_t(a.offset), size_t(a.size)) ==
                   decoded(repaired->data + size_t(b.offset), size_t(b.size)));
    }
    iffpcx_report_free(after);
    iffpcx_repaired_free(repaired);
    iffpcx_report_free(report);
    return 0;
}
