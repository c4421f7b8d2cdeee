// Reading: the input is a file followed by eight option bytes, which choose
// the open mode, the sample layout, the pages' order, the lines per call, the
// read callback's chunk size, a failing read or seek call and two seek
// targets. Each input is decoded twice, with the library's new memory filled
// with 0x00 and then 0xFF, the second time through the decoder's narrower
// loops: the two transcripts of statuses and delivered bytes must agree, so
// no byte the host sees comes from memory the library never wrote, and every
// loop decodes alike. A line read after a seek must equal the same line read
// in order. Until a read or seek fails by the options, every page's lines
// must fail where the reference decoder's fail, and be its lines in the
// layouts it converts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_stream.h"
#include "iffpcx.h"
#include "platform/cpu_features.h"
#include "platform/heap.h"
#include "reference_decoder.h"

namespace {

constexpr size_t kOptionBytes = 8;
constexpr int32_t kMaxWidth = 4096;
constexpr int32_t kMaxLines = 256;
constexpr int kMaxVisits = 4;

// Every defined layout, with and without inverted polarity, and values that
// are not defined (they read as 3).
constexpr int16_t kLayouts[16] = {0, 1, 2, 3, 4, 4096, 4097, 4098, 4099, 4100, -1, 7, 4095, 8192, -32768, 12289};

struct Options {
    uint32_t mode;
    int16_t layout;
    uint32_t lines_per_call;
    int order; // 0 forward, 1 backward, 2 by a stride
    int32_t chunk;
    uint32_t fail_read_at, fail_seek_at;
    bool failures_stay;
    uint8_t seek_a, seek_b;
};

Options options_from(const fuzz::Tail &t) {
    Options o{};
    o.mode = (t[0] & 1) ? IFF_MODE_READ_LINES : IFF_MODE_READ;
    o.layout = kLayouts[(t[0] >> 1) & 15];
    o.lines_per_call = 1u + (t[1] & 7);
    o.order = (t[1] >> 3) % 3;
    o.chunk = t[2] == 0 ? 0 : t[2] < 128 ? t[2] : 1 + 37 * (t[2] - 127);
    o.fail_read_at = t[3] < 64 ? t[3] : 0;
    o.fail_seek_at = t[4] < 32 ? t[4] : 0;
    o.failures_stay = (t[5] & 1) != 0;
    o.seek_a = t[6];
    o.seek_b = t[7];
    return o;
}

// What a decode showed the host: every status, description field and
// delivered byte, folded into one hash (FNV-1a), so two decodes compare cheaply.
struct Transcript {
    uint64_t hash = 0xcbf29ce484222325u;
    void push_back(int64_t value) {
        for (int shift = 0; shift < 64; shift += 8) mix(uint8_t(uint64_t(value) >> shift));
    }
    void insert(std::initializer_list<int64_t> values) {
        for (int64_t value : values) push_back(value);
    }
    void mix(uint8_t byte) { hash = (hash ^ byte) * 0x100000001b3u; }
    bool operator==(const Transcript &other) const { return hash == other.hash; }
};

void record_bytes(Transcript &out, const uint8_t *bytes, size_t size) {
    touch_bytes(bytes, size);
    for (size_t i = 0; i < size; ++i) out.mix(bytes[i]);
}

// The bytes by which the library moves the host's pointer per line.
size_t line_stride_of(int32_t h) {
    uint32_t stride = 0;
    FUZZ_CHECK(IFFControl(h, IFF_REQ_LINE_STRIDE, 0, 0, &stride) == IFF_OK);
    return stride;
}

// The reference decoder's view of a page, held against what the library
// delivers while no failure has been injected.
struct Reference {
    reference::Page page;
    bool known = false;
    const Options &o;
    const fuzz::FuzzStream &stream;
    std::vector<uint8_t> expected;

    bool applies() const { return known && !stream.failure_injected; }
    // The status reading lines first..first + count - 1 must give.
    int32_t status_of(int32_t first, uint32_t count) const {
        const int32_t f = page.failing_line;
        return f >= first && int64_t(f) < int64_t(first) + count ? IFF_ERR_LINE : IFF_OK;
    }
    // A delivered line, where the reference converts the layout.
    void check_line(int32_t y, const uint8_t *got, size_t stride) {
        if (!applies() || !reference::host_line(page, y, o.layout, expected)) return;
        FUZZ_CHECK(expected.size() <= stride);
        FUZZ_CHECK(std::equal(expected.begin(), expected.end(), got));
    }
};

// Reads the current page's lines in calls of lines_per_call, seeks to two
// lines picked by the options and compares what they give with the lines read
// in order and with the reference decoder. Each call gets exactly count
// strides of room, so a line that runs past its stride shows under
// AddressSanitizer.
void read_lines(int32_t h, const IFFImageInfo &info, const Options &o, const fuzz::FuzzStream &stream, int page,
                Transcript &out) {
    uint16_t line_size = 0;
    out.push_back(IFFControl(h, IFF_REQ_LINE_SIZE, 0, 0, &line_size));
    out.push_back(line_size);
    const size_t stride = line_stride_of(h);
    out.push_back(int64_t(stride));
    if (info.width <= 0 || info.width > kMaxWidth || info.height <= 0 || stride == 0) return;
    FUZZ_CHECK(line_size <= stride);
    // At most kMaxLines lines and about a million pixels of a page.
    const int32_t lines = std::min({info.height, kMaxLines, std::max(1, (1 << 20) / info.width)});
    Reference ref{reference::Page{}, false, o, stream, {}};
    ref.known = reference::decode_page(stream.data, page, lines, ref.page);
    if (ref.applies()) FUZZ_CHECK(ref.page.width == info.width && ref.page.height == info.height);
    std::vector<uint8_t> in_order(size_t(line_size) * size_t(lines));
    std::vector<bool> line_ok(size_t(lines), false);
    for (int32_t y = 0; y < lines; y += int32_t(o.lines_per_call)) {
        const uint32_t count = std::min(uint32_t(lines - y), o.lines_per_call);
        std::vector<uint8_t> batch(count * stride);
        const int32_t status = IFFGetLine(h, count, batch.data());
        out.push_back(status);
        if (ref.applies()) {
            FUZZ_CHECK(status == ref.status_of(y, count));
            // Lines in front of a failing one are delivered.
            for (uint32_t k = 0; k < count && (status == IFF_OK || int32_t(y + k) < ref.page.failing_line); ++k)
                ref.check_line(y + int32_t(k), batch.data() + k * stride, stride);
        }
        if (status != IFF_OK) break;
        record_bytes(out, batch.data(), batch.size());
        for (uint32_t k = 0; k < count; ++k) {
            const size_t line = size_t(y) + k;
            std::copy_n(batch.begin() + std::ptrdiff_t(k * stride), line_size,
                        in_order.begin() + std::ptrdiff_t(line * line_size));
            line_ok[line] = true;
        }
    }
    for (uint8_t pick : {o.seek_a, o.seek_b}) {
        const int32_t target = pick == 255 ? -1 : int32_t(pick) % (lines + 1);
        const int32_t status = IFFSeek(h, target);
        out.push_back(status);
        // Seeking decodes every line in front of the target.
        if (o.mode == IFF_MODE_READ && target >= 0 && ref.applies()) FUZZ_CHECK(status == ref.status_of(0, target));
        if (status != IFF_OK || target < 0 || target >= lines) continue;
        std::vector<uint8_t> line(stride);
        const int32_t got = IFFGetLine(h, 1, line.data());
        out.push_back(got);
        if (ref.applies()) FUZZ_CHECK(got == ref.status_of(target, 1));
        if (got != IFF_OK) continue;
        record_bytes(out, line.data(), line.size());
        ref.check_line(target, line.data(), stride);
        if (!stream.failure_injected && line_ok[size_t(target)])
            FUZZ_CHECK(std::equal(line.begin(), line.begin() + line_size,
                                  in_order.begin() + std::ptrdiff_t(size_t(target) * line_size)));
    }
}

void describe(const IFFImageInfo &info, Transcript &out) {
    out.insert({info.width, info.height, info.color_class, info.bits, info.kind, info.reserved});
}

Transcript run(const uint8_t *file, size_t size, const Options &o) {
    Transcript out;
    fuzz::FuzzStream stream;
    stream.data.assign(file, file + size);
    stream.max_read = o.chunk > 0 ? o.chunk : INT32_MAX;
    stream.fail_read_at = o.fail_read_at;
    stream.fail_seek_at = o.fail_seek_at;
    stream.failures_stay = o.failures_stay;

    IFFImageInfo info{};
    info.host_data = 0xA5A5A5A5u;
    info.reserved = 77;
    const int32_t h = IFFOpen(&stream, o.mode | IFF_MODE_STREAMS, &info);
    FUZZ_CHECK(info.host_data == 0xA5A5A5A5u && info.reserved == 0);
    if (h <= 0) {
        out.push_back(h);
        FUZZ_CHECK(h < 0 && !stream.is_open());
        return out;
    }
    describe(info, out);

    uint16_t pages = 1;
    out.push_back(IFFControl(h, IFF_REQ_PAGE_COUNT, 0, 0, &pages));
    if (pages == 0) pages = 1;
    for (int visit = 0; visit < kMaxVisits && visit < pages; ++visit) {
        const int page = o.order == 0 ? visit : o.order == 1 ? pages - 1 - visit : (visit * 7 + 1) % pages;
        if (visit > 0 || page != 0) {
            const int32_t status = IFFControl(h, IFF_REQ_SELECT_PAGE, 0, page, nullptr);
            out.push_back(status);
            if (status != IFF_OK) continue;
            describe(info, out);
        }
        out.push_back(IFFControl(h, IFF_REQ_PIXEL_FORMAT, uint16_t(o.layout), 0, nullptr));
        uint16_t palette_size = 0;
        out.push_back(IFFControl(h, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &palette_size));
        if (o.mode == IFF_MODE_READ) {
            std::vector<uint8_t> palette(palette_size);
            const int32_t status = IFFControl(h, IFF_REQ_PALETTE, 0, 0, palette_size ? palette.data() : nullptr);
            out.push_back(status);
            if (status == IFF_OK) record_bytes(out, palette.data(), palette.size());
            int32_t dpi[2] = {-1, -1};
            out.push_back(IFFControl(h, IFF_REQ_RESOLUTION, 3, 0, dpi));
            out.insert({dpi[0], dpi[1]});
        }
        int32_t sticky = 0;
        out.push_back(IFFControl(h, IFF_REQ_STATUS, 0, 0, &sticky));
        out.push_back(sticky);
        read_lines(h, info, o, stream, page, out);
    }
    out.push_back(IFFClose(h));
    FUZZ_CHECK(!stream.is_open());
    FUZZ_CHECK(IFFControl(h, IFF_REQ_STATUS, 0, 0, nullptr) == IFF_ERR_HANDLE);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < kOptionBytes + 4 || size > (1u << 20)) return 0;
    const size_t file_size = size - kOptionBytes;
    const Options o = options_from(fuzz::Tail{data + file_size, kOptionBytes});
    // The portable loops over zero-filled heap blocks give the transcript
    // that every vector level this processor has must give over blocks
    // filled with ones.
    iff::cap_cpu_level(iff::CpuLevel::portable);
    iff::heap_fill_pattern(0x00);
    const Transcript portable = run(data, file_size, o);
    iff::heap_fill_pattern(0xFF);
    for (int level = 1; level <= int(iff::processor_cpu_level()); ++level) {
        iff::cap_cpu_level(iff::CpuLevel(level));
        FUZZ_CHECK(run(data, file_size, o) == portable);
    }
    iff::cap_cpu_level(iff::CpuLevel::avx512);
    iff::heap_fill_pattern(-1);
    return 0;
}
