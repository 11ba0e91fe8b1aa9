// Every refusal of the director at load, as a host meets it: the first render on a session of a
// baked variant fails, and le_last_error() carries the renderer's exact text.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "le/le.h"
#include "core/first_render.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

using le::test::firstRenderError;
using le::test::ScopedEnv;
using le::test::TempDir;

namespace {

const std::string kFixtures = LE_TEST_FIXTURES;
const std::string kDash = "\xe2\x80\x94";

std::string xnnpackText(const std::string& ep) {
  return "Renderer: ep '" + ep +
         "' is REFUSED. This renderer rewrites its graph to Zentrova custom-domain nodes "
         "(com.zentrova::GridSampleFast, and com.zentrova::WarpDirector wherever LE_WARP_NODE is on), and ORT's "
         "XNNPACK execution provider SEGFAULTS while partitioning a graph that carries them. This was measured on "
         "2026-09-15 on a published ombrine2-android AAR as a null dereference inside libonnxruntime.so at session "
         "create, on a door-served and on a hand-staged copy of the same identity. It is a signal, not an exception, "
         "so it cannot be caught and reported. Use the default ep (\"\", the ORT CPU EP), which opens the same bundle "
         "on the same bytes.";
}

std::string keypointText(const std::string& model, int rows) {
  std::string text = "Renderer: HOST KEYPOINT CONTRACT MISMATCH on " + model + " " + kDash +
                     " the graph declares kp_driving with " + std::to_string(rows) +
                     " keypoint rows, and this renderer feeds 21 (le::kHostKpRows, le/le.h). ";
  if (rows == 22)
    text +=
        "That is the recipe_v4 / kd_v4 shape: row 21 is the WIDTH ROW (wn, seal, 0), fed from the a2x encoder's "
        "second output. This engine has no width feed (see le_a2x_width / le_a2x_pull_wn in le/le_a2x.h, which "
        "nothing on this path calls yet), so it cannot drive this director. ";
  return text +
         "REFUSING AT LOAD rather than dying inside ORT at the first Run. This build must not have been published to "
         "a host that links this renderer: training/recipe/host_kp_contract.py is the publish gate that exists to "
         "prevent it.";
}

std::string bakedGridSampleText(const std::string& model) {
  return "Renderer: LE_GS_FAST=0 (or ZENTROVA_OMBRINE2_GRIDSAMPLE_FAST=0, which sets it) was asked for, but " + model +
         " has com.zentrova::GridSampleFast BAKED INTO THE GRAPH. That flag disables the custom-op registration, so "
         "there would be no kernel to bind and this session would die inside ORT with 'GridSampleFast(-1) is not a "
         "registered function/op'. There is no standard-GridSample arm on this bundle to measure: the artifact "
         "itself is non-standard. Run the A/B on a STANDARD-ONNX bundle (the shipping format since "
         "INFERENCE_STANDARDIZATION.md #1), or unset the flag to load this one.";
}

const std::string kNoPriorText =
    "m4b graph (P_rgb input) but this bundle carries no warp prior: neither P.f16, nor fs_red.f16, nor a P_hevc.mov "
    "to play in place is present, so le::Identity mapped NOTHING and Identity::P(si) would be an offset from a null "
    "pointer " +
    kDash + " a SEGFAULT on the first frame, not a refusal. REFUSING to create a session.";

// A bundle to open: a fixture as baked, or a private copy that `prepare` edits.
struct RefusalCase {
  const char* name;
  const char* fixture;
  const char* modelKey;
  const char* ep;
  const char* gsFast;  // LE_GS_FAST for the render, null to leave it unset
  std::function<void(const std::string& root)> prepare;
  // The expected text after "le_render_kp_crop: ", given the bundle root.
  std::function<std::string(const std::string& root)> expected;
};

class RendererRefuses : public testing::TestWithParam<RefusalCase> {};

TEST_P(RendererRefuses, WithItsExactText) {
  const RefusalCase& c = GetParam();
  TempDir dir;
  std::string root = kFixtures + "/" + c.fixture;
  if (c.prepare) {
    const std::string copy = dir / c.fixture;
    std::filesystem::copy(root, copy, std::filesystem::copy_options::recursive);
    c.prepare(copy);
    root = copy;
  }
  ScopedEnv gsFast("LE_GS_FAST", c.gsFast);
  EXPECT_EQ(firstRenderError(root, c.modelKey, c.ep), "le_render_kp_crop: " + c.expected(root));
}

void removeFile(const std::string& path) { ASSERT_TRUE(std::filesystem::remove(path)) << path; }

void copyModel(const std::string& fromFixture, const std::string& to) {
  std::filesystem::copy_file(kFixtures + "/" + fromFixture + "/model_b1.onnx", to);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, RendererRefuses,
    testing::Values(
        RefusalCase{"Xnnpack", "test", "b1", "xnnpack", nullptr, nullptr,
                    [](const std::string&) { return xnnpackText("xnnpack"); }},
        RefusalCase{"XnnpackPrefix", "test", "b1", "xnnpack:fp16", nullptr, nullptr,
                    [](const std::string&) { return xnnpackText("xnnpack:fp16"); }},
        RefusalCase{"UnknownEp", "test", "b1", "cuda", nullptr, nullptr,
                    [](const std::string&) { return std::string("Renderer: unknown ep 'cuda'"); }},
        RefusalCase{"DynamicBatch", "test-batch-dynamic", "b1", nullptr, nullptr, nullptr,
                    [](const std::string&) { return std::string("pooled64 input not found / bad shape"); }},
        RefusalCase{"WidthRow22", "test-kp22", "b1", nullptr, nullptr, nullptr,
                    [](const std::string& root) { return keypointText(root + "/model_b1.onnx", 22); }},
        RefusalCase{"Rows20", "test-kp20", "b4", nullptr, nullptr, nullptr,
                    [](const std::string& root) { return keypointText(root + "/model_b4.onnx", 20); }},
        RefusalCase{"BakedGridSampleFastWithoutTheDomain", "test-gs-fast", "b1", nullptr, "0", nullptr,
                    [](const std::string& root) { return bakedGridSampleText(root + "/model_b1.onnx"); }},
        RefusalCase{"FeatSynthGraphWithoutFsRed", "test", "fs", nullptr, nullptr,
                    [](const std::string& root) { copyModel("test-featsynth", root + "/model_fs.onnx"); },
                    [](const std::string&) { return std::string("FeatSynth graph but bundle lacks fs_red.f16"); }},
        RefusalCase{"M4bGraphWithoutWarpPrior", "test-featsynth", "m4b", nullptr, nullptr,
                    [](const std::string& root) {
                      removeFile(root + "/P.f16");
                      copyModel("test", root + "/model_m4b.onnx");
                    },
                    [](const std::string&) { return kNoPriorText; }},
        RefusalCase{"MissingModel", "test", "nope", nullptr, nullptr, nullptr,
                    [](const std::string& root) { return "Renderer: cannot open " + root + "/model_nope.onnx"; }},
        RefusalCase{"ModelIsADirectory", "test", "b1", nullptr, nullptr,
                    [](const std::string& root) {
                      removeFile(root + "/model_b1.onnx");
                      std::filesystem::create_directory(root + "/model_b1.onnx");
                    },
                    [](const std::string& root) {
                      return "Renderer: " + root + "/model_b1.onnx is not a regular file (a directory), so it holds "
                             "no model";
                    }},
        RefusalCase{"ModelKeyLeavesTheBundle", "test", "/../../../etc/passwd", nullptr, nullptr, nullptr,
                    [](const std::string&) {
                      return std::string("bundle: refusing member 'model_/../../../etc/passwd.onnx': a '..' "
                                         "component would leave the bundle root");
                    }}),
    [](const auto& info) { return std::string(info.param.name); });

// Variants the renderer serves: each renders its first crop.
struct LoadCase {
  const char* name;
  const char* fixture;
  const char* ep;
  const char* gsFast;
  const char* expectLog;  // a line the load prints
};

class RendererLoads : public testing::TestWithParam<LoadCase> {};

TEST_P(RendererLoads, AndRenders) {
  const LoadCase& c = GetParam();
  ScopedEnv gsFast("LE_GS_FAST", c.gsFast);
  testing::internal::CaptureStderr();
  le_ctx* ctx = le_create((kFixtures + "/" + c.fixture).c_str(), "b1", 1, c.ep);
  ASSERT_NE(ctx, nullptr) << le_last_error();
  const std::vector<float> kp(63, 0.1f);
  const float* crop = le_render_kp_crop(ctx, 0, kp.data(), kp.data());
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(crop, nullptr) << le_last_error();
  EXPECT_STREQ(le_last_error(), "");
  EXPECT_NE(log.find(c.expectLog), std::string::npos) << log;
  le_destroy(ctx);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, RendererLoads,
    testing::Values(
        LoadCase{"DynamicRowCount", "test-kp-dynamic", nullptr, nullptr, "[le] director ep=cpu (ORT CPU EP)"},
        LoadCase{"BakedGridSampleFast", "test-gs-fast", nullptr, nullptr, "[le] director ep=cpu (ORT CPU EP)"},
        LoadCase{"StandardGraphWithoutTheDomain", "test", nullptr, "0", "[le] director ep=cpu (ORT CPU EP)"},
        LoadCase{"CoreMLFallsBackToTheCpu", "test", "coreml", nullptr,
                 " \xe2\x80\x94 falling back to the ORT CPU EP\n[le] !!! compose alpha"},
        LoadCase{"CoreMLUnitFallsBackToTheCpu", "test", "coreml:ane", nullptr, "[le] CoreML EP session refused: "},
        LoadCase{"NeonFallsBackToOrt", "test", "neon", nullptr,
                 "[le] fp16 NEON backend requested but unavailable on this build/CPU; using ORT\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RendererLoad, AFailedCreationIsRetriedByTheNextRender) {
  const std::string bundle = kFixtures + "/test-gs-fast";
  testing::internal::CaptureStderr();
  le_ctx* ctx = le_create(bundle.c_str(), "b1", 1, nullptr);
  ASSERT_NE(ctx, nullptr);
  const std::vector<float> kp(63, 0.1f);
  {
    ScopedEnv gsFast("LE_GS_FAST", "0");
    EXPECT_EQ(le_render_kp_crop(ctx, 0, kp.data(), kp.data()), nullptr);
  }
  EXPECT_EQ(std::string(le_last_error()).rfind("le_render_kp_crop: Renderer: LE_GS_FAST=0", 0), 0u);
  EXPECT_NE(le_render_kp_crop(ctx, 0, kp.data(), kp.data()), nullptr) << le_last_error();
  EXPECT_STREQ(le_last_error(), "");
  testing::internal::GetCapturedStderr();
  le_destroy(ctx);
}

TEST(RendererLoad, RewriteAndFallbackLogLines) {
  ScopedEnv rewrite("LE_GS_REWRITE", "0");
  testing::internal::CaptureStderr();
  le_ctx* ctx = le_create((kFixtures + "/test").c_str(), "b1", 1, nullptr);
  ASSERT_NE(ctx, nullptr);
  const std::vector<float> kp(63, 0.1f);
  EXPECT_NE(le_render_kp_crop(ctx, 0, kp.data(), kp.data()), nullptr) << le_last_error();
  le_destroy(ctx);
  const std::string withoutRewrite = testing::internal::GetCapturedStderr();
  EXPECT_NE(withoutRewrite.find("[le] LE_GS_REWRITE=0: load-time std GridSample -> com.zentrova::GridSampleFast "
                                "rewrite DISABLED (b1); the custom op is still registered"),
            std::string::npos)
      << withoutRewrite;
  EXPECT_EQ(withoutRewrite.find("GridSampleFast load-time rewrite:"), std::string::npos) << withoutRewrite;
}

}  // namespace
