#include "image/tiff/tiff_streams.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace iff::tiff {

namespace {

// The new position for a seek, or UINT64_MAX when it would fall before the start.
uint64_t seek_target(uint64_t position, uint64_t size, toff_t offset, int whence) {
    const auto signed_offset = int64_t(offset); // libtiff passes negative offsets this way
    const uint64_t base = whence == SEEK_CUR ? position : whence == SEEK_END ? size : 0;
    if (whence == SEEK_SET) return offset;
    if (signed_offset < 0 && uint64_t(-signed_offset) > base) return UINT64_MAX;
    return base + uint64_t(signed_offset);
}

MemoryStream &memory(thandle_t handle) {
    return *static_cast<MemoryStream *>(handle);
}
FileStream &file(thandle_t handle) {
    return *static_cast<FileStream *>(handle);
}

tmsize_t memory_read(thandle_t handle, void *buffer, tmsize_t count) {
    MemoryStream &s = memory(handle);
    const uint8_t *bytes = s.input != nullptr ? s.input : s.data;
    if (count <= 0 || s.position >= s.size) return 0;
    const uint64_t n = std::min<uint64_t>(uint64_t(count), s.size - s.position);
    std::memcpy(buffer, bytes + s.position, size_t(n));
    s.position += n;
    return tmsize_t(n);
}

// Capacity for at least `needed` bytes, grown by half again each time so that a
// file written in many pieces is copied a bounded number of times.
bool memory_reserve(MemoryStream &s, uint64_t needed) {
    if (needed <= s.capacity) return true;
    uint64_t capacity = std::max<uint64_t>({needed, s.capacity + s.capacity / 2, 65536});
    if (capacity > uint64_t(SIZE_MAX / 2)) return false;
    auto *grown = static_cast<uint8_t *>(std::realloc(s.data, size_t(capacity)));
    if (grown == nullptr) return false;
    s.data = grown;
    s.capacity = capacity;
    return true;
}

tmsize_t memory_write(thandle_t handle, void *buffer, tmsize_t count) {
    MemoryStream &s = memory(handle);
    if (s.input != nullptr || count < 0) return 0;
    const uint64_t end = s.position + uint64_t(count);
    if (!memory_reserve(s, end)) {
        s.out_of_memory = true;
        return 0;
    }
    if (s.position > s.size) std::memset(s.data + s.size, 0, size_t(s.position - s.size)); // a seek past the end
    std::memcpy(s.data + s.position, buffer, size_t(count));
    s.position = end;
    s.size = std::max(s.size, end);
    return count;
}

toff_t memory_seek(thandle_t handle, toff_t offset, int whence) {
    MemoryStream &s = memory(handle);
    const uint64_t target = seek_target(s.position, s.size, offset, whence);
    if (target == UINT64_MAX) return toff_t(-1);
    s.position = target;
    return target;
}

toff_t memory_size(thandle_t handle) {
    return memory(handle).size;
}

// Input in memory is read in place, as a mapped file would be.
int memory_map(thandle_t handle, void **base, toff_t *size) {
    MemoryStream &s = memory(handle);
    if (s.input == nullptr) return 0;
    *base = const_cast<uint8_t *>(s.input);
    *size = s.size;
    return 1;
}

void no_unmap(thandle_t, void *, toff_t) {}
int no_map(thandle_t, void **, toff_t *) {
    return 0;
}
int closed(thandle_t) {
    return 0;
} // the owner closes what it opened

void note_failure(FileStream &s) {
    if (s.failure == 0) s.failure = errno != 0 ? errno : -1;
}

// Puts the C stream at the position libtiff stands at; a switch between
// reading and writing needs a seek in between too.
bool file_place(FileStream &s) {
    if (s.placed) return true;
    errno = 0;
    if (s.position > uint64_t(LONG_MAX) || std::fseek(s.file, long(s.position), SEEK_SET) != 0) {
        note_failure(s);
        return false;
    }
    s.placed = true;
    return true;
}

tmsize_t file_read(thandle_t handle, void *buffer, tmsize_t count) {
    FileStream &s = file(handle);
    if (count <= 0 || !file_place(s)) return 0;
    const size_t n = std::fread(buffer, 1, size_t(count), s.file);
    s.position += n;
    s.placed = false; // the next write needs a seek first
    return tmsize_t(n);
}

tmsize_t file_write(thandle_t handle, void *buffer, tmsize_t count) {
    FileStream &s = file(handle);
    if (count <= 0 || !file_place(s)) return 0;
    errno = 0;
    const size_t n = std::fwrite(buffer, 1, size_t(count), s.file);
    if (n != size_t(count)) note_failure(s);
    s.position += n;
    s.size = std::max(s.size, s.position);
    return tmsize_t(n);
}

toff_t file_seek(thandle_t handle, toff_t offset, int whence) {
    FileStream &s = file(handle);
    const uint64_t target = seek_target(s.position, s.size, offset, whence);
    if (target == UINT64_MAX) return toff_t(-1);
    if (target != s.position) s.placed = false;
    s.position = target;
    return target;
}

toff_t file_size(thandle_t handle) {
    return file(handle).size;
}

} // namespace

MemoryStream::~MemoryStream() {
    std::free(data);
}

TIFF *open_tiff(MemoryStream &stream, const char *name, const char *mode, TIFFOpenOptions *options) {
    return TIFFClientOpenExt(name, mode, &stream, memory_read, memory_write, memory_seek, closed, memory_size,
                             memory_map, no_unmap, options);
}

TIFF *open_tiff(FileStream &stream, const char *name, const char *mode, TIFFOpenOptions *options) {
    stream.placed = false;
    return TIFFClientOpenExt(name, mode, &stream, file_read, file_write, file_seek, closed, file_size, no_map, no_unmap,
                             options);
}

} // namespace iff::tiff
