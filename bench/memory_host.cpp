#include "memory_host.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace bench {
namespace {

// Stream value - 1 -> host; the benchmarks run on one thread.
constexpr int32_t kSlots = 16;
MemoryHost *slots[kSlots];

MemoryHost *host_of(int32_t stream) {
    return stream >= 1 && stream <= kSlots ? slots[stream - 1] : nullptr;
}

int32_t host_open(const void *source, int32_t, int32_t) {
    auto *host = const_cast<MemoryHost *>(static_cast<const MemoryHost *>(source));
    for (int32_t i = 0; i < kSlots; ++i) {
        if (slots[i] == nullptr) {
            slots[i] = host;
            host->position = 0;
            if (host->output) host->output->clear();
            return i + 1;
        }
    }
    return -1;
}

int32_t host_close(int32_t stream) {
    if (host_of(stream) == nullptr) return -1;
    slots[stream - 1] = nullptr;
    return 0;
}

size_t host_size(const MemoryHost &h) {
    return h.output ? h.output->size() : h.input_size;
}

int32_t host_read(int32_t stream, void *buffer, int32_t count) {
    MemoryHost *h = host_of(stream);
    if (h == nullptr || h->input == nullptr || count < 0) return -1;
    const size_t left = h->input_size > h->position ? h->input_size - h->position : 0;
    const size_t n = std::min(left, size_t(count));
    std::memcpy(buffer, h->input + h->position, n);
    h->position += n;
    return int32_t(n);
}

int32_t host_write(int32_t stream, const void *buffer, int32_t count) {
    MemoryHost *h = host_of(stream);
    if (h == nullptr || h->output == nullptr || count < 0) return -1;
    std::vector<uint8_t> &out = *h->output;
    if (h->position + size_t(count) > out.size()) out.resize(h->position + size_t(count));
    std::memcpy(out.data() + h->position, buffer, size_t(count));
    h->position += size_t(count);
    return count;
}

int32_t host_seek(int32_t stream, int32_t offset, int32_t origin) {
    MemoryHost *h = host_of(stream);
    if (h == nullptr) return -1;
    const int64_t base = origin == 0 ? 0 : origin == 1 ? int64_t(h->position) : int64_t(host_size(*h));
    const int64_t at = base + offset;
    if (at < 0 || at > INT32_MAX) return -1;
    h->position = size_t(at);
    return int32_t(at);
}

} // namespace

MemoryHost::MemoryHost() : ops{host_open, host_close, host_read, host_write, host_seek} {}

MemoryHost::MemoryHost(const uint8_t *data, size_t size) : MemoryHost() {
    input = data;
    input_size = size;
}

MemoryHost::MemoryHost(std::vector<uint8_t> &out) : MemoryHost() {
    output = &out;
}

} // namespace bench
