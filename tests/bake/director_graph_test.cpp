// Runs the baked director graphs through ONNX Runtime: the m4b graphs must compute what the
// baker's numpy reference computes, at batch 4 and item by item at batch 1, and every variant
// graph must load and produce a finite crop of the declared shape.
#include <gtest/gtest.h>
#include <onnxruntime_cxx_api.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

const std::string kFixtures = LE_TEST_FIXTURES;

std::vector<float> readFloats(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot open " << path;
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> out(bytes.size() / sizeof(float));
  std::copy(bytes.begin(), bytes.begin() + out.size() * sizeof(float),
            reinterpret_cast<char*>(out.data()));
  return out;
}

Ort::Env& env() {
  static Ort::Env e(ORT_LOGGING_LEVEL_WARNING, "le_bake_tests");
  return e;
}

struct Input {
  std::string name;
  std::vector<int64_t> shape;
  std::vector<float> data;
};

// Runs the model once and returns its single output.
std::vector<float> run(const std::string& model, std::vector<Input>& inputs) {
  Ort::SessionOptions opts;
  opts.SetIntraOpNumThreads(1);
  Ort::Session session(env(), model.c_str(), opts);
  Ort::MemoryInfo mem = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  std::vector<Ort::Value> values;
  std::vector<const char*> names;
  for (Input& in : inputs) {
    values.push_back(Ort::Value::CreateTensor<float>(mem, in.data.data(), in.data.size(),
                                                     in.shape.data(), in.shape.size()));
    names.push_back(in.name.c_str());
  }
  const char* outName = "rgb";
  auto out = session.Run(Ort::RunOptions{nullptr}, names.data(), values.data(), values.size(),
                         &outName, 1);
  const float* p = out[0].GetTensorData<float>();
  return std::vector<float>(p, p + out[0].GetTensorTypeAndShapeInfo().GetElementCount());
}

// The reference case of one bundle: batch-4 inputs and the numpy reference's rgb.
struct RefCase {
  int crop = 0;
  std::vector<Input> inputs;
  std::vector<float> rgb;

  explicit RefCase(const std::string& bundle) {
    const std::string dir = kFixtures + "/director-ref/" + bundle + "/";
    std::vector<float> p = readFloats(dir + "P_rgb.f32");
    crop = static_cast<int>(std::lround(std::sqrt(p.size() / 12.0)));
    inputs = {{"pooled64", {4, 64, 32, 32}, readFloats(dir + "pooled64.f32")},
              {"P_rgb", {4, 3, crop, crop}, p},
              {"kp_driving", {4, 21, 3}, readFloats(dir + "kp_driving.f32")},
              {"kp_source", {4, 21, 3}, readFloats(dir + "kp_source.f32")}};
    rgb = readFloats(dir + "rgb.f32");
  }

  // Item i alone, as a batch-1 input set.
  std::vector<Input> item(int i) const {
    std::vector<Input> one = inputs;
    for (Input& in : one) {
      const size_t n = in.data.size() / 4;
      in.data.assign(in.data.begin() + i * n, in.data.begin() + (i + 1) * n);
      in.shape[0] = 1;
    }
    return one;
  }
};

float maxAbsDiff(const float* a, const float* b, size_t n) {
  float m = 0;
  for (size_t i = 0; i < n; ++i) m = std::max(m, std::fabs(a[i] - b[i]));
  return m;
}

class DirectorMatchesReference : public testing::TestWithParam<const char*> {};

TEST_P(DirectorMatchesReference, AtBatchFourAndItemByItem) {
  const std::string bundle = GetParam();
  RefCase ref(bundle);
  ASSERT_EQ(ref.rgb.size(), 4u * 3 * ref.crop * ref.crop);

  std::vector<float> b4 = run(kFixtures + "/" + bundle + "/model_b4.onnx", ref.inputs);
  ASSERT_EQ(b4.size(), ref.rgb.size());
  EXPECT_LT(maxAbsDiff(b4.data(), ref.rgb.data(), b4.size()), 2e-4f);

  const size_t item = b4.size() / 4;
  for (int i = 0; i < 4; ++i) {
    std::vector<Input> one = ref.item(i);
    std::vector<float> b1 = run(kFixtures + "/" + bundle + "/model_b1.onnx", one);
    ASSERT_EQ(b1.size(), item);
    EXPECT_LT(maxAbsDiff(b1.data(), ref.rgb.data() + i * item, item), 2e-4f) << "item " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Bake, DirectorMatchesReference,
                         testing::Values("test", "test-crop128", "test-two-concat",
                                         "test-kp-dynamic", "test-batch-dynamic"),
                         [](const auto& info) {
                           std::string n = info.param;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

// Graphs the reference does not model still load and render a finite crop of the right shape.
struct VariantCase {
  const char* bundle;
  int rows;
  bool featSynth;
};

class DirectorVariantRuns : public testing::TestWithParam<VariantCase> {};

TEST_P(DirectorVariantRuns, ProducesAFiniteCrop) {
  const VariantCase c = GetParam();
  const int64_t crop = 64;
  std::vector<Input> in;
  if (c.featSynth) in.push_back({"fs_red", {1, 64, 64, 64}, std::vector<float>(64 * 64 * 64, 0.4f)});
  in.push_back({c.featSynth ? "pooled" : "pooled64", {1, 64, 32, 32},
                std::vector<float>(64 * 32 * 32, 0.1f)});
  if (!c.featSynth) in.push_back({"P_rgb", {1, 3, crop, crop}, std::vector<float>(3 * crop * crop, 0.5f)});
  std::vector<float> kp(c.rows * 3, 0.0f);
  for (int r = 0; r < c.rows; ++r) kp[r * 3 + 1] = -0.5f + r * 0.05f;
  in.push_back({c.featSynth ? "kd" : "kp_driving", {1, c.rows, 3}, kp});
  in.push_back({c.featSynth ? "ks" : "kp_source", {1, c.rows, 3}, kp});

  std::vector<float> rgb = run(kFixtures + "/" + c.bundle + "/model_b1.onnx", in);
  ASSERT_EQ(rgb.size(), static_cast<size_t>(3 * crop * crop));
  EXPECT_TRUE(std::all_of(rgb.begin(), rgb.end(), [](float v) { return std::isfinite(v); }));
}

INSTANTIATE_TEST_SUITE_P(Bake, DirectorVariantRuns,
                         testing::Values(VariantCase{"test-featsynth", 21, true},
                                         VariantCase{"test-kp22", 22, false},
                                         VariantCase{"test-kp20", 20, false},
                                         VariantCase{"test-gs-zeros", 21, false}),
                         [](const auto& info) {
                           std::string n = info.param.bundle;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

}  // namespace
