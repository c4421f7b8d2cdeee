#include <mutex>

#include "platform/process_lock.h"

namespace iff {
namespace {
std::mutex process_lock; // constant-initialised: usable before any constructor runs
} // namespace

ProcessLockGuard::ProcessLockGuard() {
    process_lock.lock();
}
ProcessLockGuard::~ProcessLockGuard() {
    process_lock.unlock();
}

} // namespace iff
