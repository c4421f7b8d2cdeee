// Images that cannot be read or written: the message names the file and the
// reason.
#pragma once

#include <stdexcept>
#include <string>

namespace pcxtool {

class FormatError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline FormatError format_error(const std::string &message) {
    return FormatError(message);
}

} // namespace pcxtool
