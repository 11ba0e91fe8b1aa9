// Runs a test once per instruction-set target the CPU supports, with kernel dispatch restricted
// to that target, so that a CPU with more targets cannot hide a broken lower one.
#pragma once

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <cstdint>
#include <string>
#include <vector>

namespace le::test {

// Each target that the kernels are compiled for (this file is built with the same target
// settings) and the CPU supports, best first.
inline std::vector<int64_t> cpuTargets() {
  hwy::SetSupportedTargetsForTest(0);
  return hwy::SupportedAndGeneratedTargets();
}

class PerTarget : public ::testing::TestWithParam<int64_t> {
 protected:
  void SetUp() override { hwy::SetSupportedTargetsForTest(GetParam()); }
  void TearDown() override { hwy::SetSupportedTargetsForTest(0); }
};

inline std::string targetParamName(const ::testing::TestParamInfo<int64_t>& info) {
  return hwy::TargetName(info.param);
}

}  // namespace le::test

#define LE_INSTANTIATE_PER_TARGET(Suite)                                        \
  INSTANTIATE_TEST_SUITE_P(Targets, Suite, ::testing::ValuesIn(le::test::cpuTargets()), \
                           le::test::targetParamName)
