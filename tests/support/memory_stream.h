// A host stream in memory, passed to IFFOpen with IFF_MODE_STREAMS. It records
// what the library asks of it and can be told to fall short.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "iffpcx.h"

namespace test {

struct MemoryStream {
    IFFStreamOps ops; // first, as the library reads the record
    std::vector<uint8_t> data;
    int64_t position = 0;

    // Knobs.
    int32_t max_read = INT32_MAX; // most bytes one read returns
    int64_t write_budget = -1;    // bytes writes take before falling short (-1: no limit)
    int32_t fail_seek_call = 0;   // the seek call of this number (from 1) and later ones fail
    bool fail_open = false;
    int32_t close_result = 0;

    // What the library did.
    const void *open_source = nullptr;
    int32_t open_flags = -1, open_permission = -1;
    int32_t opens = 0, closes = 0, seeks = 0;
    std::vector<int32_t> reads;  // counts asked
    std::vector<int32_t> writes; // counts asked

    MemoryStream();
    explicit MemoryStream(std::vector<uint8_t> bytes);
    ~MemoryStream();
    MemoryStream(const MemoryStream &) = delete;
    MemoryStream &operator=(const MemoryStream &) = delete;

    const void *source() const { return this; }
    bool is_open() const { return opens > closes; }
};

std::vector<uint8_t> read_file(const std::string &path);

} // namespace test
