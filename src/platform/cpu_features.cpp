#include "platform/cpu_features.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace iff {
namespace {

constexpr const char *kLevelNames[kCpuLevels] = {"portable", "ssse3", "avx2", "avx512"};

CpuLevel ask_processor() {
#ifdef IFF_X86_VECTORS
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("ssse3") || !__builtin_cpu_supports("popcnt")) return CpuLevel::portable;
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("bmi") || !__builtin_cpu_supports("bmi2"))
        return CpuLevel::ssse3;
#ifdef IFF_X86_64_VECTORS
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2"))
        return CpuLevel::avx512;
#endif
    return CpuLevel::avx2;
#else
    return CpuLevel::portable;
#endif
}

CpuLevel lower(CpuLevel a, CpuLevel b) {
    return int(a) < int(b) ? a : b;
}

struct Levels {
    CpuLevel processor;
    CpuLevel configured; // under IFFPCX_CPU
    std::atomic<CpuLevel> in_use;
};

Levels &levels() {
    static Levels l = [] {
        const CpuLevel processor = ask_processor();
        const CpuLevel configured = level_under_setting(processor, std::getenv("IFFPCX_CPU"));
        return Levels{processor, configured, {configured}};
    }();
    return l;
}

} // namespace

CpuLevel cpu_level() {
    return levels().in_use.load(std::memory_order_relaxed);
}

CpuLevel processor_cpu_level() {
    return levels().processor;
}

void cap_cpu_level(CpuLevel cap) {
    Levels &l = levels();
    l.in_use.store(lower(l.configured, cap), std::memory_order_relaxed);
}

CpuLevel level_under_setting(CpuLevel processor, const char *setting) {
    CpuLevel cap;
    if (setting == nullptr || !cpu_level_from_name(setting, cap)) return processor;
    return lower(processor, cap);
}

const char *cpu_level_name(CpuLevel level) {
    return kLevelNames[int(level)];
}

bool cpu_level_from_name(const char *name, CpuLevel &level) {
    for (int i = 0; i < kCpuLevels; ++i) {
        if (std::strcmp(name, kLevelNames[i]) == 0) {
            level = CpuLevel(i);
            return true;
        }
    }
    return false;
}

} // namespace iff
