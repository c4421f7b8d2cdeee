// The library's one lock, for the short critical sections of state shared by
// all handles (the handle table). Held for the lifetime of a guard.
#pragma once

namespace iff {

class ProcessLockGuard {
  public:
    ProcessLockGuard();
    ~ProcessLockGuard();
    ProcessLockGuard(const ProcessLockGuard &) = delete;
    ProcessLockGuard &operator=(const ProcessLockGuard &) = delete;
};

} // namespace iff
