// Runs the baked speech encoder and a2x graphs through ONNX Runtime on the baker's reference
// cases (fixtures/a2x-ref/<case>/case.txt): every output must match what the numpy reference
// computes, so what the Python tests show of the reference (loudness opens the mouth, silence
// keeps the target, the band mask masks) holds for the graphs the library runs.
#include <gtest/gtest.h>
#include <onnxruntime_cxx_api.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kRef = std::string(LE_TEST_FIXTURES) + "/a2x-ref/";

std::vector<float> readFloats(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot open " << path;
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> out(bytes.size() / sizeof(float));
  std::memcpy(out.data(), bytes.data(), out.size() * sizeof(float));
  return out;
}

struct Tensor {
  std::string name;
  std::vector<int64_t> shape;
  std::vector<float> data;
  float tolerance = 0;
};

struct Case {
  std::string model;
  std::vector<Tensor> inputs, outputs;

  explicit Case(const std::string& name) {
    const std::string dir = kRef + name + "/";
    std::ifstream in(dir + "case.txt");
    EXPECT_TRUE(in.good()) << "missing " << dir << "case.txt";
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream words(line);
      std::string kind;
      Tensor t;
      words >> kind >> t.name;
      if (kind == "model") {
        model = std::string(LE_TEST_FIXTURES) + "/" + t.name;
      } else if (kind == "input") {
        for (int64_t d; words >> d;) t.shape.push_back(d);
        t.data = readFloats(dir + "in." + t.name + ".f32");
        inputs.push_back(t);
      } else if (kind == "output") {
        words >> t.tolerance;
        t.data = readFloats(dir + "out." + t.name + ".f32");
        outputs.push_back(t);
      }
    }
  }
};

float halfToFloat(uint16_t h) {
  const int exponent = (h >> 10) & 31, mantissa = h & 1023;
  const float v = exponent == 0 ? std::ldexp(static_cast<float>(mantissa), -24)
                                : std::ldexp(static_cast<float>(mantissa | 1024), exponent - 25);
  return (h & 0x8000) ? -v : v;
}

std::vector<float> valuesOf(const Ort::Value& v) {
  const auto info = v.GetTensorTypeAndShapeInfo();
  const size_t n = info.GetElementCount();
  std::vector<float> out(n);
  if (info.GetElementType() == ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16) {
    const uint16_t* p = v.GetTensorData<uint16_t>();
    std::transform(p, p + n, out.begin(), halfToFloat);
  } else {
    const float* p = v.GetTensorData<float>();
    std::copy(p, p + n, out.begin());
  }
  return out;
}

class SpeechGraphMatchesReference : public testing::TestWithParam<const char*> {};

TEST_P(SpeechGraphMatchesReference, OutputByOutput) {
  Case c(GetParam());
  ASSERT_FALSE(c.model.empty());
  static Ort::Env env(ORT_LOGGING_LEVEL_WARNING, "le_bake_speech_tests");
  Ort::SessionOptions opts;
  opts.SetIntraOpNumThreads(1);
  Ort::Session session(env, c.model.c_str(), opts);
  Ort::MemoryInfo mem = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  std::vector<Ort::Value> values;
  std::vector<const char*> inNames, outNames;
  for (Tensor& t : c.inputs) {
    values.push_back(Ort::Value::CreateTensor<float>(mem, t.data.data(), t.data.size(),
                                                     t.shape.data(), t.shape.size()));
    inNames.push_back(t.name.c_str());
  }
  for (const Tensor& t : c.outputs) outNames.push_back(t.name.c_str());
  auto out = session.Run(Ort::RunOptions{nullptr}, inNames.data(), values.data(), values.size(),
                         outNames.data(), outNames.size());
  for (size_t i = 0; i < c.outputs.size(); ++i) {
    const Tensor& want = c.outputs[i];
    const std::vector<float> got = valuesOf(out[i]);
    ASSERT_EQ(got.size(), want.data.size()) << want.name;
    float worst = 0;
    for (size_t k = 0; k < got.size(); ++k) worst = std::max(worst, std::fabs(got[k] - want.data[k]));
    EXPECT_LE(worst, want.tolerance) << want.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Bake, SpeechGraphMatchesReference,
                         testing::Values("speech-trunk", "speech-trunk-lt-dynamic", "speech-head",
                                         "speech-8s", "a2x-test-encoder", "a2x-test-decoder",
                                         "a2x-demo-encoder", "a2x-demo-decoder"),
                         [](const auto& info) {
                           std::string n = info.param;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

}  // namespace
