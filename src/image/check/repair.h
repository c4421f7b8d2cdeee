// Repair: a file rebuilt from a scan so that it checks valid and decodes the
// same through the line library.
#pragma once

#include <string>
#include <vector>

#include "check_limits.h"
#include "scan.h"

namespace iffpcx_check {

struct Repair {
    std::vector<uint8_t> bytes;
    std::vector<std::string> changes;
    std::string reason; // why not, on failure
    int32_t page = -1;  // the page the reason concerns
};

iffpcx_status repair_file(Bytes file, const FileScan &scan, const CheckLimits &limits, Repair &repair);

} // namespace iffpcx_check
