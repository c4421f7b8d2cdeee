#include "support/memory_stream.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

namespace test {
namespace {

std::mutex registry_lock;
std::vector<MemoryStream *> registry; // stream value - 1 -> stream

MemoryStream *lookup(int32_t stream) {
    std::lock_guard<std::mutex> guard(registry_lock);
    if (stream <= 0 || size_t(stream) > registry.size()) return nullptr;
    return registry[size_t(stream) - 1];
}

int32_t memory_open(const void *source, int32_t flags, int32_t permission) {
    auto *s = const_cast<MemoryStream *>(static_cast<const MemoryStream *>(source));
    s->open_source = source;
    s->open_flags = flags;
    s->open_permission = permission;
    if (s->fail_open) return -1;
    ++s->opens;
    s->position = 0;
    if (flags & 0x0200) s->data.clear();
    std::lock_guard<std::mutex> guard(registry_lock);
    registry.push_back(s);
    return int32_t(registry.size());
}

int32_t memory_close(int32_t stream) {
    MemoryStream *s = lookup(stream);
    if (!s) return -1;
    ++s->closes;
    return s->close_result;
}

int32_t memory_read(int32_t stream, void *buffer, int32_t count) {
    MemoryStream *s = lookup(stream);
    if (!s || count < 0) return -1;
    s->reads.push_back(count);
    const int64_t left = std::max<int64_t>(0, int64_t(s->data.size()) - s->position);
    const int32_t n = int32_t(std::min<int64_t>({left, count, s->max_read}));
    if (n > 0) std::memcpy(buffer, s->data.data() + s->position, size_t(n));
    s->position += n;
    return n;
}

int32_t memory_write(int32_t stream, const void *buffer, int32_t count) {
    MemoryStream *s = lookup(stream);
    if (!s || count < 0) return -1;
    s->writes.push_back(count);
    int32_t n = count;
    if (s->write_budget >= 0) {
        n = int32_t(std::min<int64_t>(count, s->write_budget));
        s->write_budget -= n;
    }
    if (size_t(s->position + n) > s->data.size()) s->data.resize(size_t(s->position + n), 0);
    if (n > 0) std::memcpy(s->data.data() + s->position, buffer, size_t(n));
    s->position += n;
    return n;
}

int32_t memory_seek(int32_t stream, int32_t offset, int32_t origin) {
    MemoryStream *s = lookup(stream);
    if (!s) return -1;
    ++s->seeks;
    if (s->fail_seek_call > 0 && s->seeks >= s->fail_seek_call) return -1;
    const int64_t base = origin == 0 ? 0 : origin == 1 ? s->position : int64_t(s->data.size());
    const int64_t at = base + offset;
    if (at < 0 || at > INT32_MAX) return -1;
    s->position = at;
    return int32_t(at);
}

} // namespace

MemoryStream::MemoryStream() : ops{memory_open, memory_close, memory_read, memory_write, memory_seek} {}

MemoryStream::MemoryStream(std::vector<uint8_t> bytes) : MemoryStream() {
    data = std::move(bytes);
}

MemoryStream::~MemoryStream() {
    std::lock_guard<std::mutex> guard(registry_lock);
    std::replace(registry.begin(), registry.end(), this, static_cast<MemoryStream *>(nullptr));
}

std::vector<uint8_t> read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace test
