// The byte stores libtiff reads and writes through (TIFFClientOpen): memory
// that grows as a file is written or is read in place, and a C stream for
// files, whose failures are kept so that they can be named.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <tiffio.h>

namespace iff::tiff {

struct MemoryStream {
    const uint8_t *input = nullptr; // reading: the caller's bytes, not copied
    uint8_t *data = nullptr;        // writing: the file so far, owned
    uint64_t size = 0;
    uint64_t capacity = 0;
    uint64_t position = 0;
    bool out_of_memory = false;

    MemoryStream() = default;
    MemoryStream(const void *bytes, size_t length) : input(static_cast<const uint8_t *>(bytes)), size(length) {}
    MemoryStream(const MemoryStream &) = delete;
    MemoryStream &operator=(const MemoryStream &) = delete;
    ~MemoryStream();
};

struct FileStream {
    std::FILE *file = nullptr; // not owned
    uint64_t size = 0;         // bytes in the file
    uint64_t position = 0;     // where libtiff stands
    bool placed = false;       // the C stream stands at position and may switch between reading and writing
    int failure = 0;           // errno of the first failed call, or -1 for a short transfer
};

// A TIFF over the stream; nullptr on failure (libtiff's reason in the
// options' handlers). The stream must outlive the TIFF.
TIFF *open_tiff(MemoryStream &stream, const char *name, const char *mode, TIFFOpenOptions *options);
TIFF *open_tiff(FileStream &stream, const char *name, const char *mode, TIFFOpenOptions *options);

} // namespace iff::tiff
