// Tests run once at each processor level of the vector loops. A level this
// processor, this build or IFFPCX_CPU does not allow is reported as skipped.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "cpu_features.h"

namespace test {

class AtEachCpuLevel : public ::testing::TestWithParam<iff::CpuLevel> {
  protected:
    void SetUp() override {
        iff::cap_cpu_level(iff::CpuLevel::avx512);
        const iff::CpuLevel allowed = iff::cpu_level();
        if (int(GetParam()) > int(allowed))
            GTEST_SKIP() << "this processor, build or IFFPCX_CPU runs at most " << iff::cpu_level_name(allowed)
                         << ", not " << iff::cpu_level_name(GetParam());
        iff::cap_cpu_level(GetParam());
    }
    void TearDown() override { iff::cap_cpu_level(iff::CpuLevel::avx512); }
};

inline std::string cpu_level_test_name(const ::testing::TestParamInfo<iff::CpuLevel> &info) {
    return iff::cpu_level_name(info.param);
}

} // namespace test

#define IFF_AT_EACH_CPU_LEVEL(suite)                                                                                   \
    INSTANTIATE_TEST_SUITE_P(                                                                                          \
        Cpu, suite,                                                                                                    \
        ::testing::Values(iff::CpuLevel::portable, iff::CpuLevel::ssse3, iff::CpuLevel::avx2, iff::CpuLevel::avx512),  \
        test::cpu_level_test_name)
