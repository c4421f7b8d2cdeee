// Whole files in and out, for the path variants of check and repair.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "iffpcx_check.h"

namespace iffpcx_check {

// Reads a file of at most max_bytes; the status says why not.
iffpcx_status read_whole_file(const char *path, uint64_t max_bytes, std::vector<uint8_t> &bytes, std::string &reason);

// Writes bytes beside path and renames them into place, so the file appears
// only complete; nothing is left behind on failure.
iffpcx_status write_whole_file(const char *path, const uint8_t *data, size_t size, std::string &reason);

} // namespace iffpcx_check
