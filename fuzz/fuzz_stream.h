// A stream in memory for the fuzz targets. Reads return at most `chunk`
// bytes, so the library's refills land anywhere in a file; the read, write or
// seek call of a chosen number fails (once, or that one and every later one).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "iffpcx.h"

namespace fuzz {

struct FuzzStream {
    IFFStreamOps ops; // first: the library reads the record through the source pointer
    std::vector<uint8_t> bytes;
    int64_t position = 0;
    int32_t chunk = 0;          // most bytes one read returns; 0: no limit
    uint32_t fail_read_at = 0;  // call numbers from 1; 0: never
    uint32_t fail_write_at = 0; // a failing write takes half of what it is given
    uint32_t fail_seek_at = 0;
    bool failures_stay = false; // every call after the failing one fails too
    uint32_t reads = 0, writes = 0, seeks = 0;
    bool failure_injected = false;
    bool is_open = false;

    FuzzStream();
    ~FuzzStream();
    FuzzStream(const FuzzStream &) = delete;
    FuzzStream &operator=(const FuzzStream &) = delete;

    void stop_failing() { fail_read_at = fail_write_at = fail_seek_at = 0; }
    bool fails(uint32_t call, uint32_t at) {
        const bool failing = at != 0 && (call == at || (failures_stay && call > at));
        failure_injected = failure_injected || failing;
        return failing;
    }
};

namespace detail {

// Stream values are slots in this table plus one; a target has few streams open.
constexpr int32_t kSlots = 8;
inline FuzzStream *slots[kSlots];

inline FuzzStream *find(int32_t stream) {
    return stream >= 1 && stream <= kSlots ? slots[stream - 1] : nullptr;
}

inline int32_t open(const void *source, int32_t flags, int32_t) {
    auto *s = const_cast<FuzzStream *>(static_cast<const FuzzStream *>(source));
    for (int32_t i = 0; i < kSlots; ++i) {
        if (slots[i] != nullptr) continue;
        slots[i] = s;
        s->is_open = true;
        s->position = 0;
        if (flags & 0x0200) s->bytes.clear();
        return i + 1;
    }
    return -1;
}

inline int32_t close(int32_t stream) {
    FuzzStream *s = find(stream);
    if (s == nullptr) return -1;
    slots[stream - 1] = nullptr;
    s->is_open = false;
    return 0;
}

inline int32_t read(int32_t stream, void *buffer, int32_t count) {
    FuzzStream *s = find(stream);
    if (s == nullptr || count < 0 || s->fails(++s->reads, s->fail_read_at)) return -1;
    int64_t n = int64_t(s->bytes.size()) - s->position;
    if (n > count) n = count;
    if (s->chunk > 0 && n > s->chunk) n = s->chunk;
    if (n <= 0) return 0;
    std::memcpy(buffer, s->bytes.data() + s->position, size_t(n));
    s->position += n;
    return int32_t(n);
}

inline int32_t write(int32_t stream, const void *buffer, int32_t count) {
    FuzzStream *s = find(stream);
    if (s == nullptr || count < 0) return -1;
    const int32_t n = s->fails(++s->writes, s->fail_write_at) ? count / 2 : count;
    if (n == 0) return 0;
    const size_t end = size_t(s->position) + size_t(n);
    if (end > s->bytes.size()) s->bytes.resize(end, 0);
    std::memcpy(s->bytes.data() + s->position, buffer, size_t(n));
    s->position = int64_t(end);
    return n;
}

inline int32_t seek(int32_t stream, int32_t offset, int32_t origin) {
    FuzzStream *s = find(stream);
    if (s == nullptr || origin < 0 || origin > 2 || s->fails(++s->seeks, s->fail_seek_at)) return -1;
    const int64_t base = origin == 0 ? 0 : origin == 1 ? s->position : int64_t(s->bytes.size());
    const int64_t at = base + offset;
    if (at < 0 || at > INT32_MAX) return -1;
    s->position = at;
    return int32_t(at);
}

} // namespace detail

inline FuzzStream::FuzzStream() : ops{detail::open, detail::close, detail::read, detail::write, detail::seek} {}

inline FuzzStream::~FuzzStream() {
    for (auto &slot : detail::slots)
        if (slot == this) slot = nullptr;
}

// Options taken from the input's last bytes, so a mutation of the file part
// keeps them and a mutation of the tail explores them.
struct Tail {
    const uint8_t *bytes;
    size_t size;
    uint8_t operator[](size_t i) const { return i < size ? bytes[i] : 0; }
    uint16_t u16(size_t i) const { return uint16_t((*this)[i] | ((*this)[i + 1] << 8)); }
};

} // namespace fuzz
