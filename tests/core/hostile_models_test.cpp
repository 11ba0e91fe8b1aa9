// Networks in a bundle that declare what no network has (absurd shapes, weights the file does not
// carry, weights kept elsewhere), as a host meets them: the first render, or the creation of the
// audio engine, fails with a text that names the model and the reason, and nothing is allocated by
// the declaration.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "le/le.h"
#include "le/le_a2x.h"
#include "render/graph/onnx_emitter.h"
#include "support/onnx_surgery.h"
#include "core/first_render.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

using le::GsBytes;
using le::GsField;
using le::GsSlice;
using le::test::firstRenderError;
using le::test::ScopedEnv;
using le::test::TempDir;

namespace {

const std::string kFixtures = LE_TEST_FIXTURES;

GsBytes readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return GsBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const GsBytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(bytes.data()),
                                                                 std::streamsize(bytes.size()));
}

struct ModelCase {
  const char* name;
  const char* fixture;
  // The damaged model from the baked one.
  std::function<GsBytes(const GsBytes&)> damage;
  // The reason after "le_render_kp_crop: ", given the model's path and the baked model.
  std::function<std::string(const std::string& path, const GsBytes& baked)> expected;
};

class HostileDirector : public testing::TestWithParam<ModelCase> {};

TEST_P(HostileDirector, IsRefusedAtTheFirstRender) {
  TempDir dir;
  const std::string root = dir / "bundle";
  std::filesystem::copy(kFixtures + "/" + GetParam().fixture, root, std::filesystem::copy_options::recursive);
  const std::string path = root + "/model_b1.onnx";
  const GsBytes baked = readBytes(path);
  writeBytes(path, GetParam().damage(baked));
  EXPECT_EQ(firstRenderError(root), "le_render_kp_crop: " + GetParam().expected(path, baked));
}

// The raw_data bytes of the largest initializer.
size_t largestBytes(const GsBytes& model) {
  size_t most = 0;
  le::GsReader reader(le::gsGraphOf(le::gsSliceOf(model)));
  GsField f;
  while (reader.next(f))
    if (f.number == le::kGraphInitializer && f.wireType == 2) most = std::max(most, le::gsPayload(f.payload).size);
  return most;
}

GsBytes withLargestDims(const GsBytes& model, const std::vector<int64_t>& dims, const GsBytes& extra = {}) {
  return le::test::editInitializer(model, le::test::largestInitializer(model),
                                   [&](GsSlice tensor) { return le::test::tensorWithDims(tensor, dims, extra); });
}

// The model with its input `name` declared with these dims.
GsBytes withInputDims(const GsBytes& model, const std::string& name, const std::vector<int64_t>& dims) {
  return le::test::editGraph(model, [&](const GsField& f, GsBytes& out) {
    if (f.number == le::kGraphInput && le::gsFirstStr(f.payload, le::kValueInfoName) == name)
      le::gsPutTensorValueInfo(out, le::kGraphInput, name, dims.data(), dims.size());
    else
      le::gsPutRaw(out, f.raw);
  });
}

std::string refusing(const std::string& path, const std::string& why) {
  return "Renderer: refusing " + path + ": onnx: " + why;
}

INSTANTIATE_TEST_SUITE_P(
    Models, HostileDirector,
    testing::Values(
        ModelCase{"CutShort",
                  "test",
                  [](const GsBytes& m) { return GsBytes(m.begin(), m.begin() + std::ptrdiff_t(m.size() / 2)); },
                  [](const std::string& path, const GsBytes&) { return refusing(path, "truncated"); }},
        ModelCase{"HugeInitializer",
                  "test",
                  [](const GsBytes& m) { return withLargestDims(m, {65536, 65536}); },
                  [](const std::string& path, const GsBytes& m) {
                    return refusing(path, "initializer '" + le::test::largestInitializer(m) +
                                              "' declares the shape [65536,65536], more than the limit of "
                                              "268435456 elements");
                  }},
        ModelCase{"InitializerClaimsTwiceItsData",
                  "test",
                  [](const GsBytes& m) { return withLargestDims(m, {int64_t(largestBytes(m) / 2)}); },
                  [](const std::string& path, const GsBytes& m) {
                    const size_t bytes = largestBytes(m);
                    return refusing(path, "initializer '" + le::test::largestInitializer(m) + "' declares [" +
                                              std::to_string(bytes / 2) + "] (" + std::to_string(bytes * 2) +
                                              " bytes) but its data holds " + std::to_string(bytes) + " bytes");
                  }},
        ModelCase{"NegativeDimension",
                  "test",
                  [](const GsBytes& m) { return withLargestDims(m, {-1}); },
                  [](const std::string& path, const GsBytes& m) {
                    return refusing(path, "initializer '" + le::test::largestInitializer(m) +
                                              "' declares the negative dimension -1 in [-1]");
                  }},
        ModelCase{"ExternalWeights",
                  "test",
                  [](const GsBytes& m) {
                    GsBytes location;
                    le::gsPutVarintField(location, 14, 1);
                    return withLargestDims(m, {int64_t(largestBytes(m) / 4)}, location);
                  },
                  [](const std::string& path, const GsBytes& m) {
                    return refusing(path, "initializer '" + le::test::largestInitializer(m) +
                                              "' keeps its data in an external file; a bundle's model carries its "
                                              "weights inside itself");
                  }},
        ModelCase{"HugeBatchDeclared",
                  "test",
                  [](const GsBytes& m) { return withInputDims(m, "pooled64", {int64_t(1) << 40, 64, 32, 32}); },
                  [](const std::string& path, const GsBytes&) {
                    return refusing(path, "input 'pooled64' declares the shape [1099511627776,64,32,32], more than "
                                          "the limit of 268435456 elements");
                  }},
        // Within every tensor limit, yet past any batch a director renders: the buffers for it are
        // never sized.
        ModelCase{"BatchPastTheLimit",
                  "test-batch-dynamic",
                  [](const GsBytes& m) { return withInputDims(m, "pooled64", {65, 64, 32, 32}); },
                  [](const std::string&, const GsBytes&) {
                    return std::string("Renderer: pooled64 declares batch 65, which exceeds the limit of 64");
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

// The audio engine's networks are bundle members too.
TEST(HostileA2xModel, CutEncoderIsRefusedAtCreate) {
  TempDir dir;
  const std::string root = dir / "bundle";
  std::filesystem::copy(kFixtures + "/test", root, std::filesystem::copy_options::recursive);
  const std::string path = root + "/a2x_enc_stream.onnx";
  const GsBytes baked = readBytes(path);
  writeBytes(path, GsBytes(baked.begin(), baked.begin() + std::ptrdiff_t(baked.size() / 2)));
  ScopedEnv w2v("W2V_ONNX", (kFixtures + "/speech/w2v_8s.onnx").c_str());
  testing::internal::CaptureStderr();
  le_a2x* a = le_a2x_create(root.c_str(), 1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(std::string(le_a2x_last_error()), "le_a2x_create: refusing model " + path + ": onnx: truncated");
  le_a2x_destroy(a);
}

}  // namespace
