// A slim reader/writer lock taken exclusively: statically initialised, never
// destroyed, and independent of the compiler's thread model.
#include <windows.h>

#include "platform/process_lock.h"

namespace iff {
namespace {
SRWLOCK process_lock = SRWLOCK_INIT;
} // namespace

ProcessLockGuard::ProcessLockGuard() {
    AcquireSRWLockExclusive(&process_lock);
}
ProcessLockGuard::~ProcessLockGuard() {
    ReleaseSRWLockExclusive(&process_lock);
}

} // namespace iff
