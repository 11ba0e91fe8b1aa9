// Int8ConvVNNI run through ONNX Runtime against a scalar evaluation of the integer formula, on every
// tile path the CPU has; the quantisation's edge cases and the output extent.
#include "render/ops/int8_conv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "render/graph/onnx_emitter.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/ops/int8_conv_quantise.h"
#include "render/support/ort_runner.h"

namespace {

using le::Int8ConvPath;
using le::Int8ConvShape;

struct ConvCase {
  const char* name;
  int64_t N, C, H, W, M, kH, kW, group;
  int64_t strideH, strideW, padTop, padLeft, padBottom, padRight, dilH, dilW;
};

void PrintTo(const ConvCase& c, std::ostream* out) { *out << c.name; }

Int8ConvShape shapeOf(const ConvCase& c) {
  Int8ConvShape s;
  s.N = c.N, s.C = c.C, s.H = c.H, s.W = c.W, s.M = c.M, s.kH = c.kH, s.kW = c.kW, s.group = c.group;
  s.strideH = c.strideH, s.strideW = c.strideW, s.dilH = c.dilH, s.dilW = c.dilW;
  s.padTop = c.padTop, s.padLeft = c.padLeft, s.padBottom = c.padBottom, s.padRight = c.padRight;
  le::int8ConvDeriveOutput(s);
  return s;
}

struct ConvData {
  std::vector<float> X, scale, bias;
  std::vector<int8_t> W;
};

ConvData randomData(const Int8ConvShape& s, float lo, float hi, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> value(lo, hi), scale(0.001f, 0.02f), bias(-0.5f, 0.5f);
  std::uniform_int_distribution<int> weight(-128, 127);
  ConvData d;
  d.X.resize(static_cast<size_t>(s.N * s.C * s.H * s.W));
  for (float& v : d.X) v = value(rng);
  d.W.resize(static_cast<size_t>(s.M * (s.C / s.group) * s.kH * s.kW));
  for (int8_t& w : d.W) w = static_cast<int8_t>(weight(rng));
  for (int64_t m = 0; m < s.M; ++m) d.scale.push_back(scale(rng)), d.bias.push_back(bias(rng));
  return d;
}

// The operator's definition evaluated directly: the range from 0, then per output value the sum of
// (q - z) * w over the taps inside the input, dequantised per output channel.
std::vector<float> reference(const Int8ConvShape& s, const ConvData& d) {
  float lo = 0.f, hi = 0.f;
  for (float v : d.X) lo = std::min(lo, v), hi = std::max(hi, v);
  float scale = (hi - lo) / 255.f;
  if (!(scale > 0.f)) scale = 1.f;
  const int32_t zero = static_cast<int32_t>(std::clamp(std::rint(-lo / scale), 0.f, 255.f));
  const auto q = [&](float x) { return static_cast<int32_t>(std::clamp(std::rint(x / scale) + float(zero), 0.f, 255.f)); };
  const int64_t Cg = s.C / s.group, Mg = s.M / s.group;
  std::vector<float> Y(static_cast<size_t>(s.N * s.M * s.Ho * s.Wo));
  for (int64_t n = 0; n < s.N; ++n)
    for (int64_t m = 0; m < s.M; ++m)
      for (int64_t oy = 0; oy < s.Ho; ++oy)
        for (int64_t ox = 0; ox < s.Wo; ++ox) {
          int32_t sum = 0;
          for (int64_t c = 0; c < Cg; ++c)
            for (int64_t ky = 0; ky < s.kH; ++ky)
              for (int64_t kx = 0; kx < s.kW; ++kx) {
                const int64_t iy = oy * s.strideH - s.padTop + ky * s.dilH, ix = ox * s.strideW - s.padLeft + kx * s.dilW;
                if (iy < 0 || iy >= s.H || ix < 0 || ix >= s.W) continue;
                const float x = d.X[static_cast<size_t>(((n * s.C + m / Mg * Cg + c) * s.H + iy) * s.W + ix)];
                sum += (q(x) - zero) * d.W[static_cast<size_t>(((m * Cg + c) * s.kH + ky) * s.kW + kx)];
              }
          Y[static_cast<size_t>(((n * s.M + m) * s.Ho + oy) * s.Wo + ox)] =
              scale * d.scale[size_t(m)] * static_cast<float>(sum) + d.bias[size_t(m)];
        }
  return Y;
}

// A model of one Int8ConvVNNI node: X is the graph input, the weights, scales and biases initializers.
le::GsBytes int8ConvModel(const Int8ConvShape& s, const ConvData& d) {
  le::GsBytes attrs, graph, model, opset, int8Opset;
  const int64_t strides[] = {s.strideH, s.strideW}, pads[] = {s.padTop, s.padLeft, s.padBottom, s.padRight},
                dilations[] = {s.dilH, s.dilW};
  le::gsAttrIs(attrs, "strides", strides, 2);
  le::gsAttrIs(attrs, "pads", pads, 4);
  le::gsAttrIs(attrs, "dilations", dilations, 2);
  le::gsAttrI(attrs, "group", s.group);
  le::gsNode(graph, "Int8ConvVNNI", {"X", "W", "scale", "bias"}, "Y", "conv", attrs, "com.zentrova.int8");
  le::gsInit(graph, "W", 3 /* INT8 */, {s.M, s.C / s.group, s.kH, s.kW}, d.W.data(), d.W.size());
  le::gsInit(graph, "scale", 1 /* FLOAT */, {s.M}, d.scale.data(), d.scale.size() * sizeof(float));
  le::gsInit(graph, "bias", 1, {s.M}, d.bias.data(), d.bias.size() * sizeof(float));
  const int64_t xs[] = {s.N, s.C, s.H, s.W}, ys[] = {s.N, s.M, s.Ho, s.Wo};
  le::gsPutTensorValueInfo(graph, le::kGraphInput, "X", xs, 4);
  le::gsPutTensorValueInfo(graph, le::kGraphOutput, "Y", ys, 4);
  le::gsPutVarintField(model, 1, 8);
  le::gsPutBytes(model, le::kModelGraph, graph);
  le::gsPutVarintField(opset, le::kOpsetVersion, 17);
  le::gsPutBytes(model, le::kModelOpsetImport, opset);
  le::gsPutBytes(int8Opset, le::kOpsetDomain, std::string("com.zentrova.int8"));
  le::gsPutVarintField(int8Opset, le::kOpsetVersion, 1);
  le::gsPutBytes(model, le::kModelOpsetImport, int8Opset);
  return model;
}

le::test::HostTensor runOp(const Int8ConvShape& s, const ConvData& d) {
  le::test::TensorMap inputs;
  inputs["X"] = {{s.N, s.C, s.H, s.W}, d.X};
  return le::test::runModel(int8ConvModel(s, d), inputs).at("Y");
}

class PathGuard {
 public:
  explicit PathGuard(Int8ConvPath path) { le::setInt8ConvPath(path); }
  ~PathGuard() { le::setInt8ConvPath(Int8ConvPath::Auto); }
};

const char* pathName(Int8ConvPath p) {
  switch (p) {
    case Int8ConvPath::Avx512Vnni: return "Avx512Vnni";
    case Int8ConvPath::AvxVnni: return "AvxVnni";
    case Int8ConvPath::Portable: return "Portable";
    default: return "Auto";
  }
}

// Sizes that are not multiples of the tiles (8 pixels, 16 output channels, 4 input channels) nor of
// the strips (48 pixels in registers of 16, passes of 8 output channels), every attribute away from
// its default, groups from 1 to depthwise, and inputs too small for any interior.
const ConvCase kCases[] = {
    {"odd3x3", 1, 3, 5, 7, 4, 3, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {"batch2_twoBlocks", 2, 16, 12, 29, 20, 3, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {"stride2", 1, 8, 17, 19, 16, 3, 3, 1, 2, 2, 1, 1, 1, 1, 1, 1},
    {"dilation2", 1, 5, 15, 21, 7, 3, 3, 1, 1, 1, 2, 2, 2, 2, 2, 2},
    {"depthwise", 2, 12, 9, 23, 12, 3, 3, 12, 1, 1, 1, 1, 1, 1, 1, 1},
    {"groups2_asymmetric", 2, 12, 10, 18, 10, 3, 3, 2, 2, 1, 0, 1, 2, 1, 1, 1},
    {"pointwise", 1, 33, 8, 40, 17, 1, 1, 1, 1, 1, 0, 0, 0, 0, 1, 1},
    {"k5_threeBlocks", 1, 20, 11, 37, 33, 5, 5, 1, 1, 1, 2, 2, 2, 2, 1, 1},
    {"noInterior", 1, 2, 2, 3, 3, 3, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {"k3x2_stride2_dilation2", 1, 6, 19, 27, 9, 3, 2, 3, 2, 2, 1, 0, 3, 2, 2, 2},
    {"pointwise_stride2", 3, 4, 9, 35, 5, 1, 1, 1, 2, 2, 0, 0, 0, 0, 1, 1},
    {"wideStrips_twoPasses", 1, 7, 4, 101, 27, 3, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {"groups3_wide_dilatedX", 2, 9, 3, 70, 15, 3, 3, 3, 1, 1, 0, 2, 1, 1, 1, 2},
};

class Int8ConvPaths : public testing::TestWithParam<std::tuple<Int8ConvPath, ConvCase>> {
 protected:
  void SetUp() override {
    if (!le::int8ConvPathAvailable(std::get<0>(GetParam()))) GTEST_SKIP() << "the CPU lacks this path";
  }
};

TEST_P(Int8ConvPaths, EqualsTheIntegerFormulaExactly) {
  PathGuard guard(std::get<0>(GetParam()));
  const Int8ConvShape s = shapeOf(std::get<1>(GetParam()));
  // Negative values give a zero point inside the range, so the border correction is exercised.
  const ConvData d = randomData(s, -0.7f, 1.3f, 17);
  const le::test::HostTensor got = runOp(s, d);
  ASSERT_EQ(got.shape, (std::vector<int64_t>{s.N, s.M, s.Ho, s.Wo}));
  const std::vector<float> want = reference(s, d);
  for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(got.data[i], want[i]) << "element " << i;
}

TEST_P(Int8ConvPaths, PositiveInputStillQuantisesFromZero) {
  PathGuard guard(std::get<0>(GetParam()));
  const Int8ConvShape s = shapeOf(std::get<1>(GetParam()));
  const ConvData d = randomData(s, 2.f, 3.f, 5);
  EXPECT_EQ(runOp(s, d).data, reference(s, d));
}

INSTANTIATE_TEST_SUITE_P(Shapes, Int8ConvPaths,
                         testing::Combine(testing::Values(Int8ConvPath::Auto, Int8ConvPath::Avx512Vnni,
                                                          Int8ConvPath::AvxVnni, Int8ConvPath::Portable),
                                          testing::ValuesIn(kCases)),
                         [](const auto& info) {
                           return std::string(pathName(std::get<0>(info.param))) + "_" + std::get<1>(info.param).name;
                         });

TEST(Int8Conv, AllZeroInputGivesTheBias) {
  const Int8ConvShape s = shapeOf({"zero", 2, 6, 7, 9, 5, 3, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1});
  ConvData d = randomData(s, 0.f, 0.f, 3);
  const le::test::HostTensor got = runOp(s, d);
  for (size_t i = 0; i < got.data.size(); ++i)
    ASSERT_EQ(got.data[i], d.bias[i / size_t(s.Ho * s.Wo) % size_t(s.M)]) << "element " << i;
}

TEST(Int8Conv, QuantisationRangeAlwaysContainsZero) {
  const le::Int8Quantisation none = le::int8QuantisationOf(0.f, 0.f);
  EXPECT_EQ(none.scale, 1.f);
  EXPECT_EQ(none.zero, 0);
  const le::Int8Quantisation positive = le::int8QuantisationOf(0.f, 3.f);
  EXPECT_EQ(positive.scale, 3.f / 255.f);
  EXPECT_EQ(positive.zero, 0);
  // A span of 255 gives s = 1 exactly, so -min / s is the tie itself; ties round to even.
  const le::Int8Quantisation centred = le::int8QuantisationOf(-127.5f, 127.5f);
  EXPECT_EQ(centred.scale, 1.f);
  EXPECT_EQ(centred.zero, 128);
  EXPECT_EQ(le::int8QuantisationOf(-128.5f, 126.5f).zero, 128);
  EXPECT_EQ(le::int8QuantisationOf(-2.f, 0.f).zero, 255);
  // The scan starts from 0, in one part (a single output row) or split over output rows, and sees
  // the rows that no tap reads (stride 3 skips input rows 1 and 2).
  const ConvCase scans[] = {{"onePart", 1, 3, 3, 40, 1, 3, 3, 1, 1, 1, 0, 0, 0, 0, 1, 1},
                            {"stride3", 2, 3, 10, 50, 1, 1, 1, 1, 3, 3, 0, 0, 0, 0, 1, 1},
                            {"large", 2, 5, 100, 100, 1, 3, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1}};
  for (const ConvCase& c : scans) {
    const Int8ConvShape s = shapeOf(c);
    std::vector<float> x(static_cast<size_t>(s.N * s.C * s.H * s.W));
    for (size_t i = 0; i < x.size(); ++i) x[i] = 2.f + float(i % 97) / 96.f;
    x[static_cast<size_t>(((s.N * s.C - 1) * s.H + 1) * s.W + 7)] = 3.5f;  // last image and channel, row 1
    float lo = -5.f, hi = -5.f;
    le::int8InputRange(s, x.data(), &lo, &hi);
    EXPECT_EQ(lo, 0.f) << c.name;
    EXPECT_EQ(hi, 3.5f) << c.name;
  }
}

TEST(Int8Conv, OutputExtent) {
  // Pads 0, stride 1, dilation 1: H - kH + 1.
  EXPECT_EQ(le::int8ConvOutputSize(10, 0, 0, 3, 1, 1), 8);
  // (10 + 1 + 2 - 2 * (3 - 1) - 1) / 2 + 1
  EXPECT_EQ(le::int8ConvOutputSize(10, 1, 2, 3, 2, 2), 5);
  EXPECT_EQ(le::int8ConvOutputSize(2, 0, 0, 3, 1, 1), 0);
  const Int8ConvShape s = shapeOf({"extent", 1, 4, 13, 11, 3, 3, 2, 1, 2, 3, 1, 0, 2, 1, 2, 1});
  EXPECT_EQ(s.Ho, (13 + 3 - 2 * 2 - 1) / 2 + 1);
  EXPECT_EQ(s.Wo, (11 + 1 - 1 - 1) / 3 + 1);
  EXPECT_EQ(runOp(s, randomData(s, -1.f, 1.f, 2)).shape, (std::vector<int64_t>{1, 3, s.Ho, s.Wo}));
}

}  // namespace
