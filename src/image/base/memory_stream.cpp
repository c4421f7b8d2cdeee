#include "memory_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>

namespace image {

namespace {

// Stream positions travel as int32 through the callbacks.
constexpr size_t kMaxSize = static_cast<size_t>(std::numeric_limits<int32_t>::max());

// The library refers to a stream by a small integer, its slot here plus one.
// Every open stream holds a slot until it is closed; streams are opened on
// several threads.
constexpr int32_t kSlots = 1024;
MemoryStream *g_slots[kSlots] = {};
std::mutex g_slots_lock;

// Create-file flags that the library passes when writing (0x0200 truncate).
constexpr int32_t kOpenTruncate = 0x0200;

MemoryStream *find(int32_t stream) {
    std::lock_guard<std::mutex> guard(g_slots_lock);
    return stream >= 1 && stream <= kSlots ? g_slots[stream - 1] : nullptr;
}

int32_t IFF_CALLBACK stream_open(const void *source, int32_t flags, int32_t permission) {
    auto *s = const_cast<MemoryStream *>(static_cast<const MemoryStream *>(source));
    if (s == nullptr) {
        return -1;
    }
    s->open_source = source;
    s->open_flags = flags;
    s->open_permission = permission;
    if (s->fail_open) {
        return -1;
    }
    std::lock_guard<std::mutex> guard(g_slots_lock);
    for (int32_t slot = 0; slot < kSlots; ++slot) {
        if (g_slots[slot] == nullptr) {
            g_slots[slot] = s;
            ++s->opens;
            s->position = 0;
            if ((flags & kOpenTruncate) != 0) {
                s->data.clear(); // its capacity stays, for the next file
            }
            return slot + 1;
        }
    }
    return -1;
}

int32_t IFF_CALLBACK stream_close(int32_t stream) {
    std::lock_guard<std::mutex> guard(g_slots_lock);
    if (stream < 1 || stream > kSlots || g_slots[stream - 1] == nullptr) {
        return -1;
    }
    MemoryStream *s = g_slots[stream - 1];
    g_slots[stream - 1] = nullptr;
    ++s->closes;
    return s->close_result;
}

int32_t IFF_CALLBACK stream_read(int32_t stream, void *buffer, int32_t count) {
    MemoryStream *s = find(stream);
    return s != nullptr ? s->read(buffer, count) : -1;
}

int32_t IFF_CALLBACK stream_write(int32_t stream, const void *buffer, int32_t count) {
    MemoryStream *s = find(stream);
    return s != nullptr ? s->write(buffer, count) : -1;
}

int32_t IFF_CALLBACK stream_seek(int32_t stream, int32_t offset, int32_t origin) {
    MemoryStream *s = find(stream);
    return s != nullptr ? s->seek(offset, origin) : -1;
}

} // namespace

MemoryStream::MemoryStream(PastEnd past_end)
    : ops{stream_open, stream_close, stream_read, stream_write, stream_seek}, past_end_(past_end) {}

MemoryStream::MemoryStream(std::vector<uint8_t> bytes) : MemoryStream() {
    data = std::move(bytes);
}

MemoryStream::MemoryStream(ByteView view, ByteView front) : MemoryStream(PastEnd::Clamp) {
    view_ = view;
    front_ = front;
    read_only_ = true;
}

MemoryStream::~MemoryStream() {
    std::lock_guard<std::mutex> guard(g_slots_lock);
    std::replace(g_slots, g_slots + kSlots, this, static_cast<MemoryStream *>(nullptr));
}

bool MemoryStream::fails(uint32_t call, uint32_t at) {
    const bool failing = at != 0 && (call == at || (failures_stay && call > at));
    failure_injected = failure_injected || failing;
    return failing;
}

int32_t MemoryStream::read(void *buffer, int32_t count) {
    if (count < 0 || (buffer == nullptr && count > 0)) {
        return -1;
    }
    if (record) {
        reads.push_back(count);
    }
    if (fails(++read_calls, fail_read_at)) {
        return -1;
    }
    const ByteView bytes = contents();
    const auto at = static_cast<size_t>(position);
    if (at >= bytes.size()) {
        return 0;
    }
    const size_t moved =
        std::min({static_cast<size_t>(count), bytes.size() - at, static_cast<size_t>(std::max(max_read, 0))});
    const size_t in_front = at < front_.size() ? std::min(moved, front_.size() - at) : 0;
    if (in_front > 0) {
        std::memcpy(buffer, front_.data() + at, in_front);
    }
    if (moved > in_front) {
        std::memcpy(static_cast<uint8_t *>(buffer) + in_front, bytes.data() + at + in_front, moved - in_front);
    }
    position += static_cast<int64_t>(moved);
    return static_cast<int32_t>(moved);
}

int32_t MemoryStream::write(const void *buffer, int32_t count) {
    if (read_only_ || count < 0 || (buffer == nullptr && count > 0)) {
        return -1;
    }
    if (record) {
        writes.push_back(count);
    }
    int64_t n = fails(++write_calls, fail_write_at) ? count / 2 : count;
    if (write_budget >= 0) {
        n = std::min(n, write_budget);
        write_budget -= n;
    }
    // A stream never grows past what a position can express; the library
    // sees the short count and reports a failed write.
    const auto at = static_cast<size_t>(position);
    const size_t moved = at >= kMaxSize ? 0 : std::min(static_cast<size_t>(n), kMaxSize - at);
    if (moved == 0) {
        return 0;
    }
    if (at + moved > data.size()) {
        data.resize(at + moved); // a gap left by an extending seek reads as zeros
    }
    std::memcpy(data.data() + at, buffer, moved);
    position += static_cast<int64_t>(moved);
    return static_cast<int32_t>(moved);
}

int32_t MemoryStream::seek(int32_t offset, int32_t origin) {
    ++seeks;
    if (fails(static_cast<uint32_t>(seeks), fail_seek_at)) {
        return -1;
    }
    int64_t base = 0;
    switch (origin) {
    case 0: base = 0; break;
    case 1: base = position; break;
    case 2: base = static_cast<int64_t>(contents().size()); break;
    default: return -1;
    }
    int64_t target = base + offset;
    if (target < 0 || target > static_cast<int64_t>(kMaxSize)) {
        return -1;
    }
    const auto size = static_cast<int64_t>(contents().size());
    if (past_end_ == PastEnd::Clamp && target > size) {
        target = size;
    }
    position = target;
    return static_cast<int32_t>(target);
}

} // namespace image
