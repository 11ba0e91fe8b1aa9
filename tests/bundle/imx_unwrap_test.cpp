// Container unwrapping as a host sees it, through le_bundle_resolve_handle.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bundle/bundle_path.h"
#include "bundle/imx_container.h"
#include "bundle/imx_bytes.h"
#include "bundle/path_util.h"
#include "le/le.h"
#include "support/fifo_watchdog.h"
#include "support/temp_dir.h"

using le::test::FifoWatchdog;
using le::test::ImxMember;
using le::test::imxBytes;
using le::test::readFile;
using le::test::TempDir;
using le::test::writeFile;

namespace {

const std::vector<ImxMember> kMembers = {
    {"manifest.json", "{\"format\": \"le-bundle-v0\"}"},
    {"idle_loop/source_index.i32", std::string("\x01\x00\x00\x00", 4)},
    {"M.f32", std::string(24, '\x7f')},
};

// le_bundle_resolve_handle, with the printed "[le] unwrapped" lines counted.
struct Resolved {
  int rc;
  std::string root, error;
  int unwraps;
};

Resolved resolve(const std::string& handle) {
  char out[4096];
  testing::internal::CaptureStderr();
  int rc = le_bundle_resolve_handle(handle.c_str(), out, sizeof out);
  std::string err = testing::internal::GetCapturedStderr();
  int unwraps = 0;
  for (size_t at = 0; (at = err.find("[le] unwrapped ", at)) != std::string::npos; ++at) ++unwraps;
  return {rc, rc == 1 ? out : "", le_last_error(), unwraps};
}

void setMtime(const std::string& path, long sec) {
  struct timespec t[2] = {{sec, 0}, {sec, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
}

class Unwrap : public testing::Test {
 protected:
  void SetUp() override {
    unsetenv("LE_IMX_UNWRAP_ROOT");
    writeFile(dir / "id01.imx", imxBytes(kMembers));
  }
  TempDir dir;
};

}  // namespace

TEST_F(Unwrap, ContainerUnwrapsBesideItselfWithEveryMember) {
  Resolved r = resolve(dir / "id01.imx");
  ASSERT_EQ(r.rc, 1) << r.error;
  EXPECT_EQ(r.root, dir / "id01.lebundle");
  EXPECT_EQ(r.unwraps, 1);
  for (const ImxMember& m : kMembers) EXPECT_EQ(readFile(r.root + "/" + m.name), m.payload) << m.name;
  EXPECT_EQ(readFile(dir / "id01.lebundle.imx_unwrapped"), le::imxUnwrapStamp(dir / "id01.imx"));
}

TEST_F(Unwrap, ExtensionlessHandleAndUnwrapRootFindTheSameContainer) {
  EXPECT_EQ(resolve(dir / "id01").root, dir / "id01.lebundle");
  TempDir elsewhere;
  setenv("LE_IMX_UNWRAP_ROOT", (elsewhere.path() + "/").c_str(), 1);
  Resolved r = resolve(dir / "id01");
  unsetenv("LE_IMX_UNWRAP_ROOT");
  EXPECT_EQ(r.root, elsewhere / "id01.lebundle");
  EXPECT_EQ(r.unwraps, 1);
}

TEST_F(Unwrap, UnchangedContainerUnwrapsOnceAndAChangedOneAgain) {
  ASSERT_EQ(resolve(dir / "id01.imx").unwraps, 1);
  writeFile(dir / "id01.lebundle/sentinel", "kept while the container is unchanged");
  EXPECT_EQ(resolve(dir / "id01.imx").unwraps, 0);
  EXPECT_TRUE(le::pathExists(dir / "id01.lebundle/sentinel"));

  setMtime(dir / "id01.imx", 1000000);  // touched
  EXPECT_EQ(resolve(dir / "id01.imx").unwraps, 1);
  EXPECT_FALSE(le::pathExists(dir / "id01.lebundle/sentinel"));

  // Replaced by another file: new inode and contents.
  writeFile(dir / "next.imx", imxBytes({{"M.f32", "new"}}));
  ASSERT_EQ(std::rename((dir / "next.imx").c_str(), (dir / "id01.imx").c_str()), 0);
  Resolved r = resolve(dir / "id01.imx");
  EXPECT_EQ(r.unwraps, 1);
  EXPECT_EQ(readFile(r.root + "/M.f32"), "new");
  EXPECT_FALSE(le::pathExists(r.root + "/manifest.json"));
}

TEST_F(Unwrap, MarkerWithTrailingNewlineMatchesAndAStaleOneIsReplaced) {
  ASSERT_EQ(resolve(dir / "id01.imx").unwraps, 1);
  writeFile(dir / "id01.lebundle.imx_unwrapped", le::imxUnwrapStamp(dir / "id01.imx") + "\n");
  EXPECT_EQ(resolve(dir / "id01.imx").unwraps, 0);
  // A marker of ours with another container's stamp: the tree is ours and is made again.
  writeFile(dir / "id01.lebundle.imx_unwrapped", "imx-unwrapped.v2 id01.imx 1 2 3");
  writeFile(dir / "id01.lebundle/M.f32", "stale");
  Resolved r = resolve(dir / "id01.imx");
  EXPECT_EQ(r.unwraps, 1);
  EXPECT_EQ(readFile(r.root + "/M.f32"), kMembers[2].payload);
}

// The names in the container's directory, sorted.
std::vector<std::string> listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

const std::vector<std::string> kUnwrappedListing = {"id01.imx", "id01.lebundle", "id01.lebundle.imx_unwrapped"};

// A directory of the destination's name that the library did not make holds someone's files: it
// is refused, whichever handle reaches the container, and nothing in it is touched.
class ForeignDestination : public testing::TestWithParam<const char*> {};

TEST_P(ForeignDestination, IsRefusedAndKeptIntact) {
  TempDir dir;
  writeFile(dir / "id01.imx", imxBytes(kMembers));
  writeFile(dir / "id01.lebundle/notes.txt", "mine");
  Resolved r = resolve(dir / GetParam());
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.error, "le_bundle_resolve_handle: " + (dir / "id01.imx") + ": refusing to unwrap into " +
                         (dir / "id01.lebundle") +
                         ": it exists and was not made by unwrapping a container (no unwrap marker " +
                         (dir / "id01.lebundle.imx_unwrapped") +
                         "), so it may hold files of its own. Move it away, or set LE_IMX_UNWRAP_ROOT to unwrap "
                         "somewhere else.");
  EXPECT_EQ(readFile(dir / "id01.lebundle/notes.txt"), "mine");
  EXPECT_EQ(listing(dir / "id01.lebundle"), std::vector<std::string>{"notes.txt"});
  EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"id01.imx", "id01.lebundle"}));
}

INSTANTIATE_TEST_SUITE_P(Handles, ForeignDestination, testing::Values("id01.imx", "id01"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param) == "id01" ? "Extensionless" : "Container";
                         });

// A FIFO in the marker's place is not a marker: reading it would wait for a writer forever.
TEST_F(Unwrap, FifoInTheMarkersPlaceIsNotReadAndTheDestinationIsKept) {
  writeFile(dir / "id01.lebundle/notes.txt", "mine");
  ASSERT_EQ(::mkfifo((dir / "id01.lebundle.imx_unwrapped").c_str(), 0600), 0);
  FifoWatchdog watchdog(dir / "id01.lebundle.imx_unwrapped");
  const Resolved r = resolve(dir / "id01.imx");
  EXPECT_FALSE(watchdog.fired()) << "the marker's open waited for a writer";
  EXPECT_EQ(r.rc, -1);
  EXPECT_NE(r.error.find("was not made by unwrapping a container"), std::string::npos) << r.error;
  EXPECT_EQ(readFile(dir / "id01.lebundle/notes.txt"), "mine");
}

TEST_F(Unwrap, ForeignFileOfTheDestinationNameIsRefusedToo) {
  writeFile(dir / "id01.lebundle", "a file");
  EXPECT_EQ(resolve(dir / "id01.imx").rc, -1);
  EXPECT_EQ(readFile(dir / "id01.lebundle"), "a file");
}

TEST_F(Unwrap, ForeignDirectoryHandedAsTheHandleIsItsOwnRoot) {
  writeFile(dir / "id01.lebundle/notes.txt", "mine");
  Resolved r = resolve(dir / "id01.lebundle");
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.root, dir / "id01.lebundle");
  EXPECT_EQ(r.unwraps, 0);
}

// The pid of a process that has ended.
pid_t endedPid() {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

TEST_F(Unwrap, InterruptedUnwrapsLeaveTemporariesThatTheNextOpenClears) {
  const std::string ended = dir / ("id01.lebundle.unwrapping-" + std::to_string(endedPid()));
  const std::string ours = dir / ("id01.lebundle.unwrapping-" + std::to_string(getpid()) + "-replaced");
  const std::string alive = dir / "id01.lebundle.unwrapping-1";  // init runs: its unwrap is not ours to end
  // Only names exactly of the temporaries' form are ours.
  const std::string lookalike = dir / ("id01.lebundle.unwrapping-" + std::to_string(endedPid()) + "-mine");
  for (const std::string& t : {ended, ours, alive, lookalike}) writeFile(t + "/M.f32", "half-written");
  Resolved r = resolve(dir / "id01.imx");
  ASSERT_EQ(r.rc, 1) << r.error;
  EXPECT_EQ(readFile(r.root + "/M.f32"), kMembers[2].payload);
  EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"id01.imx", "id01.lebundle", "id01.lebundle.imx_unwrapped",
                                                           "id01.lebundle.unwrapping-1", le::baseName(lookalike)}));
}

TEST_F(Unwrap, FailedUnwrapKeepsThePreviousTreeAndLeavesNoTemporary) {
  ASSERT_EQ(resolve(dir / "id01.imx").rc, 1);
  const std::string broken = imxBytes({{"M.f32", "new"}, {"P.f16", "0123456789"}});
  writeFile(dir / "next.imx", broken.substr(0, broken.size() - 4));  // a payload cut short
  ASSERT_EQ(std::rename((dir / "next.imx").c_str(), (dir / "id01.imx").c_str()), 0);
  EXPECT_EQ(resolve(dir / "id01.imx").rc, -1);
  EXPECT_EQ(listing(dir.path()), kUnwrappedListing);
  EXPECT_EQ(readFile(dir / "id01.lebundle/M.f32"), kMembers[2].payload);
}

TEST_F(Unwrap, ReplacingAnUnwrapLeavesOnlyTheNewTree) {
  ASSERT_EQ(resolve(dir / "id01.imx").rc, 1);
  setMtime(dir / "id01.imx", 1000000);
  Resolved r = resolve(dir / "id01.imx");
  EXPECT_EQ(r.unwraps, 1);
  EXPECT_EQ(listing(dir.path()), kUnwrappedListing);
  EXPECT_EQ(readFile(dir / "id01.lebundle.imx_unwrapped"), le::imxUnwrapStamp(dir / "id01.imx"));
}

TEST_F(Unwrap, UnwrappedDirectoryHandedBackResolvesToItself) {
  std::string root = resolve(dir / "id01.imx").root;
  EXPECT_EQ(resolve(root + "/").root, root + "/");
  EXPECT_EQ(resolve(dir.path() + "/").root, dir.path() + "/");
}

TEST_F(Unwrap, TwoThreadsOpeningOneContainerUnwrapItOnce) {
  char a[4096], b[4096];
  std::atomic<int> ra{0}, rb{0};
  testing::internal::CaptureStderr();
  std::thread ta([&] { ra = le_bundle_resolve_handle((dir / "id01.imx").c_str(), a, sizeof a); });
  std::thread tb([&] { rb = le_bundle_resolve_handle((dir / "id01.imx").c_str(), b, sizeof b); });
  ta.join();
  tb.join();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(ra, 1);
  EXPECT_EQ(rb, 1);
  EXPECT_STREQ(a, b);
  EXPECT_EQ(err.find("[le] unwrapped"), err.rfind("[le] unwrapped"));
  EXPECT_NE(err.find("[le] unwrapped"), std::string::npos);
}

TEST_F(Unwrap, SyntheticManifestIsNotWrittenOut) {
  writeFile(dir / "syn.imx", imxBytes({{"manifest.json", "{\"_imx_synthetic_manifest\": 1}"}, {"M.f32", "m"}}));
  Resolved r = resolve(dir / "syn.imx");
  ASSERT_EQ(r.rc, 1);
  EXPECT_FALSE(le::pathExists(r.root + "/manifest.json"));
  EXPECT_EQ(readFile(r.root + "/M.f32"), "m");
}

class UnsafeName : public testing::TestWithParam<const char*> {};

TEST_P(UnsafeName, IsRefusedAndLeavesNoMarker) {
  TempDir dir;
  writeFile(dir / "bad.imx", imxBytes({{GetParam(), "x"}}));
  Resolved r = resolve(dir / "bad.imx");
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.error, "le_bundle_resolve_handle: " + (dir / "bad.imx") +
                         ": refusing unsafe member name '" + GetParam() + "'");
  EXPECT_FALSE(le::pathExists(dir / "bad.lebundle.imx_unwrapped"));
}

INSTANTIATE_TEST_SUITE_P(Names, UnsafeName,
                         testing::Values("../escape", "a/../../escape", "/etc/passwd", "\\share", "a..b"));

TEST(UnsafeNameNul, NulInsideANameIsRefused) {
  TempDir dir;
  writeFile(dir / "bad.imx", imxBytes({{std::string("a\0b", 3), "x"}}));
  Resolved r = resolve(dir / "bad.imx");
  EXPECT_EQ(r.rc, -1);
  EXPECT_NE(r.error.find("refusing unsafe member name"), std::string::npos);
}

// Every prefix of a valid container is refused with the message of the field it stops in.
TEST(TruncatedContainer, EveryCutNamesTheFieldItStopsIn) {
  TempDir dir;
  const std::string full = imxBytes({{"ab", "PAYLOAD"}});
  const std::string path = dir / "cut.imx";
  // header 0..8, name length 8..10, name 10..12, offsets 12..28, payload 28..35
  for (size_t len = 8; len < full.size(); ++len) {
    writeFile(path, full.substr(0, len));
    std::string expect = len < 10   ? path + ": truncated TOC at member 0"
                         : len < 12 ? path + ": truncated member name at 0"
                         : len < 28 ? path + ": truncated TOC offsets at member " +
                                          std::string("ab").substr(0, 2)
                                    : path + ": truncated payload for member ab";
    Resolved r = resolve(path);
    EXPECT_EQ(r.rc, -1) << len;
    EXPECT_EQ(r.error, "le_bundle_resolve_handle: " + expect) << "cut at " << len;
  }
}

// A handle that is a file, or whose ".imx" sibling is one, meant a container: a file that is
// not one is refused with what is wrong with its header, naming the file.
struct NotAContainer {
  const char* name;
  std::string bytes;
  const char* handle;  // relative to the directory holding the file "x.imx"
  const char* why;
};

class HeaderRefused : public testing::TestWithParam<NotAContainer> {};

TEST_P(HeaderRefused, NamesTheFileAndTheReason) {
  TempDir dir;
  writeFile(dir / "x.imx", GetParam().bytes);
  Resolved r = resolve(dir / GetParam().handle);
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.error, "le_bundle_resolve_handle: " + (dir / "x.imx") + ": " + GetParam().why);
  testing::internal::CaptureStderr();
  EXPECT_EQ(le_create((dir / GetParam().handle).c_str(), "b1", 1, nullptr), nullptr);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::string(le_last_error()), "le_create: " + (dir / "x.imx") + ": " + GetParam().why);
}

INSTANTIATE_TEST_SUITE_P(
    Files, HeaderRefused,
    testing::Values(NotAContainer{"Garbage", "this is no container at all", "x.imx", "not an IMX\\0 container"},
                    NotAContainer{"Short", "IMX", "x.imx", "not an IMX\\0 container"},
                    NotAContainer{"Version3", imxBytes({{"M.f32", "x"}}, 3), "x.imx",
                                  "unsupported IMX container version 3"},
                    NotAContainer{"Version3BySibling", imxBytes({{"M.f32", "x"}}, 3), "x",
                                  "unsupported IMX container version 3"}),
    [](const testing::TestParamInfo<NotAContainer>& info) { return std::string(info.param.name); });

TEST(TruncatedContainer, HeadersThatAreNotImxV2) {
  TempDir dir;
  writeFile(dir / "v1.imx", imxBytes({{"M.f32", "x"}}, 1));
  // Not a v2 file by its header, so the handle is refused rather than unwrapped...
  EXPECT_EQ(resolve(dir / "v1.imx").error,
            "le_bundle_resolve_handle: " + (dir / "v1.imx") + ": unsupported IMX container version 1");
  // ...and the reader itself refuses it too.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen((dir / "v1.imx").c_str(), "rb"), &std::fclose);
  try {
    le::imx::readToc(f.get(), "v1.imx");
    FAIL();
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "v1.imx: unsupported IMX container version 1");
  }
  writeFile(dir / "junk", "IMY\0\2\0\0\0");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> g(std::fopen((dir / "junk").c_str(), "rb"), &std::fclose);
  EXPECT_THROW(
      try { le::imx::readToc(g.get(), "junk"); } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "junk: not an IMX\\0 container");
        throw;
      },
      std::runtime_error);
}

TEST(ResolveMemberExport, BufferSizesAndOpenResult) {
  TempDir dir;
  writeFile(dir / "paste_transform.f32", "m");
  std::string expect = dir / "paste_transform.f32";
  std::vector<char> out(expect.size() + 1);
  EXPECT_EQ(le_bundle_resolve_member(dir.path().c_str(), "M.f32", out.data(), out.size()), 1);
  EXPECT_EQ(std::string(out.data()), expect);
  EXPECT_EQ(le_bundle_resolve_member(dir.path().c_str(), "M.f32", out.data(), out.size() - 1), -1);
  EXPECT_EQ(out[0], 0);
  char buf[4096];
  EXPECT_EQ(le_bundle_resolve_member(dir.path().c_str(), "mask_512.u8", buf, sizeof buf), 0);
  EXPECT_EQ(std::string(buf), dir / "mask_512.u8");
  EXPECT_EQ(le_bundle_resolve_member(nullptr, "M.f32", buf, sizeof buf), -1);
  EXPECT_EQ(le_bundle_resolve_member(dir.path().c_str(), "M.f32", buf, 0), -1);
}

TEST(ResolveHandleExport, ArgumentsAndBufferTooSmall) {
  TempDir dir;
  char small[4];
  EXPECT_EQ(le_bundle_resolve_handle(dir.path().c_str(), small, sizeof small), -1);
  EXPECT_STREQ(le_last_error(), "le_bundle_resolve_handle: buffer too small");
  EXPECT_EQ(small[0], 0);
  EXPECT_EQ(le_bundle_resolve_handle(nullptr, small, sizeof small), -1);
  EXPECT_STREQ(le_last_error(), "");
  char buf[4096];
  EXPECT_EQ(le_bundle_resolve_handle("", buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "");
}
