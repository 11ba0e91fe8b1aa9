#include <gtest/gtest.h>

#include "bundle/member_names.h"
#include "support/temp_dir.h"

using le::test::TempDir;
using le::test::writeFile;

struct NamePair {
  const char* welded;
  const char* descriptive;
};

class DescriptiveName : public testing::TestWithParam<NamePair> {};

TEST_P(DescriptiveName, MapsWeldedToDescriptive) {
  EXPECT_EQ(le::descriptiveMemberName(GetParam().welded), GetParam().descriptive);
}

INSTANTIATE_TEST_SUITE_P(
    Names, DescriptiveName,
    testing::Values(NamePair{"P.f16", "source_frames.f16"}, NamePair{"P_hevc.mov", "source_frames.hevc"},
                    NamePair{"a2x_dec.onnx", "audio_motion_decoder.onnx"},
                    NamePair{"mask_512.u8", "paste_mask.u8"}, NamePair{"xs_target.bin", "target_keypoints.bin"},
                    NamePair{"model_b1.onnx", "render_model.batch1.onnx"},
                    NamePair{"model_b4_int8.onnx", "render_model.batch4.int8.onnx"},
                    NamePair{"model_b4_a_b.onnx", "render_model.batch4.a_b.onnx"},
                    NamePair{"model_b.onnx", "model_b.onnx"},
                    NamePair{"drive/xs.f32", "idle_loop/source_keypoints.f32"},
                    NamePair{"drive/xd.f32", "idle_loop/driven_keypoints.f32"},
                    NamePair{"drive/si.i32", "idle_loop/source_index.i32"},
                    NamePair{"drive/other.tar.gz", "idle_loop/other.tar.gz"},
                    NamePair{"drive/xs", "idle_loop/source_keypoints"},
                    NamePair{"manifest.json", "manifest.json"}));

TEST(ResolveMember, WeldedWinsThenDescriptiveThenWeldedAsMissing) {
  TempDir dir;
  EXPECT_EQ(le::resolveMember(dir.path(), "M.f32"), dir / "M.f32");
  writeFile(dir / "paste_transform.f32", "d");
  EXPECT_EQ(le::resolveMember(dir.path(), "M.f32"), dir / "paste_transform.f32");
  writeFile(dir / "M.f32", "w");
  EXPECT_EQ(le::resolveMember(dir.path(), "M.f32"), dir / "M.f32");
  writeFile(dir / "render_model.batch8.onnx", "m");
  EXPECT_EQ(le::resolveMember(dir.path(), "model_b8.onnx"), dir / "render_model.batch8.onnx");
  writeFile(dir / "idle_loop/source_index.i32", "s");
  EXPECT_EQ(le::resolveMember(dir.path(), "drive/si.i32"), dir / "idle_loop/source_index.i32");
}
