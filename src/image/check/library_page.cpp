#include "library_page.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace iffpcx_check {

// The record IFFOpen receives: the callback table first, then the bytes.
struct ByteSource {
    IFFStreamOps ops;
    Bytes bytes;
};

namespace {

// The library names a stream by a small integer; this table maps it back to
// its bytes. Callers may check files on several threads at once.
constexpr int32_t kSlots = 64;
Bytes *g_slots[kSlots] = {};
uint64_t g_positions[kSlots] = {};

// A spin lock: every hold is a few instructions or one copy, and it needs
// nothing of the platform's thread library.
std::atomic_flag g_slots_busy = ATOMIC_FLAG_INIT;
class SlotsLock {
  public:
    SlotsLock() {
        while (g_slots_busy.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~SlotsLock() { g_slots_busy.clear(std::memory_order_release); }
    SlotsLock(const SlotsLock &) = delete;
    SlotsLock &operator=(const SlotsLock &) = delete;
};

// Both verification pages of a repair are open at once, each on its own slot.
int32_t IFF_CALLBACK open_bytes(const void *source, int32_t, int32_t) {
    auto *record = const_cast<ByteSource *>(static_cast<const ByteSource *>(source));
    const SlotsLock guard;
    for (int32_t id = 0; id < kSlots; ++id) {
        if (g_slots[id] == nullptr) {
            g_slots[id] = &record->bytes;
            g_positions[id] = 0;
            return id;
        }
    }
    return -1;
}

int32_t IFF_CALLBACK close_bytes(int32_t id) {
    const SlotsLock guard;
    if (id < 0 || id >= kSlots || g_slots[id] == nullptr) return -1;
    g_slots[id] = nullptr;
    return 0;
}
int32_t IFF_CALLBACK read_bytes(int32_t id, void *buffer, int32_t count) {
    const SlotsLock guard;
    if (id < 0 || id >= kSlots || g_slots[id] == nullptr || count < 0) return -1;
    const Bytes &bytes = *g_slots[id];
    uint64_t &position = g_positions[id];
    const uint64_t moved = position >= bytes.size ? 0 : std::min<uint64_t>(uint64_t(count), bytes.size - position);
    if (moved > 0) std::memcpy(buffer, bytes.data + position, size_t(moved));
    position += moved;
    return int32_t(moved);
}
int32_t IFF_CALLBACK write_nothing(int32_t, const void *, int32_t) {
    return -1;
}
int32_t IFF_CALLBACK seek_bytes(int32_t id, int32_t offset, int32_t origin) {
    const SlotsLock guard;
    if (id < 0 || id >= kSlots || g_slots[id] == nullptr) return -1;
    const uint64_t size = g_slots[id]->size;
    const int64_t base = origin == 0 ? 0 : origin == 1 ? int64_t(g_positions[id]) : int64_t(size);
    const int64_t target = base + offset;
    if (target < 0 || target > INT32_MAX || origin < 0 || origin > 2) return -1;
    g_positions[id] = std::min<uint64_t>(uint64_t(target), size);
    return int32_t(g_positions[id]);
}

} // namespace

LibraryPage::LibraryPage(Bytes page)
    : source_(new ByteSource{{open_bytes, close_bytes, read_bytes, write_nothing, seek_bytes}, page}) {
    const int32_t handle = IFFOpen(source_, IFF_MODE_READ | IFF_MODE_STREAMS, &info_);
    if (handle > 0) {
        handle_ = handle;
    } else {
        status_ = -handle;
    }
}

LibraryPage::~LibraryPage() {
    if (handle_ > 0) IFFClose(handle_);
    delete source_;
}

std::vector<uint8_t> LibraryPage::palette(uint32_t pixel_format, int32_t &palette_status) {
    std::vector<uint8_t> entries;
    uint16_t size = 0;
    palette_status = IFFControl(handle_, IFF_REQ_PIXEL_FORMAT, pixel_format, 0, nullptr);
    if (palette_status == IFF_OK)
        palette_status = IFFControl(handle_, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &size);
    if (palette_status != IFF_OK || size == 0) return entries;
    entries.resize(size);
    palette_status = IFFControl(handle_, IFF_REQ_PALETTE, 0, 0, entries.data());
    if (palette_status != IFF_OK) entries.clear();
    return entries;
}

bool LibraryPage::same_image(LibraryPage &other, std::string &reason) {
    int32_t dpi[2] = {0, 0}, other_dpi[2] = {0, 0};
    IFFControl(handle_, IFF_REQ_RESOLUTION, 3, 0, dpi);
    IFFControl(other.handle_, IFF_REQ_RESOLUTION, 3, 0, other_dpi);
    if (dpi[0] != other_dpi[0] || dpi[1] != other_dpi[1]) {
        reason = "the resolution differs";
        return false;
    }
    // The interleaved layout keeps every plane of 32-bit pages; other pages
    // read it as values scaled to bytes, which keeps every value apart.
    uint32_t stride = 0, other_stride = 0;
    IFFControl(handle_, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INTERLEAVED, 0, nullptr);
    IFFControl(other.handle_, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INTERLEAVED, 0, nullptr);
    IFFControl(handle_, IFF_REQ_LINE_STRIDE, 0, 0, &stride);
    IFFControl(other.handle_, IFF_REQ_LINE_STRIDE, 0, 0, &other_stride);
    if (stride != other_stride || stride == 0) {
        reason = "the lines differ in length";
        return false;
    }
    std::vector<uint8_t> line(stride), other_line(stride);
    for (int32_t y = 0; y < info_.height; ++y) {
        std::fill(line.begin(), line.end(), 0);
        std::fill(other_line.begin(), other_line.end(), 0);
        const int32_t status = IFFGetLine(handle_, 1, line.data());
        const int32_t other_status = IFFGetLine(other.handle_, 1, other_line.data());
        if (status != other_status || line != other_line) {
            reason = "line " + std::to_string(y) + " differs";
            return false;
        }
    }
    return true;
}

} // namespace iffpcx_check
