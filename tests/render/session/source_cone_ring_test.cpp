// The prediction of the next source frame that the source-cone ring prefetches, and a ring whose
// prep graph fails.
#include "render/session/source_cone_ring.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bundle/identity.h"
#include "bundle/manifest.h"
#include "render/graph/source_cone.h"

namespace {

std::vector<int> predictions(const std::vector<int>& order, int frames) {
  le::SourceOrderPredictor predictor;
  std::vector<int> out;
  for (int v : order) out.push_back(predictor.next(v, frames));
  return out;
}

TEST(SourceOrderPredictor, StepsBouncesAndLoops) {
  // Forward to the last frame, which bounces back, and a step down that keeps going down.
  EXPECT_EQ(predictions({0, 1, 2, 3, 4, 3, 2}, 5), (std::vector<int>{1, 2, 3, 4, 3, 2, 1}));
  // At the first frame moving down the next is frame 1.
  EXPECT_EQ(predictions({1, 0}, 5), (std::vector<int>{2, 1}));
  // A wrap from the last frame to the first switches to looping: predictions wrap from then on.
  EXPECT_EQ(predictions({3, 4, 0, 1, 2, 3, 4}, 5), (std::vector<int>{4, 3, 1, 2, 3, 4, 0}));
  // Any other jump keeps the step.
  EXPECT_EQ(predictions({0, 1, 7, 6, 2}, 10), (std::vector<int>{1, 2, 8, 5, 1}));
  // Two frames: the wrap turns the step around.
  EXPECT_EQ(predictions({0, 1, 0}, 2), (std::vector<int>{1, 0, 1}));
  // One frame (or none): the frame itself.
  EXPECT_EQ(predictions({0, 0}, 1), (std::vector<int>{0, 0}));
}

TEST(SourceConeRingThreads, AFailedPrepPoisonsEveryLaterFrame) {
  const le::Manifest manifest = le::loadManifest(std::string(LE_TEST_FIXTURES) + "/test");
  le::Identity identity(manifest);
  std::ifstream in(manifest.modelPath("b1"), std::ios::binary);
  const le::GsBytes model(std::istreambuf_iterator<char>(in), {});
  le::GsBytes prep;
  std::string reason;
  ASSERT_TRUE(le::buildSourceConePrep(model, "/cone/tip", prep, reason)) << reason;
  Ort::Env env(ORT_LOGGING_LEVEL_FATAL, "test");
  std::vector<float> prior(size_t(3) * manifest.crop * manifest.crop);
  // Slots of the wrong shape: the prep run cannot write its output into them.
  le::SourceConeRing ring(Ort::Session(env, prep.data(), prep.size(), Ort::SessionOptions()), "/cone/tip",
                          {1, 5, 8, 8}, identity, prior, manifest.crop);
  for (int frame : {0, 1}) {
    try {
      ring.acquire(frame);
      ADD_FAILURE() << frame;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Renderer: the hoisted source cone failed in ORT \xe2\x80\x94 ", 0), 0u)
          << e.what();
    }
  }
  EXPECT_EQ(ring.misses(), 1);
  EXPECT_EQ(ring.hits(), 0);
}

}  // namespace
