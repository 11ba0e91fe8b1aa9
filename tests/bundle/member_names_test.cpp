#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "bundle/member_names.h"
#include "le/le.h"
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

// The error text of resolveMember, or "" when it resolves.
std::string refusal(const std::string& root, const std::string& name) {
  try {
    le::resolveMember(root, name);
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}

struct EscapingName {
  const char* name;
  const char* why;
};

class MemberLeavingTheRoot : public testing::TestWithParam<EscapingName> {};

TEST_P(MemberLeavingTheRoot, IsRefusedNamingTheMember) {
  TempDir dir;
  EXPECT_EQ(refusal(dir.path(), GetParam().name),
            std::string("bundle: refusing member '") + GetParam().name + "': " + GetParam().why);
}

const char* const kAbsolute = "a member name is a path relative to the bundle root, not an absolute one";
const char* const kDotDot = "a '..' component would leave the bundle root";

INSTANTIATE_TEST_SUITE_P(Names, MemberLeavingTheRoot,
                         testing::Values(EscapingName{"../../etc", kDotDot}, EscapingName{"../../../etc/passwd", kDotDot},
                                         EscapingName{"drive/../../x.f32", kDotDot}, EscapingName{"..", kDotDot},
                                         EscapingName{"target_frames/..", kDotDot},
                                         EscapingName{"/dev/zero", kAbsolute}, EscapingName{"\\share", kAbsolute},
                                         EscapingName{"", "a member name cannot be empty"}));

TEST(ResolveMember, NamesThatOnlyLookLikeEscapesStayInside) {
  TempDir dir;
  EXPECT_EQ(le::resolveMember(dir.path(), "a..b.f32"), dir / "a..b.f32");
  EXPECT_EQ(le::resolveMember(dir.path(), "sub/./x"), dir / "sub/./x");
}

TEST(ResolveMember, LinksMayStayInsideButNeverLeaveTheRoot) {
  TempDir dir, outside;
  writeFile(outside / "secret", "s");
  writeFile(dir / "bundle/real/x.f32", "x");
  const std::string root = dir / "bundle";
  std::filesystem::create_directory_symlink("real", root + "/inner");
  std::filesystem::create_directory_symlink(outside.path(), root + "/out");
  std::filesystem::create_symlink(outside / "secret", root + "/M.f32");
  EXPECT_EQ(le::resolveMember(root, "inner/x.f32"), root + "/inner/x.f32");
  const std::string real = std::filesystem::canonical(outside / "secret").string();
  const std::string realRoot = std::filesystem::canonical(root).string();
  for (const char* name : {"out/secret", "M.f32"})
    EXPECT_EQ(refusal(root, name), std::string("bundle: refusing member '") + name + "': it resolves to " + real +
                                       ", outside the bundle directory " + realRoot + " (a link leaves the bundle)");
  // A link out of the root that leads nowhere opens nothing, so it is reported as missing.
  EXPECT_EQ(le::resolveMember(root, "out/gone"), root + "/out/gone");
}

TEST(ResolveMemberExport, NamesLeavingTheBundleAreRefusedWithTheReason) {
  TempDir dir;
  char out[4096] = "unchanged";
  EXPECT_EQ(le_bundle_resolve_member(dir.path().c_str(), "../../../etc/passwd", out, sizeof out), -1);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(std::string(le_last_error()),
            std::string("le_bundle_resolve_member: bundle: refusing member '../../../etc/passwd': ") + kDotDot);
  EXPECT_EQ(le_bundle_resolve_member(dir.path().c_str(), "M.f32", out, sizeof out), 0);
  EXPECT_STREQ(le_last_error(), "");
}
