// Writing: the input's first 16 bytes describe an image (size, layout, kind,
// host sample layout, palette, resolution, lines per call, a failing write or
// seek call); a palette and the lines' bytes follow, repeated as needed. The
// file goes through a stream in memory. Whenever IFFClose succeeds, the file
// is opened again and must hold the lines, the resolution and the palette
// that were written; its bytes, read here without the library, must be the
// layout's header, exactly one coded line per image line, each coded as the
// encoder's rules say, and for 8-bit images the palette block ending the file
// on a multiple of 32 bytes. A failed write is reported by IFFPutLine and the
// sticky status, and a close that failed ends the handle once retried or
// abandoned.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/pcx_format.h"
#include "fuzz_check.h"
#include "fuzz_stream.h"
#include "iffpcx.h"

namespace {

constexpr size_t kDescriptionBytes = 16;

struct Layout {
    uint32_t color_class;
    int32_t bits;
};
// The written layouts, and descriptions the library refuses.
constexpr Layout kLayouts[12] = {{0, 1}, {1, 2}, {2, 2}, {2, 3}, {2, 4}, {1, 8},
                                 {2, 8}, {3, 8}, {3, 4}, {0, 8}, {4, 8}, {2, 6}};
constexpr int16_t kSampleLayouts[8] = {0, 1, 2, 3, 4, 4097, -1, 4096};

// Whether the host's bytes are RGB triples.
bool is_rgb(const Layout &layout) {
    return layout.color_class == 3 && layout.bits == 8;
}

struct Plan {
    IFFImageInfo info;
    Layout layout;
    int16_t sample_layout;
    bool palette_first, palette_last, set_resolution, abandon_failed_close;
    int32_t dpi_x, dpi_y;
    uint32_t lines_per_call;
    fuzz::FuzzStream *stream;
};

// Cycles through `bytes`, or gives zeros when there are none.
struct Source {
    const uint8_t *bytes;
    size_t size, next = 0;
    void fill(uint8_t *out, size_t count) {
        for (size_t i = 0; i < count; ++i) out[i] = size ? bytes[(next++) % size] : 0;
    }
};

bool handle_is_live(int32_t h) {
    return IFFControl(h, IFF_REQ_STATUS, 0, 0, nullptr) != IFF_ERR_HANDLE;
}

int32_t supply_palette(int32_t h, Source &source, std::vector<uint8_t> &palette) {
    uint16_t size = 0;
    FUZZ_CHECK(IFFControl(h, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &size) == IFF_OK);
    palette.assign(size, 0);
    source.fill(palette.data(), palette.size());
    return IFFControl(h, IFF_REQ_PALETTE, 0, 0, palette.empty() ? nullptr : palette.data());
}

// The value a read in the matching layout gives back for a written host byte.
uint8_t expected_sample(uint8_t written, int16_t sample_layout, int32_t bits) {
    if (bits >= 8) return written;
    if (sample_layout == 1) return uint8_t(written & ((1 << bits) - 1));
    return uint8_t(written & (0xFF00 >> bits));
}

// A line coded as the encoder's rules say: runs of 2 to 63 equal bytes from
// the left, none past the line's end; a single byte of 0xC0 or above behind
// 0xC1, any other single byte as it is.
std::vector<uint8_t> coded_line(const uint8_t *line, size_t size) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < size;) {
        size_t run = 1;
        while (run < pcx_format::kLongestRun && i + run < size && line[i + run] == line[i]) ++run;
        if (run > 1)
            out.push_back(uint8_t(pcx_format::kRunMark | run));
        else if ((line[i] & pcx_format::kRunMark) == pcx_format::kRunMark)
            out.push_back(pcx_format::kRunMark | 1);
        out.push_back(line[i]);
        i += run;
    }
    return out;
}

uint32_t le16(const std::vector<uint8_t> &file, size_t at) {
    return uint32_t(file[at]) | uint32_t(file[at + 1]) << 8;
}

// The file's bytes, read without the library.
void check_file_bytes(const Plan &plan, const std::vector<uint8_t> &file, const std::vector<uint8_t> &palette) {
    const int32_t width = plan.info.width, bits = plan.layout.bits;
    const bool rgb = is_rgb(plan.layout);
    const int32_t planes = rgb ? 3 : bits == 3 || bits == 4 ? bits : 1;
    const int32_t plane_bits = rgb || bits == 8 ? 8 : bits == 2 ? 2 : 1;
    const size_t bytes_per_line = size_t((width * plane_bits + 7) / 8 + 1) & ~size_t(1);
    using namespace pcx_format;
    FUZZ_CHECK(file.size() >= kHeaderSize);
    FUZZ_CHECK(file[kManufacturerAt] == kManufacturer && file[kVersionAt] == (bits <= 2 ? 2 : kVersionLatest) &&
               file[kEncodingAt] == kEncodingRuns && file[kBitsPerPixelAt] == plane_bits);
    FUZZ_CHECK(le16(file, kXMinAt) == 0 && le16(file, kYMinAt) == 0);
    FUZZ_CHECK(int32_t(le16(file, kXMaxAt)) == width - 1 && int32_t(le16(file, kYMaxAt)) == plan.info.height - 1);
    FUZZ_CHECK(file[kPlanesAt] == planes && le16(file, kBytesPerLineAt) == bytes_per_line);
    FUZZ_CHECK(le16(file, kPaletteInfoAt) == (plan.layout.color_class == 1 ? kPaletteInfoGray : kPaletteInfoColour));

    const size_t scan = bytes_per_line * size_t(planes);
    std::vector<uint8_t> line(scan);
    size_t at = kHeaderSize;
    for (int32_t y = 0; y < plan.info.height; ++y) {
        const size_t start = at;
        for (size_t i = 0; i < scan;) {
            FUZZ_CHECK(at < file.size());
            const uint8_t b = file[at++];
            size_t run = 1;
            uint8_t value = b;
            if ((b & kRunMark) == kRunMark) {
                FUZZ_CHECK(at < file.size());
                run = b & kRunCountMask;
                value = file[at++];
                FUZZ_CHECK(i + run <= scan); // no run goes on into the next line
            }
            std::fill_n(line.begin() + std::ptrdiff_t(i), run, value);
            i += run;
        }
        const std::vector<uint8_t> expected = coded_line(line.data(), scan);
        FUZZ_CHECK(std::equal(expected.begin(), expected.end(), file.begin() + std::ptrdiff_t(start),
                              file.begin() + std::ptrdiff_t(at)) &&
                   expected.size() == at - start);
    }
    if (bits != 8 || rgb) {
        FUZZ_CHECK(at == file.size());
        return;
    }
    // The block ends the file on a multiple of 32 bytes, 0 to 31 zero bytes
    // behind the lines; it holds the host's palette, or the gray ramp.
    FUZZ_CHECK(file.size() % 32 == 0 && file.size() >= at + kPaletteBlockSize &&
               file.size() - kPaletteBlockSize - at < 32);
    const size_t block = file.size() - kPaletteBlockSize;
    FUZZ_CHECK(std::all_of(file.begin() + std::ptrdiff_t(at), file.begin() + std::ptrdiff_t(block),
                           [](uint8_t b) { return b == 0; }));
    FUZZ_CHECK(file[block] == kPaletteBlockMarker);
    for (size_t i = 0; i < 768; ++i) {
        const uint8_t expected = palette.empty() ? uint8_t(i / 3) : palette[i];
        FUZZ_CHECK(file[block + 1 + i] == expected);
    }
}

void check_read_back(const Plan &plan, const std::vector<uint8_t> &file, const std::vector<uint8_t> &lines,
                     size_t stride, uint16_t written_line_size, const std::vector<uint8_t> &palette) {
    fuzz::FuzzStream stream;
    stream.data = file;
    IFFImageInfo info{};
    const int32_t h = IFFOpen(&stream, IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    FUZZ_CHECK(h > 0);
    FUZZ_CHECK(info.width == plan.info.width && info.height == plan.info.height);
    // Writing packs only single-plane lines; bit-plane lines take a pixel a
    // byte, in the low bits with layout 1 and in the top bits otherwise.
    const bool bit_planes = plan.layout.bits == 3 || plan.layout.bits == 4;
    const int16_t read_layout = plan.sample_layout == 1 ? 1 : plan.sample_layout == 0 && !bit_planes ? 0 : 2;
    FUZZ_CHECK(IFFControl(h, IFF_REQ_PIXEL_FORMAT, uint16_t(read_layout), 0, nullptr) == IFF_OK);
    uint16_t line_size = 0;
    FUZZ_CHECK(IFFControl(h, IFF_REQ_LINE_SIZE, 0, 0, &line_size) == IFF_OK);
    FUZZ_CHECK(line_size == written_line_size && line_size <= stride);

    const int32_t bits = plan.layout.bits;
    const int64_t line_bits = int64_t(is_rgb(plan.layout) ? 24 : bits) * plan.info.width;
    std::vector<uint8_t> line(stride);
    for (int32_t y = 0; y < plan.info.height; ++y) {
        FUZZ_CHECK(IFFGetLine(h, 1, line.data()) == IFF_OK);
        touch_bytes(line.data(), line.size());
        const uint8_t *written = lines.data() + size_t(y) * stride;
        for (size_t i = 0; i < line_size; ++i) {
            uint8_t expected = read_layout == 0 ? written[i] : expected_sample(written[i], read_layout, bits);
            uint8_t got = line[i];
            // Packed lines end on a byte; the bits after the last pixel are not the image's.
            if (read_layout == 0 && i + 1 == line_size && line_bits % 8 != 0) {
                const auto mask = uint8_t(0xFF << (8 - line_bits % 8));
                expected &= mask;
                got &= mask;
            }
            FUZZ_CHECK(got == expected);
        }
    }
    if (plan.set_resolution) {
        int32_t dpi[2] = {-1, -1};
        FUZZ_CHECK(IFFControl(h, IFF_REQ_RESOLUTION, 3, 0, dpi) == IFF_OK);
        FUZZ_CHECK(dpi[0] == (plan.dpi_x & 0xFFFF) && dpi[1] == (plan.dpi_y & 0xFFFF));
    }
    // A colour palette handed over entry for entry comes back as it went in.
    if (!palette.empty() && plan.layout.color_class == 2 && bits >= 3 && read_layout < 2) {
        std::vector<uint8_t> exported(palette.size());
        FUZZ_CHECK(IFFControl(h, IFF_REQ_PALETTE, 0, 0, exported.data()) == IFF_OK);
        FUZZ_CHECK(exported == palette);
    }
    FUZZ_CHECK(IFFClose(h) == IFF_OK);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < kDescriptionBytes || size > (1u << 16)) return 0;
    const fuzz::Tail d{data, kDescriptionBytes};
    fuzz::FuzzStream stream;
    Plan plan{};
    plan.layout = kLayouts[d[3] % 12];
    plan.info = IFFImageInfo{0,
                             1 + d.u16(0) % 640,
                             1 + d[2] % 48,
                             plan.layout.color_class,
                             plan.layout.bits,
                             uint32_t(d[4] < 200 ? d[4] % 3 : d[4] % 10),
                             0};
    plan.sample_layout = kSampleLayouts[d[5] & 7];
    plan.palette_first = (d[6] & 1) != 0;
    plan.palette_last = (d[6] & 2) != 0;
    plan.set_resolution = (d[6] & 4) != 0;
    plan.abandon_failed_close = (d[6] & 8) != 0;
    plan.dpi_x = int32_t(d.u16(7)) | (int32_t(d[13] & 0x70) << 12); // high bits are not stored
    plan.dpi_y = int32_t(d.u16(9));
    stream.fail_write_at = d[11] < 48 ? d[11] : 0;
    stream.fail_seek_at = d[12] < 16 ? d[12] : 0;
    stream.failures_stay = (d[13] & 1) != 0;
    plan.lines_per_call = 1u + ((d[13] >> 1) & 3);
    plan.stream = &stream;
    Source source{data + kDescriptionBytes, size - kDescriptionBytes};

    const int32_t h = IFFOpen(&stream, IFF_MODE_WRITE | IFF_MODE_STREAMS, &plan.info);
    if (h <= 0) {
        FUZZ_CHECK(h < 0 && !stream.is_open());
        return 0;
    }
    FUZZ_CHECK(IFFControl(h, IFF_REQ_PIXEL_FORMAT, uint16_t(plan.sample_layout), 0, nullptr) == IFF_OK);
    std::vector<uint8_t> palette;
    bool palette_set = false;
    if (plan.palette_first) palette_set = supply_palette(h, source, palette) == IFF_OK;
    if (plan.set_resolution) {
        int32_t dpi[2] = {plan.dpi_x, plan.dpi_y};
        FUZZ_CHECK(IFFControl(h, IFF_REQ_RESOLUTION, 3, 0, dpi) == IFF_OK);
    }
    uint16_t line_size = 0;
    FUZZ_CHECK(IFFControl(h, IFF_REQ_LINE_SIZE, 0, 0, &line_size) == IFF_OK);
    const size_t stride = size_t(plan.info.width) * (is_rgb(plan.layout) ? 3 : 1);
    std::vector<uint8_t> lines(stride * size_t(plan.info.height));
    source.fill(lines.data(), lines.size());

    bool lines_written = true;
    for (int32_t y = 0; y < plan.info.height; y += int32_t(plan.lines_per_call)) {
        const uint32_t count = std::min(uint32_t(plan.info.height - y), plan.lines_per_call);
        const int32_t status = IFFPutLine(h, count, lines.data() + size_t(y) * stride);
        if (status != IFF_OK) {
            lines_written = false;
            int32_t sticky = 0;
            FUZZ_CHECK(IFFControl(h, IFF_REQ_STATUS, 0, 0, &sticky) == IFF_OK && sticky == status);
        }
    }
    if (plan.palette_last) palette_set = supply_palette(h, source, palette) == IFF_OK;
    if (!palette_set) palette.clear();

    // A failed palette step leaves the handle open; once the stream stops
    // failing and a palette is there, a second close releases it.
    // Or the host gives up on the file, and the next close ends the handle.
    int32_t closed = IFFClose(h);
    bool abandoned = false;
    if (handle_is_live(h)) {
        FUZZ_CHECK(closed != IFF_OK && stream.is_open());
        stream.stop_failing();
        abandoned = plan.abandon_failed_close;
        if (abandoned)
            FUZZ_CHECK(IFFControl(h, IFF_REQ_ABANDON, 0, 0, nullptr) == IFF_OK);
        else if (supply_palette(h, source, palette) != IFF_OK)
            palette.clear();
        closed = IFFClose(h);
        FUZZ_CHECK(!handle_is_live(h));
    }
    FUZZ_CHECK(!stream.is_open());
    if (closed == IFF_OK && lines_written && !abandoned) {
        check_read_back(plan, stream.data, lines, stride, line_size, palette);
        check_file_bytes(plan, stream.data, palette);
    }
    return 0;
}
