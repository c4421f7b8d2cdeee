#include "status_names.h"

#include "iffpcx.h"

namespace pcxtool {

std::string describe_status(int32_t status) {
    if (std::string(IFFStatusName(status)) == "IFF_ERR_UNKNOWN") {
        return "status " + std::to_string(status) + " (" + IFFStatusText(status) + ")";
    }
    return std::string(IFFStatusName(status)) + " (" + IFFStatusText(status) + ")";
}

} // namespace pcxtool
