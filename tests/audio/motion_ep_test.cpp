// Execution-provider strings of the motion generator.
#include <gtest/gtest.h>

#include "audio/motion_ep.h"

namespace le::audio {
namespace {

struct EpCase {
  const char* ep;
  bool coreml;
  const char* units;
};

class MotionEpString : public ::testing::TestWithParam<EpCase> {};

TEST_P(MotionEpString, SelectsTheProviderAndUnits) {
  const MotionEp r = parseMotionEp(GetParam().ep);
  EXPECT_EQ(r.coreml, GetParam().coreml);
  EXPECT_EQ(r.units, GetParam().units);
}

INSTANTIATE_TEST_SUITE_P(Accepted, MotionEpString,
                         ::testing::Values(EpCase{"", false, ""}, EpCase{"coreml", true, "ALL"},
                                           EpCase{"coreml:cpu", true, "CPUOnly"}, EpCase{"coreml_gpu", true, "CPUAndGPU"},
                                           EpCase{"coremlane", true, "CPUAndNeuralEngine"},
                                           EpCase{"coreml:xyz", true, "ALL"}, EpCase{"coreml:cpux", true, "ALL"}));

TEST(MotionEpString, EveryOtherStringIsUnknown) {
  for (const char* ep : {"cpu", "CoreML", "cuda", "xnnpack", " coreml"}) {
    try {
      parseMotionEp(ep);
      ADD_FAILURE() << ep << " accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), std::string("le_motion: unknown ep '") + ep + "'");
    }
  }
}

}  // namespace
}  // namespace le::audio
