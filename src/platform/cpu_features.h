// What the processor offers the vector loops, asked once per process. The
// library, pcxtool and any other layer each compile this module in and read
// it the same way; IFFPCX_CPU (portable, ssse3, avx2, avx512) caps the level
// for tests and users, and a level above the processor's changes nothing.
#pragma once

#include <cstdint>

// x86 builds carry SSSE3 and AVX2 loops; 64-bit ones AVX-512 loops too,
// whose 64-byte masks want 64-bit registers.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define IFF_X86_VECTORS 1
#if defined(__x86_64__)
#define IFF_X86_64_VECTORS 1
#endif
#endif

namespace iff {

// Each level includes those below it.
enum class CpuLevel : int {
    portable = 0, // word-at-a-time loops, the only ones off x86
    ssse3 = 1,    // SSSE3 and POPCNT
    avx2 = 2,     // AVX2, BMI1, BMI2
    avx512 = 3,   // AVX-512 F, BW, VBMI and VBMI2 (64-bit builds only)
};

constexpr int kCpuLevels = 4;

// The level the vector loops use: the processor's, capped by IFFPCX_CPU and
// by cap_cpu_level.
CpuLevel cpu_level();

// The processor's own level, whatever the caps.
CpuLevel processor_cpu_level();

// Test hook: use no level above `cap`; cpu_level() again after a later call
// with CpuLevel::avx512 (the caps set by IFFPCX_CPU stay).
void cap_cpu_level(CpuLevel cap);

// The level a processor of `processor` runs at under the setting of
// IFFPCX_CPU (null when unset): an unknown name leaves it as it is.
CpuLevel level_under_setting(CpuLevel processor, const char *setting);

// "portable", "ssse3", "avx2" or "avx512".
const char *cpu_level_name(CpuLevel level);

// The level a name stands for; false for an unknown name.
bool cpu_level_from_name(const char *name, CpuLevel &level);

} // namespace iff
