#include "render/ops/warp_director.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <onnxruntime_cxx_api.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "render/ops/zentrova_domain.h"
#include "render/support/ort_runner.h"
#include "render/support/test_models.h"

namespace {

struct Image {
  int64_t W, H;
  std::vector<float> src, grid;
  size_t floats() const { return size_t(3 * W * H); }
};

// Values in [0.1, 1]; a grid of random points anywhere in and around the image, or a smooth warp
// of a few pixels whose rows each read only nearby source rows.
Image makeImage(int64_t W, int64_t H, bool smooth, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> value(0.1f, 1.f), coord(-1.3f, 1.3f), jitter(-0.1f, 0.1f);
  Image im{W, H, std::vector<float>(size_t(3 * W * H)), std::vector<float>(size_t(2 * W * H))};
  for (float& v : im.src) v = value(rng);
  for (int64_t i = 0; i < H; ++i)
    for (int64_t j = 0; j < W; ++j) {
      float* g = im.grid.data() + (i * W + j) * 2;
      g[0] = smooth ? (2.f * j + 1.f) / W - 1.f + jitter(rng) : coord(rng);
      g[1] = smooth ? (2.f * i + 1.f) / H - 1.f + jitter(rng) : coord(rng);
    }
  return im;
}

std::vector<float> warpWhole(const Image& im) {
  std::vector<float> out(im.floats());
  le::warpDirector(im.src.data(), im.grid.data(), out.data(), im.W, im.H);
  return out;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// A power-of-two extent makes every pixel centre's normalised coordinate exact, so that the
// sample position is the integer pixel index: no interpolation, no curvature correction.
TEST(WarpDirector, PixelCentresReturnTheSourcePixels) {
  Image im = makeImage(64, 32, false, 1);
  for (int64_t i = 0; i < im.H; ++i)
    for (int64_t j = 0; j < im.W; ++j) {
      im.grid[(i * im.W + j) * 2] = (2.f * j + 1.f) / im.W - 1.f;
      im.grid[(i * im.W + j) * 2 + 1] = (2.f * i + 1.f) / im.H - 1.f;
    }
  EXPECT_TRUE(sameBits(warpWhole(im), im.src));
}

struct BandCase {
  const char* name;
  bool smooth;
  std::vector<int64_t> cuts;  // band edges, from 0 to H
};

class WarpDirectorBands : public testing::TestWithParam<BandCase> {};

// W 37 x H 29: bands that end and begin at rows 15, 16 and 17, as the operator's bands of 16 do.
TEST_P(WarpDirectorBands, EqualTheWholeImage) {
  const Image im = makeImage(37, 29, GetParam().smooth, 2);
  const std::vector<float> whole = warpWhole(im);
  const std::vector<int64_t>& cuts = GetParam().cuts;
  std::vector<float> planes(le::warpPlanesFloats(im.W, im.H)), viaScratch(im.floats()), selfContained(im.floats());
  for (size_t k = 0; k + 1 < cuts.size(); ++k)
    le::warpDirectorPlanesBand(im.src.data(), planes.data(), im.W, im.H, cuts[k], cuts[k + 1]);
  for (size_t k = 0; k + 1 < cuts.size(); ++k) {
    le::warpDirectorGatherBand(planes.data(), im.grid.data(), viaScratch.data(), im.W, im.H, cuts[k], cuts[k + 1]);
    le::warpDirectorBand(im.src.data(), im.grid.data(), selfContained.data(), im.W, im.H, cuts[k], cuts[k + 1]);
  }
  EXPECT_TRUE(sameBits(viaScratch, whole));
  EXPECT_TRUE(sameBits(selfContained, whole));
}

INSTANTIATE_TEST_SUITE_P(Cuts, WarpDirectorBands,
                         testing::Values(BandCase{"RandomAt15_16_17", false, {0, 15, 16, 17, 29}},
                                         BandCase{"SmoothAt15_16_17", true, {0, 15, 16, 17, 29}},
                                         BandCase{"SmoothBandsOf16", true, {0, 16, 29}},
                                         BandCase{"SmoothSingleRows", true, {0, 1, 2, 3, 27, 28, 29}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WarpDirector, BandsWriteOnlyTheirClampedRows) {
  const Image im = makeImage(11, 8, false, 3);
  const int64_t cases[][4] = {{2, 5, 2, 5}, {-4, 3, 0, 3}, {6, 40, 6, 8}, {5, 5, 0, 0}, {7, 2, 0, 0}};
  for (const auto& c : cases) {
    std::vector<float> out(im.floats(), -7.f);
    le::warpDirectorBand(im.src.data(), im.grid.data(), out.data(), im.W, im.H, c[0], c[1]);
    for (int64_t ch = 0; ch < 3; ++ch)
      for (int64_t i = 0; i < im.H; ++i)
        EXPECT_EQ(out[(ch * im.H + i) * im.W] != -7.f, i >= c[2] && i < c[3])
            << "band " << c[0] << ".." << c[1] << " channel " << ch << " row " << i;
  }
}

// ------------------------------ the operator in ONNX Runtime

struct CropCase {
  int crop;
  float tolerance;
};

// The one-node graph against the baker's own block (cone, GridSample, recombination) on random
// sources and grids in and around [-1, 1]: the same function up to float rounding. The block forms
// its fourth plane with a 3x3 convolution and its curvature weights from the position
// g * crop / 2 + (crop - 1) / 2, which can differ from the kernel's ((1 + g) crop - 1) / 2 by an ulp
// of the position: 6.1e-5 around 512, moving a and b by up to 3.1e-5 each, against second
// differences of up to 2 in magnitude. Hence 1.2e-4 for the demo crop and 1e-5 for small crops.
class WarpDirectorGraph : public testing::TestWithParam<CropCase> {};

TEST_P(WarpDirectorGraph, EqualsTheGraphsOwnBlock) {
  const std::string crop = std::to_string(GetParam().crop);
  const le::GsBytes& block = le::test::testModel("warp_block_" + crop);
  const le::GsBytes& node = le::test::testModel("warp_node_" + crop);
  const le::test::TensorMap inputs = le::test::makeInputs(block, 17);
  const le::test::TensorMap want = le::test::runModel(block, inputs, 1);
  const le::test::TensorMap got = le::test::runModel(node, inputs, 2);
  ASSERT_EQ(got.count("/warp/out"), 1u);
  EXPECT_LE(le::test::maxAbsDiff(got, want), GetParam().tolerance);
}

// The operator's bands of 16 rows on the session's threads, item after item, give exactly the
// library function's result.
TEST_P(WarpDirectorGraph, EqualsTheKernelForEveryBatchItem) {
  const le::GsBytes& node = le::test::testModel("warp_node_" + std::to_string(GetParam().crop));
  const le::test::TensorMap inputs = le::test::makeInputs(node, 23);
  const le::test::HostTensor& src = inputs.at("P_rgb");
  const le::test::HostTensor& grid = inputs.at("grid");
  const int64_t N = src.shape[0], H = src.shape[2], W = src.shape[3];
  std::vector<float> want(src.data.size());
  for (int64_t n = 0; n < N; ++n)
    le::warpDirector(src.data.data() + n * 3 * H * W, grid.data.data() + n * H * W * 2, want.data() + n * 3 * H * W, W,
                     H);
  const le::test::TensorMap got = le::test::runModel(node, inputs, 2);
  EXPECT_TRUE(sameBits(got.at("/warp/out").data, want));
}

INSTANTIATE_TEST_SUITE_P(Crops, WarpDirectorGraph,
                         testing::Values(CropCase{37, 1e-5f}, CropCase{64, 1e-5f}, CropCase{512, 1.2e-4f}),
                         [](const auto& info) { return "Crop" + std::to_string(info.param.crop); });

struct RefusalCase {
  const char* model;
  const char* message;
};

class WarpDirectorRefuses : public testing::TestWithParam<RefusalCase> {};

TEST_P(WarpDirectorRefuses, FailsTheRunWithItsReason) {
  const le::GsBytes& model = le::test::testModel(GetParam().model);
  const le::test::TensorMap inputs = le::test::makeInputs(model, 3);
  try {
    le::test::runModel(model, inputs);
    ADD_FAILURE() << "the run succeeded";
  } catch (const Ort::Exception& e) {
    EXPECT_THAT(e.what(), testing::HasSubstr(GetParam().message));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, WarpDirectorRefuses,
    testing::Values(RefusalCase{"warp_node_c4",
                                "com.zentrova::WarpDirector: this node warps the director's 3-channel source and the "
                                "graph handed it C=4. REFUSING rather than writing a frame nobody asked for."},
                    RefusalCase{"warp_node_grid9",
                                "com.zentrova::WarpDirector: the grid must be [N,H,W,2] of the source [1,3,8,8]; got "
                                "[1,8,9,2]"}),
    [](const auto& info) { return std::string(info.param.model); });

// Both registration functions, on one options object, add the domain once: the session opens.
TEST(WarpDirector, BothRegistrationsOnOneOptionsObjectOpenASession) {
  Ort::Env env(ORT_LOGGING_LEVEL_WARNING, "le-test");
  Ort::SessionOptions options;
  le::registerGridSampleFast(options);
  le::registerWarpDirector(options);
  le::registerWarpDirector(options);
  const le::GsBytes& model = le::test::testModel("warp_node_37");
  EXPECT_NO_THROW(Ort::Session(env, model.data(), model.size(), options));
}

}  // namespace
