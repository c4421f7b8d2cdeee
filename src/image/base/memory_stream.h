// Bytes in memory that the line library reads and writes through
// IFFStreamOps: the image layer's files and outputs in memory, and the one
// such stream of the tests, the benchmarks and the fuzz targets, which set
// its knobs to make a host fall short and read what the library asked of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "byte_view.h"
#include "iffpcx.h"

namespace image {

// Every member is public, so that the class has a standard layout and its
// callback table lies at its start, where the library reads it.
class MemoryStream {
  public:
    // What a seek beyond the end does. Extend moves there like a file does,
    // and a later write fills the gap with zeros; Clamp stops at the end.
    enum class PastEnd { Extend, Clamp };

    IFFStreamOps ops; // first: IFFOpen takes the stream itself as its source

    std::vector<uint8_t> data; // the bytes, unless the stream reads a view
    int64_t position = 0;

    // Knobs.
    int32_t max_read = INT32_MAX; // most bytes one read returns
    int64_t write_budget = -1;    // bytes writes take before falling short (-1: no limit)
    uint32_t fail_read_at = 0;    // the read, write or seek call of this number (from 1)
    uint32_t fail_write_at = 0;   // fails, 0 none; a failing write takes half of what it
    uint32_t fail_seek_at = 0;    // is given, a failing read or seek fails outright
    bool failures_stay = false;   // every call after a failing one fails too
    bool fail_open = false;
    int32_t close_result = 0;
    bool record = false; // keep the count each read and write asked for

    // What the library did.
    const void *open_source = nullptr;
    int32_t open_flags = -1;
    int32_t open_permission = -1;
    int32_t opens = 0;
    int32_t closes = 0;
    int32_t seeks = 0;
    uint32_t read_calls = 0;
    uint32_t write_calls = 0;
    std::vector<int32_t> reads; // with `record`: the counts asked
    std::vector<int32_t> writes;
    bool failure_injected = false; // a knob made a call fail

    explicit MemoryStream(PastEnd past_end = PastEnd::Extend);
    explicit MemoryStream(std::vector<uint8_t> bytes);
    // Reads someone else's bytes, which must outlive the stream; writes
    // fail. Bytes of `front`, when given, stand in for the first of them (a
    // header read differently), and must outlive the stream too.
    explicit MemoryStream(ByteView view, ByteView front = ByteView());
    ~MemoryStream();
    MemoryStream(const MemoryStream &) = delete;
    MemoryStream &operator=(const MemoryStream &) = delete;

    const void *source() const { return this; }
    bool is_open() const { return opens > closes; }
    void stop_failing() { fail_read_at = fail_write_at = fail_seek_at = 0; }
    // The bytes, written or viewed.
    ByteView contents() const { return read_only_ ? view_ : ByteView(data); }

    // What the callbacks do, for a caller that reads or writes where the
    // library's next call would.
    int32_t read(void *buffer, int32_t count);
    int32_t write(const void *buffer, int32_t count);
    int32_t seek(int32_t offset, int32_t origin);

    // Whether the call of this number fails by the knobs.
    bool fails(uint32_t call, uint32_t at);

    // Set by the constructors.
    ByteView view_;
    ByteView front_; // no longer than view_
    bool read_only_ = false;
    PastEnd past_end_ = PastEnd::Extend;
};

static_assert(std::is_standard_layout<MemoryStream>::value, "the callback table must lie at the start");

} // namespace image
