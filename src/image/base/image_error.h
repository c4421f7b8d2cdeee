// The layer's failures inside: a status of iffpcx_image.h, the message a host
// prints, and the page and line it concerns. The entry points turn them into
// an iffpcx_error; nothing of this type crosses them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "iffpcx_image.h"

namespace image {

class ImageError : public std::runtime_error {
  public:
    ImageError(int32_t status, const std::string &message, int32_t page = -1, int32_t line = -1,
               int32_t library_status = 0)
        : std::runtime_error(message), status_(status), page_(page), line_(line), library_status_(library_status) {}

    int32_t status() const { return status_; }
    int32_t page() const { return page_; }
    int32_t line() const { return line_; }
    int32_t library_status() const { return library_status_; }

  private:
    int32_t status_;
    int32_t page_;
    int32_t line_;
    int32_t library_status_;
};

// How refusals of a layout begin, after the file and page: hosts that
// convert pages themselves may name themselves instead.
constexpr char kNotConverted[] = "iffpcx_image does not convert pages of ";

// The layer's status for a failure of the line library: a short file is
// truncated, a bad header malformed, a refused layout unsupported.
int32_t status_of_library(int32_t library_status);

} // namespace image
