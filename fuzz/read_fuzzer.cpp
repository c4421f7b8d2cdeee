// libFuzzer entry: the input is a file; its last byte picks the open mode and
// the sample layouts tried. Every page is described, its palette exported and
// its lines read through the six entry points over a stream in memory.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "iffpcx.h"

namespace {

struct InputStream {
    IFFStreamOps ops;
    const uint8_t *data;
    int64_t size, position;
};
InputStream *current;

int32_t open_input(const void *source, int32_t, int32_t) {
    current = const_cast<InputStream *>(static_cast<const InputStream *>(source));
    current->position = 0;
    return 1;
}
int32_t close_input(int32_t) { return 0; }
int32_t read_input(int32_t, void *buffer, int32_t count) {
    const int64_t left = current->size - current->position;
    const int32_t n = int32_t(count < left ? count : left);
    if (n > 0) std::memcpy(buffer, current->data + current->position, size_t(n));
    current->position += n > 0 ? n : 0;
    return n > 0 ? n : 0;
}
int32_t write_input(int32_t, const void *, int32_t) { return -1; }
int32_t seek_input(int32_t, int32_t offset, int32_t origin) {
    const int64_t at = (origin == 0 ? 0 : origin == 1 ? current->position : current->size) + offset;
    if (at < 0) return -1;
    current->position = at;
    return int32_t(at);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2 || size > (1u << 20)) return 0;
    const uint8_t options = data[size - 1];
    InputStream input{{open_input, close_input, read_input, write_input, seek_input}, data, int64_t(size - 1), 0};
    IFFImageInfo info{};
    const int32_t h = IFFOpen(&input, ((options & 1) ? 3u : 0u) | IFF_MODE_STREAMS, &info);
    if (h <= 0) return 0;
    uint16_t pages = 1;
    IFFControl(h, IFF_REQ_PAGE_COUNT, 0, 0, &pages);
    const int32_t formats[] = {0, 1, 2, 3, 4096, 4097, 4099, 7};
    for (int page = 0; page < pages && page < 3; ++page) {
        if (page > 0 && IFFControl(h, IFF_REQ_SELECT_PAGE, 0, page, nullptr) != IFF_OK) continue;
        const int32_t format = formats[(options >> 1) & 7];
        IFFControl(h, IFF_REQ_PIXEL_FORMAT, uint32_t(uint16_t(format)), 0, nullptr);
        uint16_t palette_size = 0, line_size = 0;
        IFFControl(h, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &palette_size);
        std::vector<uint8_t> palette(palette_size);
        IFFControl(h, IFF_REQ_PALETTE, 0, 0, palette.data());
        IFFControl(h, IFF_REQ_LINE_SIZE, 0, 0, &line_size);
        // A line never delivers more than its stride, at most 16 bytes a pixel.
        const size_t stride = 16 * size_t(info.width > 0 ? info.width : 0);
        std::vector<uint8_t> lines(2 * stride + line_size);
        for (int y = 0; y < info.height && y < 256; y += 2)
            if (IFFGetLine(h, 2, lines.data()) != IFF_OK) break;
        IFFSeek(h, options & 0x10 ? 1 : 0);
    }
    IFFClose(h);
    return 0;
}
