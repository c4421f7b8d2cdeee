// The processor level the vector loops run at, and how IFFPCX_CPU caps it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "cpu_features.h"

namespace {

using iff::CpuLevel;

TEST(CpuFeatures, TheSettingCapsTheLevelAndIsIgnoredWhenUnknown) {
    struct Case {
        CpuLevel processor;
        const char *setting;
        CpuLevel level;
    };
    const Case cases[] = {
        {CpuLevel::avx512, nullptr, CpuLevel::avx512},
        {CpuLevel::avx512, "portable", CpuLevel::portable},
        {CpuLevel::avx512, "ssse3", CpuLevel::ssse3},
        {CpuLevel::avx512, "avx2", CpuLevel::avx2},
        {CpuLevel::avx512, "avx512", CpuLevel::avx512},
        {CpuLevel::ssse3, "avx512", CpuLevel::ssse3},
        {CpuLevel::avx2, "avx2", CpuLevel::avx2},
        {CpuLevel::portable, "avx2", CpuLevel::portable},
        // Unknown names change nothing: not a prefix, not another case, not empty.
        {CpuLevel::avx2, "", CpuLevel::avx2},
        {CpuLevel::avx2, "AVX2", CpuLevel::avx2},
        {CpuLevel::avx2, "sse", CpuLevel::avx2},
        {CpuLevel::avx512, "avx512 ", CpuLevel::avx512},
        {CpuLevel::avx512, "neon", CpuLevel::avx512},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(iff::level_under_setting(c.processor, c.setting), c.level)
            << iff::cpu_level_name(c.processor) << " under " << (c.setting ? c.setting : "(unset)");
    }
}

// Run by the suite with IFFPCX_CPU set to several values (see
// tests/CMakeLists.txt): the level in force is the processor's under it, and
// the test hook cannot lift it.
TEST(CpuFeatures, TheLevelInForceFollowsTheEnvironment) {
    const CpuLevel expected = iff::level_under_setting(iff::processor_cpu_level(), std::getenv("IFFPCX_CPU"));
    iff::cap_cpu_level(CpuLevel::avx512);
    EXPECT_EQ(iff::cpu_level(), expected);
    iff::cap_cpu_level(CpuLevel::portable);
    EXPECT_EQ(iff::cpu_level(), CpuLevel::portable);
    iff::cap_cpu_level(CpuLevel::avx512);
    EXPECT_EQ(iff::cpu_level(), expected);
}

} // namespace
