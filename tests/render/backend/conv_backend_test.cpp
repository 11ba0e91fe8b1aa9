// The native backend's contract on a platform without it, and its recogniser, which finds the
// fused director's tensors by shape whatever an export tool named them.
#include "render/backend/conv_backend.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "render/graph/onnx_emitter.h"
#include "render/graph/onnx_graph_reader.h"
#include "support/temp_dir.h"

namespace {

using Dims = std::vector<int64_t>;
struct Init {
  std::string name;
  Dims dims;
};

// A model whose graph holds only initializers of the given names and shapes (dims without data:
// the recogniser reads no values).
std::string writeModel(const le::test::TempDir& dir, const std::vector<Init>& inits) {
  le::GsBytes graph, model;
  for (const Init& i : inits) le::gsInit(graph, i.name, 1, i.dims, nullptr, 0);
  le::gsPutVarintField(model, 1, 8);
  le::gsPutBytes(model, le::kModelGraph, graph);
  const std::string path = dir / "model.onnx";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(model.data()), std::streamsize(model.size()));
  return path;
}

const std::vector<Init> kFused = {{"onnx::Conv_417", {96, 85, 1, 1}},
                                  {"onnx::Conv_418", {96}},
                                  {"/grid/Constant_output_0", {1, 1, 32, 32, 2}},
                                  {"onnx::MatMul_9", {64, 196608}},
                                  {"head.w", {3, 96, 3, 3}}};

std::string verdict(const std::vector<Init>& inits) {
  le::test::TempDir dir;
  std::string reason;
  const bool supported = le::ConvBackend::graphSupported(writeModel(dir, inits), &reason);
  return supported ? "supported" : reason;
}

std::vector<Init> with(std::vector<Init> inits, size_t index, Init replacement) {
  inits[index] = std::move(replacement);
  return inits;
}

TEST(ConvBackend, IsNotAvailableHereAndRefusesToBeCreated) {
  EXPECT_FALSE(le::ConvBackend::available());
  try {
    le::ConvBackend::create("model.onnx", 2);
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "le_conv: built without NEON fp16 support");
  }
}

TEST(ConvBackendRecogniser, FindsTheFusedGraphByShapes) {
  EXPECT_EQ(verdict(kFused), "supported");
  // The bias may carry the counter before the weight's as well as after it.
  EXPECT_EQ(verdict(with(kFused, 1, {"onnx::Conv_416", {96}})), "supported");
}

TEST(ConvBackendRecogniser, NamesWhatIsMissingOrAmbiguous) {
  EXPECT_EQ(verdict(with(kFused, 0, {"onnx::Conv_417", {96, 84, 1, 1}})), "pre weight (96,85,1,1) absent or ambiguous");
  std::vector<Init> twoPre = kFused;
  twoPre.push_back({"onnx::Conv_500", {96, 85, 1, 1}});
  EXPECT_EQ(verdict(twoPre), "pre weight (96,85,1,1) absent or ambiguous");
  EXPECT_EQ(verdict(with(kFused, 0, {"pre.weight", {96, 85, 1, 1}})), "pre weight name carries no SSA counter");
  EXPECT_EQ(verdict(with(kFused, 1, {"onnx::Conv_418", {95}})), "pre bias onnx::Conv_418 absent or not (96)");
  EXPECT_EQ(verdict(with(kFused, 1, {"onnx::Conv_420", {96}})), "pre bias onnx::Conv_418 absent or not (96)");
  std::vector<Init> twoGrids = kFused;
  twoGrids.push_back({"grid_b", {1, 1, 32, 32, 2}});
  EXPECT_EQ(verdict(twoGrids), "grid32 (1,1,32,32,2) absent or ambiguous");
  EXPECT_EQ(verdict(with(kFused, 3, {"basis", {64, 196607}})), "basis (64,196608) absent or ambiguous");
}

TEST(ConvBackendRecogniser, RefusesTheBakedDirectorAndUnreadableFiles) {
  std::string reason;
  EXPECT_FALSE(le::ConvBackend::graphSupported(std::string(LE_TEST_FIXTURES) + "/director-512/model_b1.onnx", &reason));
  EXPECT_EQ(reason, "pre weight (96,85,1,1) absent or ambiguous");
  EXPECT_FALSE(le::ConvBackend::graphSupported("/nonexistent/model.onnx", &reason));
  EXPECT_EQ(reason, "cannot read /nonexistent/model.onnx");
  EXPECT_FALSE(le::ConvBackend::graphSupported(LE_TEST_FIXTURES, &reason));
}

}  // namespace
