// What the check tests share: a report in plain C++ terms, and every page of
// a file decoded through the line library for comparing before and after.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "iffpcx.h"
#include "iffpcx_check.h"

namespace check_test {

struct Judged {
    iffpcx_status status = IFFPCX_OK;
    std::string format, format_id;
    int32_t version = -1;
    std::string verdict;
    uint32_t pages = 0;
    std::set<std::string> ids;
    std::vector<iffpcx_finding> findings;    // message pointers cleared
    std::vector<std::vector<uint8_t>> spans; // each page's bytes
    // The offset of the first finding of id, or UINT64_MAX.
    uint64_t offset_of(const std::string &id) const;
};

Judged judge(const std::vector<uint8_t> &file, bool strict = false);

// A file, or each page of a file as the checker finds it, through the six
// entry points; empty when the file does not open.

struct DecodedPage {
    IFFImageInfo info{};
    int32_t dpi[2] = {0, 0};
    std::vector<uint8_t> palette;
    std::vector<uint8_t> pixels; // lines in the interleaved layout
    bool operator==(const DecodedPage &other) const;
};

std::vector<DecodedPage> decode_all(const std::vector<uint8_t> &file);
std::vector<DecodedPage> decode_pages_alone(const std::vector<uint8_t> &file);

struct Repaired {
    iffpcx_status status = IFFPCX_OK;
    std::vector<uint8_t> bytes;
    std::vector<std::string> changes;
    std::string message;
};

Repaired repair(const std::vector<uint8_t> &file);

} // namespace check_test
