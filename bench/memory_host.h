// A host stream over memory for the benchmarks: reads from a fixed block,
// writes into a vector whose capacity is kept between runs. No logging, no
// locks, so the callbacks cost next to nothing beside the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "iffpcx.h"

namespace bench {

struct MemoryHost {
    IFFStreamOps ops; // first, as the library reads the record
    const uint8_t *input = nullptr;
    size_t input_size = 0;
    std::vector<uint8_t> *output = nullptr;
    size_t position = 0;

    MemoryHost();
    // Reading from size bytes at data.
    MemoryHost(const uint8_t *data, size_t size);
    // Writing into out, which is emptied at open.
    explicit MemoryHost(std::vector<uint8_t> &out);

    const void *source() const { return this; }
};

} // namespace bench
