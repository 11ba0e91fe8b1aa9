// A motion directory damaged as an attacker would, met through le_motion_create: a FIFO or a link to
// a device in a file's place, a meta.json far past any real one, and networks that declare what no
// network has. Each is refused with a text naming the file and the reason, without blocking and
// without an allocation sized by the damage.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "motion_fixture.h"
#include "support/fifo_watchdog.h"
#include "support/onnx_surgery.h"
#include "support/temp_dir.h"

namespace le::test {
namespace {

class MotionHostileDir : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::copy(motionDir("motion-test"), dir_); }

  // le_motion_create's error text for the damaged copy ("" when it opened).
  std::string createError() {
    MotionHandle h(dir_);
    return h.m ? "" : le_motion_last_error();
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  void replaceWithFifo(const std::string& name) {
    std::filesystem::remove(path(name));
    ASSERT_EQ(::mkfifo(path(name).c_str(), 0600), 0);
  }

  TempDir scratch_;
  std::string dir_ = scratch_ / "motion";
};

TEST_F(MotionHostileDir, FifosAreRefusedWithoutWaitingForAWriter) {
  for (const char* name : {"meta.json", "emo.bin", "lmdm.onnx"}) {
    SCOPED_TRACE(name);
    const std::string saved = scratch_ / "saved";
    std::filesystem::rename(path(name), saved);
    replaceWithFifo(name);
    {
      FifoWatchdog watchdog(path(name));
      EXPECT_EQ(createError(), "le_motion_create: " + path(name) + " is a special file, not a regular file");
    }
    std::filesystem::remove(path(name));
    std::filesystem::rename(saved, path(name));
  }
}

TEST_F(MotionHostileDir, LinkToAnEndlessDeviceIsRefused) {
  std::filesystem::remove(path("hubert_fmean.bin"));
  std::filesystem::create_symlink("/dev/zero", path("hubert_fmean.bin"));
  EXPECT_EQ(createError(),
            "le_motion_create: " + path("hubert_fmean.bin") + " is a special file, not a regular file");
}

TEST_F(MotionHostileDir, MetaPastTheLimitIsRefusedBeforeItIsRead) {
  // Sparse: the size is claimed, never written.
  std::filesystem::resize_file(path("meta.json"), uintmax_t(1) << 34);
  EXPECT_EQ(createError(), "le_motion_create: " + path("meta.json") +
                               " holds 17179869184 bytes, which exceeds the limit of 16777216 for a motion meta.json");
}

TEST_F(MotionHostileDir, NetworksDeclaringAbsurdShapesAreRefused) {
  const std::string lmdm = path("lmdm.onnx");
  std::ifstream in(lmdm, std::ios::binary);
  const GsBytes baked{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::string initializer = largestInitializer(baked);
  const GsBytes huge = editInitializer(baked, initializer, [](GsSlice t) { return tensorWithDims(t, {65536, 65536}); });
  std::ofstream(lmdm, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(huge.data()), std::streamsize(huge.size()));
  EXPECT_EQ(createError(), "le_motion_create: refusing model " + lmdm + ": onnx: initializer '" + initializer +
                               "' declares the shape [65536,65536], more than the limit of 268435456 elements");

  std::ofstream(path("stitch.onnx"), std::ios::binary | std::ios::trunc) << "\x0a\xff\xff\xff\xff\x0f";
  std::filesystem::copy_file(motionDir("motion-test") + "/lmdm.onnx", lmdm,
                             std::filesystem::copy_options::overwrite_existing);
  EXPECT_EQ(createError(), "le_motion_create: refusing model " + path("stitch.onnx") + ": onnx: truncated");
}

}  // namespace
}  // namespace le::test
