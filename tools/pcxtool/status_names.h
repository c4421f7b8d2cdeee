// Names and meanings of the library's status codes, for messages.
#pragma once

#include <cstdint>
#include <string>

namespace pcxtool {

// "IFF_ERR_LINE (a scan line failed to decode: the image data ended early)"
std::string describe_status(int32_t status);

} // namespace pcxtool
