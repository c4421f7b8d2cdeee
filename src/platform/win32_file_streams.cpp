// File callbacks over Windows file handles: CreateFileA to open, the
// unbuffered _l* calls for the rest. They move bytes as they are, with no
// line-end translation, so written images and palettes stay exact.
#include <windows.h>

#include "platform/file_streams.h"

namespace iff {
namespace {

constexpr int32_t kReadWrite = 0x0002;
constexpr int32_t kCreate = 0x0100;

int32_t IFF_CALLBACK file_open(const void *source, int32_t flags, int32_t /*permission*/) {
    if (source == nullptr) return -1;
    const DWORD access = (flags & kReadWrite) ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    const DWORD disposition = (flags & kCreate) ? CREATE_ALWAYS : OPEN_EXISTING;
    HANDLE file = CreateFileA(static_cast<const char *>(source), access, FILE_SHARE_READ, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    // A file handle is the _l* calls' HFILE, a 32-bit value: all of it in a
    // 32-bit process, its significant part in a 64-bit one (Windows keeps
    // handles in 32 bits so that processes of both widths can share them).
    // The handle itself is the stream value.
    return int32_t(reinterpret_cast<INT_PTR>(file));
}

int32_t IFF_CALLBACK file_close(int32_t stream) {
    return _lclose(HFILE(stream)) == HFILE_ERROR ? -1 : 0;
}

int32_t IFF_CALLBACK file_read(int32_t stream, void *buffer, int32_t count) {
    if (count <= 0) return 0;
    const UINT n = _lread(HFILE(stream), buffer, UINT(count));
    return n == UINT(HFILE_ERROR) ? -1 : int32_t(n);
}

int32_t IFF_CALLBACK file_write(int32_t stream, const void *buffer, int32_t count) {
    // _lwrite of zero bytes cuts the file off at the current position; a
    // write of nothing must leave the file alone.
    if (count <= 0) return 0;
    const UINT n = _lwrite(HFILE(stream), static_cast<LPCCH>(buffer), UINT(count));
    return n == UINT(HFILE_ERROR) ? -1 : int32_t(n);
}

int32_t IFF_CALLBACK file_seek(int32_t stream, int32_t offset, int32_t origin) {
    if (origin < 0 || origin > 2) return -1;
    const LONG at = _llseek(HFILE(stream), LONG(offset), origin);
    return at < 0 ? -1 : int32_t(at);
}

const IFFStreamOps kFileOps = {file_open, file_close, file_read, file_write, file_seek};

} // namespace

const IFFStreamOps &file_stream_ops() {
    return kFileOps;
}

} // namespace iff
