// File callbacks over POSIX descriptors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_streams.h"

namespace iff {
namespace {

constexpr int32_t kReadWrite = 0x0002;
constexpr int32_t kCreate = 0x0100;

int32_t IFF_CALLBACK file_open(const void *source, int32_t flags, int32_t /*permission*/) {
    if (source == nullptr) return -1;
    int oflags = (flags & kReadWrite) ? O_RDWR : O_RDONLY;
    if (flags & kCreate) oflags |= O_CREAT | O_TRUNC;
    oflags |= O_CLOEXEC;
    int fd;
    do {
        fd = ::open(static_cast<const char *>(source), oflags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? -1 : fd;
}

int32_t IFF_CALLBACK file_close(int32_t stream) {
    return ::close(stream) == 0 ? 0 : -1;
}

int32_t IFF_CALLBACK file_read(int32_t stream, void *buffer, int32_t count) {
    if (count <= 0) return 0;
    ssize_t n;
    do {
        n = ::read(stream, buffer, size_t(count));
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : int32_t(n);
}

int32_t IFF_CALLBACK file_write(int32_t stream, const void *buffer, int32_t count) {
    if (count <= 0) return 0;
    // A plain write may stop short (signals, pipes); keep going so a short
    // result only ever means the stream could take no more.
    const char *bytes = static_cast<const char *>(buffer);
    int32_t done = 0;
    while (done < count) {
        ssize_t n = ::write(stream, bytes + done, size_t(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return done > 0 ? done : -1;
        done += int32_t(n);
    }
    return done;
}

int32_t IFF_CALLBACK file_seek(int32_t stream, int32_t offset, int32_t origin) {
    int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : -1;
    if (whence < 0) return -1;
    off_t at = ::lseek(stream, off_t(offset), whence);
    if (at < 0 || at > off_t(INT32_MAX)) return -1;
    return int32_t(at);
}

const IFFStreamOps kFileOps = {file_open, file_close, file_read, file_write, file_seek};

} // namespace

const IFFStreamOps &file_stream_ops() {
    return kFileOps;
}

} // namespace iff
