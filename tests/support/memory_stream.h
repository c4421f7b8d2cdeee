// The host stream of the tests: the image layer's memory stream
// (image/base/memory_stream.h), passed to IFFOpen with IFF_MODE_STREAMS,
// which records what the library asks of it and can be told to fall short.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/base/memory_stream.h"

namespace test {

// Records every read's and write's count, as the tests read them.
struct MemoryStream : image::MemoryStream {
    MemoryStream() { record = true; }
    explicit MemoryStream(std::vector<uint8_t> bytes) : image::MemoryStream(std::move(bytes)) { record = true; }
};

std::vector<uint8_t> read_file(const std::string &path);

} // namespace test
