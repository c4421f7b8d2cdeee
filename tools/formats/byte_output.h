// Where an image writer puts its file's bytes: in order, or at an offset (so
// that two threads may each fill a part of one file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pcxtool {

class ByteOutput {
  public:
    virtual ~ByteOutput() = default;
    // How messages name the output.
    virtual const std::string &target() const = 0;
    // Failures are thrown, with messages that name the output.
    virtual void write(const uint8_t *data, size_t size) = 0;
    virtual void write_at(uint64_t offset, const uint8_t *data, size_t size) = 0;
};

} // namespace pcxtool
