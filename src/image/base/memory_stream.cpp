#include "memory_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>

namespace image {

namespace {

// Stream positions travel as int32 through the callbacks.
constexpr size_t kMaxSize = static_cast<size_t>(std::numeric_limits<int32_t>::max());

// The library refers to a stream by a small integer; the table maps it back.
// Every open file holds a slot as long as its handle is open.
constexpr int32_t kStreamSlots = 1024;
MemoryStream *g_streams[kStreamSlots] = {};

// Create-file flags that the library passes when writing (0x0100 create,
// 0x0200 truncate).
constexpr int32_t kOpenTruncate = 0x0200;

// Pages of a file are decoded on several threads, each with a stream of its own.
std::mutex g_streams_lock;

MemoryStream *find_stream(int32_t id) {
    std::lock_guard<std::mutex> guard(g_streams_lock);
    return id >= 0 && id < kStreamSlots ? g_streams[id] : nullptr;
}

int32_t IFF_CALLBACK stream_open(const void *source, int32_t flags, int32_t /*permission*/) {
    const auto *record = static_cast<const StreamSource *>(source);
    if (record == nullptr || record->stream == nullptr) {
        return -1;
    }
    std::lock_guard<std::mutex> guard(g_streams_lock);
    for (int32_t id = 0; id < kStreamSlots; ++id) {
        if (g_streams[id] == nullptr) {
            g_streams[id] = record->stream;
            record->stream->reset((flags & kOpenTruncate) != 0);
            return id;
        }
    }
    return -1;
}

int32_t IFF_CALLBACK stream_close(int32_t id) {
    if (find_stream(id) == nullptr) {
        return -1;
    }
    std::lock_guard<std::mutex> guard(g_streams_lock);
    g_streams[id] = nullptr;
    return 0;
}

int32_t IFF_CALLBACK stream_read(int32_t id, void *buffer, int32_t count) {
    MemoryStream *stream = find_stream(id);
    return stream != nullptr ? stream->read(buffer, count) : -1;
}

int32_t IFF_CALLBACK stream_write(int32_t id, const void *buffer, int32_t count) {
    MemoryStream *stream = find_stream(id);
    return stream != nullptr ? stream->write(buffer, count) : -1;
}

int32_t IFF_CALLBACK stream_seek(int32_t id, int32_t offset, int32_t origin) {
    MemoryStream *stream = find_stream(id);
    return stream != nullptr ? stream->seek(offset, origin) : -1;
}

} // namespace

void MemoryStream::reset(bool truncate) {
    if (truncate && !read_only_) {
        bytes_.clear();
    }
    position_ = 0;
}

int32_t MemoryStream::read(void *buffer, int32_t count) {
    if (count < 0 || (buffer == nullptr && count > 0)) {
        return -1;
    }
    const ByteView bytes = contents();
    if (position_ >= bytes.size()) {
        return 0;
    }
    const size_t moved = std::min(static_cast<size_t>(count), bytes.size() - position_);
    const size_t in_front = position_ < front_.size() ? std::min(moved, front_.size() - position_) : 0;
    if (in_front > 0) {
        std::memcpy(buffer, front_.data() + position_, in_front);
    }
    std::memcpy(static_cast<uint8_t *>(buffer) + in_front, bytes.data() + position_ + in_front, moved - in_front);
    position_ += moved;
    return static_cast<int32_t>(moved);
}

int32_t MemoryStream::write(const void *buffer, int32_t count) {
    if (read_only_ || count < 0 || (buffer == nullptr && count > 0)) {
        return -1;
    }
    // A stream never grows past what a position can express; the library
    // sees the short count and reports a failed write.
    const size_t moved = position_ >= kMaxSize ? 0 : std::min(static_cast<size_t>(count), kMaxSize - position_);
    if (moved == 0) {
        return 0;
    }
    if (position_ + moved > bytes_.size()) {
        bytes_.resize(position_ + moved); // a gap left by an extending seek reads as zeros
    }
    std::memcpy(bytes_.data() + position_, buffer, moved);
    position_ += moved;
    return static_cast<int32_t>(moved);
}

int32_t MemoryStream::seek(int32_t offset, int32_t origin) {
    int64_t base = 0;
    switch (origin) {
    case 0: base = 0; break;
    case 1: base = static_cast<int64_t>(position_); break;
    case 2: base = static_cast<int64_t>(contents().size()); break;
    default: return -1;
    }
    int64_t target = base + offset;
    if (target < 0 || target > static_cast<int64_t>(kMaxSize)) {
        return -1;
    }
    const auto size = static_cast<int64_t>(contents().size());
    if ((past_end_ == PastEnd::Clamp || read_only_) && target > size) {
        target = size;
    }
    position_ = static_cast<size_t>(target);
    return static_cast<int32_t>(target);
}

StreamSource make_stream_source(MemoryStream &stream) {
    StreamSource source{};
    source.ops.open = stream_open;
    source.ops.close = stream_close;
    source.ops.read = stream_read;
    source.ops.write = stream_write;
    source.ops.seek = stream_seek;
    source.stream = &stream;
    return source;
}

} // namespace image
