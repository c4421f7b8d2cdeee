// Names and meanings of the line library's status codes, for messages.
#pragma once

#include <cstdint>
#include <string>

namespace image {

// "IFF_ERR_LINE (a scan line failed to decode: the image data ended early)"
std::string describe_status(int32_t status);

} // namespace image
