// Calls through the handle's stream callbacks.
#pragma once

#include <cstdint>

#include "core/handle.h"

namespace iff {

// Open callback arguments: an existing stream read-only, or a new stream
// (created or truncated) for reading and writing; permission octal 666.
constexpr int32_t kOpenExisting = IFF_STREAM_READ;
constexpr int32_t kOpenCreate = IFF_STREAM_CREATE;
constexpr int32_t kOpenPermission = IFF_STREAM_PERMISSION;

enum SeekOrigin : int32_t { kFromStart = IFF_SEEK_SET, kFromCurrent = IFF_SEEK_CUR, kFromEnd = IFF_SEEK_END };

inline int32_t stream_read(IFFHandle &h, void *buffer, int32_t count) {
    return h.stream_ops.read(h.stream, buffer, count);
}
inline int32_t stream_write(IFFHandle &h, const void *buffer, int32_t count) {
    return h.stream_ops.write(h.stream, buffer, count);
}
inline int32_t stream_seek(IFFHandle &h, int32_t offset, int32_t origin) {
    return h.stream_ops.seek(h.stream, offset, origin);
}

// Reads exactly count bytes, in as many calls as the stream takes to give
// them (a pipe or a socket gives a part at a time); false when it ends or
// fails first.
inline bool stream_read_exact(IFFHandle &h, void *buffer, int32_t count) {
    auto *out = static_cast<uint8_t *>(buffer);
    while (count > 0) {
        const int32_t n = stream_read(h, out, count);
        if (n <= 0 || n > count) return false;
        out += n;
        count -= n;
    }
    return true;
}

inline uint32_t load_le16(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
inline uint32_t load_le32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void store_le16(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

} // namespace iff
