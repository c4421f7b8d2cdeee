#include "status_names.h"

#include "iffpcx.h"
#include "image_error.h"

namespace image {

std::string describe_status(int32_t status) {
    if (std::string(IFFStatusName(status)) == "IFF_ERR_UNKNOWN") {
        return "status " + std::to_string(status) + " (" + IFFStatusText(status) + ")";
    }
    return std::string(IFFStatusName(status)) + " (" + IFFStatusText(status) + ")";
}

int32_t status_of_library(int32_t library_status) {
    switch (library_status) {
    case IFF_ERR_LINE: return IFFPCX_ERR_TRUNCATED;
    case IFF_ERR_READ: return IFFPCX_ERR_TRUNCATED;
    case IFF_ERR_FORMAT: return IFFPCX_ERR_MALFORMED;
    case IFF_ERR_UNSUPPORTED: return IFFPCX_ERR_UNSUPPORTED;
    case IFF_ERR_MEMORY: return IFFPCX_ERR_MEMORY;
    case IFF_ERR_WRITE:
    case IFF_ERR_SEEK:
    case IFF_ERR_CLOSE: return IFFPCX_ERR_WRITE;
    case IFF_ERR_OPEN: return IFFPCX_ERR_READ;
    default: return IFFPCX_ERR_LIBRARY;
    }
}

} // namespace image
