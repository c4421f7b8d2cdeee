// Failures the commands report: a message for stderr and the exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace pcxtool {

enum ExitStatus { kExitOk = 0, kExitBadInput = 1, kExitUsage = 2 };

class ToolError : public std::runtime_error {
  public:
    ToolError(int exit_status, const std::string &message) : std::runtime_error(message), exit_status_(exit_status) {}
    int exit_status() const { return exit_status_; }

  private:
    int exit_status_;
};

// Bad input: unreadable, malformed or unsuitable files, failed writes.
inline ToolError input_error(const std::string &message) {
    return ToolError(kExitBadInput, message);
}

// Bad command line.
inline ToolError usage_error(const std::string &message) {
    return ToolError(kExitUsage, message);
}

} // namespace pcxtool
