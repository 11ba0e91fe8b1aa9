// Bundle members that are not regular files, as a host meets them through le_create and
// le_bundle_resolve_member: a FIFO (whose open would wait for a writer forever), a device (whose
// content never ends), a directory, or a link out of the bundle are refused with a reason.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "le/le.h"
#include "le/le_a2x.h"
#include "support/fifo_watchdog.h"
#include "support/temp_dir.h"

using le::test::FifoWatchdog;
using le::test::TempDir;

namespace {

const std::string kFixtures = LE_TEST_FIXTURES;

// A private copy of the baked test bundle, to damage.
std::string copyOfTestBundle(const TempDir& dir) {
  const std::string root = dir / "test";
  std::filesystem::copy(kFixtures + "/test", root, std::filesystem::copy_options::recursive);
  return root;
}

// le_create's error text for the bundle at root ("" when it opened).
std::string createError(const std::string& root) {
  testing::internal::CaptureStderr();
  le_ctx* ctx = le_create(root.c_str(), "b1", 1, nullptr);
  testing::internal::GetCapturedStderr();
  const std::string error = ctx ? "" : le_last_error();
  le_destroy(ctx);
  return error;
}

class FifoMember : public testing::TestWithParam<const char*> {};

TEST_P(FifoMember, IsRefusedWithoutWaitingForAWriter) {
  TempDir dir;
  const std::string root = copyOfTestBundle(dir);
  const std::string path = root + "/" + GetParam();
  std::filesystem::remove(path);
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  std::string error;
  {
    FifoWatchdog watchdog(path);
    error = createError(root);
  }
  EXPECT_EQ(error, "le_create: bundle: refusing member '" + std::string(GetParam()) + "': " + path +
                       " is a FIFO, not a regular file: a bundle member is read to its end");

  char out[4096];
  FifoWatchdog watchdog(path);
  EXPECT_EQ(le_bundle_resolve_member(root.c_str(), GetParam(), out, sizeof out), -1);
  EXPECT_EQ(std::string(le_last_error()), "le_bundle_resolve_member: bundle: refusing member '" +
                                              std::string(GetParam()) + "': " + path +
                                              " is a FIFO, not a regular file: a bundle member is read to its end");
}

// Each reader of a session's bundle: manifest, identity arrays, drive tables, paste mask, driver
// frames and the optional lip template (whose absence is no error, but a FIFO in its place is).
INSTANTIATE_TEST_SUITE_P(Members, FifoMember,
                         testing::Values("manifest.json", "lip_template.v1.json", "P.f16", "pooled64.f16", "M.f32",
                                         "drive/xs.f32", "drive/si.i32", "mask_512.u8",
                                         "target_frames/frame_000000.jpg"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// A directory where a file belongs holds nothing to read; the reader says so rather than reading
// the directory's size as the member's.
class DirectoryMember : public testing::TestWithParam<const char*> {};

TEST_P(DirectoryMember, IsRefusedAsNotARegularFile) {
  TempDir dir;
  const std::string root = copyOfTestBundle(dir);
  const std::string path = root + "/" + GetParam();
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  EXPECT_EQ(createError(root), "le_create: " + path + " is a directory, not a regular file");
}

INSTANTIATE_TEST_SUITE_P(Members, DirectoryMember,
                         testing::Values("manifest.json", "lip_template.v1.json", "pooled64.f16", "M.f32",
                                         "drive/xd.f32"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

TEST(DeviceMember, LinkToDevZeroLeavesTheBundleAndIsRefused) {
  TempDir dir;
  const std::string root = copyOfTestBundle(dir);
  std::filesystem::remove(root + "/pooled64.f16");
  std::filesystem::create_symlink("/dev/zero", root + "/pooled64.f16");
  EXPECT_EQ(createError(root), "le_create: bundle: refusing member 'pooled64.f16': it resolves to /dev/zero, outside "
                               "the bundle directory " +
                                   std::filesystem::canonical(root).string() + " (a link leaves the bundle)");
}

// A device inside the bundle root itself (here the root is /dev) is refused by its type.
TEST(DeviceMember, CharacterDeviceIsRefusedByItsType) {
  char out[4096];
  EXPECT_EQ(le_bundle_resolve_member("/dev", "zero", out, sizeof out), -1);
  EXPECT_EQ(std::string(le_last_error()),
            "le_bundle_resolve_member: bundle: refusing member 'zero': /dev/zero is a character device, not a regular "
            "file: a bundle member is read to its end");
  EXPECT_EQ(le_bundle_resolve_member("/dev", "null", out, sizeof out), -1);
}

// The audio engine reads its tables from the bundle too; before they went through member
// resolution, a FIFO blocked its creation and a link to /dev/zero read without end.
TEST(A2xMembers, FifoAndDeviceLinkAreRefused) {
  TempDir dir;
  const std::string root = copyOfTestBundle(dir);
  const std::string meta = root + "/a2x_meta.json";
  std::filesystem::remove(meta);
  ASSERT_EQ(::mkfifo(meta.c_str(), 0600), 0);
  {
    FifoWatchdog watchdog(meta);
    EXPECT_EQ(le_a2x_create(root.c_str(), 1), nullptr);
  }
  EXPECT_EQ(std::string(le_a2x_last_error()), "le_a2x_create: bundle: refusing member 'a2x_meta.json': " + meta +
                                                  " is a FIFO, not a regular file: a bundle member is read to its end");

  std::filesystem::remove(meta);
  std::filesystem::copy_file(kFixtures + "/test/a2x_meta.json", meta);
  std::filesystem::remove(root + "/a2x_pos.f32");
  std::filesystem::create_symlink("/dev/zero", root + "/a2x_pos.f32");
  EXPECT_EQ(le_a2x_create(root.c_str(), 1), nullptr);
  EXPECT_EQ(std::string(le_a2x_last_error()),
            "le_a2x_create: bundle: refusing member 'a2x_pos.f32': it resolves to /dev/zero, outside the bundle "
            "directory " +
                std::filesystem::canonical(root).string() + " (a link leaves the bundle)");
}

}  // namespace
