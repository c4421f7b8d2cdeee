#include "file_bytes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace iffpcx_check {

iffpcx_status read_whole_file(const char *path, uint64_t max_bytes, std::vector<uint8_t> &bytes, std::string &reason) {
    std::FILE *file = std::fopen(path, "rb");
    if (file == nullptr) {
        reason = std::string("cannot open: ") + std::strerror(errno);
        return IFFPCX_ERR_READ;
    }
    // Read in pieces, so a file that grows or lies about its size costs no
    // more than max_bytes.
    uint8_t piece[65536];
    iffpcx_status status = IFFPCX_OK;
    for (;;) {
        const size_t got = std::fread(piece, 1, sizeof piece, file);
        if (bytes.size() + got > max_bytes) {
            reason = "larger than " + std::to_string(max_bytes) + " bytes";
            status = IFFPCX_ERR_LIMIT;
            break;
        }
        bytes.insert(bytes.end(), piece, piece + got);
        if (got < sizeof piece) {
            if (std::ferror(file) != 0) {
                reason = std::string("cannot read: ") + std::strerror(errno);
                status = IFFPCX_ERR_READ;
            }
            break;
        }
    }
    std::fclose(file);
    return status;
}

iffpcx_status write_whole_file(const char *path, const uint8_t *data, size_t size, std::string &reason) {
    const std::string temporary = std::string(path) + ".partial";
    std::FILE *file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        reason = std::string("cannot create: ") + std::strerror(errno);
        return IFFPCX_ERR_WRITE;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), path) != 0) {
        reason = std::string("cannot write: ") + std::strerror(errno);
        std::remove(temporary.c_str());
        return IFFPCX_ERR_WRITE;
    }
    return IFFPCX_OK;
}

} // namespace iffpcx_check
