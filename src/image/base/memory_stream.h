// A byte buffer that the library reads and writes through IFFStreamOps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "byte_view.h"
#include "iffpcx.h"

namespace image {

class MemoryStream {
  public:
    // What a seek beyond the end does. Clamp stops at the end, so nothing
    // written afterwards leaves a hole; Extend moves there like a file does,
    // and a later write fills the gap with zeros.
    enum class PastEnd { Clamp, Extend };

    explicit MemoryStream(PastEnd past_end = PastEnd::Clamp) : past_end_(past_end) {}
    explicit MemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    // Reads someone else's bytes, which must outlive the stream; writes fail.
    // Bytes of `front`, when given, stand in for the first of them (a header
    // read differently), and must outlive the stream too.
    explicit MemoryStream(ByteView view, ByteView front = ByteView()) : view_(view), front_(front), read_only_(true) {}

    const std::vector<uint8_t> &bytes() const { return bytes_; }
    ByteView contents() const { return read_only_ ? view_ : ByteView(bytes_); }
    // Hands the bytes over, leaving the stream empty.
    std::vector<uint8_t> release() { return std::move(bytes_); }
    void reserve(size_t size) { bytes_.reserve(size); }

    // Called on open: position 0, and for a create also an empty buffer.
    void reset(bool truncate);

    int32_t read(void *buffer, int32_t count);
    int32_t write(const void *buffer, int32_t count);
    int32_t seek(int32_t offset, int32_t origin);

  private:
    std::vector<uint8_t> bytes_;
    ByteView view_;
    ByteView front_; // no longer than view_
    bool read_only_ = false;
    size_t position_ = 0;
    PastEnd past_end_ = PastEnd::Clamp;
};

// The record handed to IFFOpen with IFF_MODE_STREAMS: the library copies the
// callback table at its start and passes the record back to the open
// callback, which finds the stream behind it.
struct StreamSource {
    IFFStreamOps ops;
    MemoryStream *stream;
};

StreamSource make_stream_source(MemoryStream &stream);

} // namespace image
