// Containers made by an attacker, as a host meets them through le_bundle_resolve_handle: every
// table of contents that would write outside the unwrap, write one payload many times or read past
// the file is refused before anything is written.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "bundle/imx_bytes.h"
#include "bundle/path_util.h"
#include "le/le.h"
#include "support/temp_dir.h"

using le::test::putU16;
using le::test::putU64;
using le::test::TempDir;
using le::test::writeFile;

namespace {

// One table entry as written, with its offset counted from the end of the table (so a test can
// say "the first payload byte" without knowing the table's size) unless `absolute`.
struct TocEntry {
  std::string name;
  int64_t offset;
  uint64_t size;
  bool absolute = false;
};

// Header, the table of `toc`, then `data`.
std::string containerBytes(const std::vector<TocEntry>& toc, const std::string& data, uint16_t declaredCount = 0) {
  std::string out("IMX\0", 4);
  putU16(out, 2);
  putU16(out, declaredCount ? declaredCount : uint16_t(toc.size()));
  uint64_t tocEnd = 8;
  for (const TocEntry& e : toc) tocEnd += 2 + e.name.size() + 16;
  for (const TocEntry& e : toc) {
    putU16(out, uint16_t(e.name.size()));
    out += e.name;
    putU64(out, e.absolute ? uint64_t(e.offset) : tocEnd + uint64_t(e.offset));
    putU64(out, e.size);
  }
  return out + data;
}

struct Refusal {
  int rc;
  std::string error;
};

// Resolves the container and reports what the host sees, and that nothing of it was left behind.
Refusal resolveContainer(const TempDir& dir, const std::string& bytes) {
  writeFile(dir / "bad.imx", bytes);
  char out[4096];
  testing::internal::CaptureStderr();
  const int rc = le_bundle_resolve_handle((dir / "bad.imx").c_str(), out, sizeof out);
  testing::internal::GetCapturedStderr();
  Refusal r{rc, le_last_error()};
  EXPECT_FALSE(le::pathExists(dir / "bad.lebundle")) << "a refused container left its destination";
  EXPECT_FALSE(le::pathExists(dir / "bad.lebundle.imx_unwrapped"));
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1u) << "a refused container left a temporary beside itself";
  return r;
}

struct LayoutCase {
  const char* name;
  std::vector<TocEntry> toc;
  std::string data;
  std::string why;  // after "<container>: "
};

class HostileLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(HostileLayout, IsRefusedBeforeAnythingIsWritten) {
  TempDir dir;
  const Refusal r = resolveContainer(dir, containerBytes(GetParam().toc, GetParam().data));
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.error, "le_bundle_resolve_handle: " + (dir / "bad.imx") + ": " + GetParam().why);
}

const std::string kData = "0123456789abcdef";  // 16 payload bytes after the table

INSTANTIATE_TEST_SUITE_P(
    Containers, HostileLayout,
    testing::Values(
        // Payloads that read past the file, including an end that wraps around 64 bits.
        LayoutCase{"PastTheEnd", {{"M.f32", 8, 9}}, kData, "truncated payload for member M.f32"},
        LayoutCase{"OffsetPastTheEnd", {{"M.f32", 1 << 20, 1}}, kData, "truncated payload for member M.f32"},
        LayoutCase{"EndWrapsAround", {{"M.f32", 4, UINT64_MAX - 2}}, kData, "truncated payload for member M.f32"},
        LayoutCase{"OffsetWrapsAround", {{"M.f32", -9, 16, true}}, kData, "truncated payload for member M.f32"},
        // Payloads that share bytes: a few bytes would otherwise unwrap into many copies.
        LayoutCase{"SamePayloadTwice",
                   {{"M.f32", 0, 16}, {"P.f16", 0, 16}},
                   kData,
                   "members 'M.f32' and 'P.f16' overlap (bytes 54 to 70 and bytes 54 to 70): a container stores each "
                   "payload once"},
        LayoutCase{"PartlyShared",
                   {{"b", 6, 10}, {"a", 0, 8}},
                   kData,
                   "members 'a' and 'b' overlap (bytes 46 to 54 and bytes 52 to 62): a container stores each payload "
                   "once"},
        LayoutCase{"InsideTheTable",
                   {{"M.f32", 2, 4, true}},
                   kData,
                   "member 'M.f32' starts at byte 2, inside the table of contents, which ends at byte 31"},
        // Two entries for one path, or a file where another entry needs a directory.
        LayoutCase{"SameNameTwice",
                   {{"M.f32", 0, 8}, {"M.f32", 8, 8}},
                   kData,
                   "member 'M.f32' appears twice in the table of contents"},
        LayoutCase{"FileWhereADirectoryIsNeeded",
                   {{"drive", 0, 8}, {"drive/xs.f32", 8, 8}},
                   kData,
                   "member 'drive' is a file, and another member needs 'drive' as a directory"},
        // Names that are no plain relative path.
        LayoutCase{"EmptyComponent", {{"drive//xs.f32", 0, 4}}, kData, "refusing unsafe member name 'drive//xs.f32'"},
        LayoutCase{"DotComponent", {{"./M.f32", 0, 4}}, kData, "refusing unsafe member name './M.f32'"},
        LayoutCase{"TrailingSlash", {{"drive/", 0, 4}}, kData, "refusing unsafe member name 'drive/'"},
        LayoutCase{"DotDotLast", {{"drive/..", 0, 4}}, kData, "refusing unsafe member name 'drive/..'"}),
    [](const testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

// Empty payloads hold no bytes: any number of them may sit at one offset, even past the table's
// end of a file that has no payload bytes at all.
TEST(SoundLayout, EmptyPayloadsShareAnOffsetAndEveryMemberLands) {
  TempDir dir;
  writeFile(dir / "ok.imx", containerBytes({{"a", 0, 0}, {"b", 0, 0}, {"c", 0, 4}, {"d/e", 4, 4}}, "wxyzWXYZ"));
  char out[4096];
  testing::internal::CaptureStderr();
  const int rc = le_bundle_resolve_handle((dir / "ok.imx").c_str(), out, sizeof out);
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(rc, 1) << le_last_error();
  EXPECT_EQ(le::test::readFile(std::string(out) + "/a"), "");
  EXPECT_EQ(le::test::readFile(std::string(out) + "/b"), "");
  EXPECT_EQ(le::test::readFile(std::string(out) + "/c"), "wxyz");
  EXPECT_EQ(le::test::readFile(std::string(out) + "/d/e"), "WXYZ");
}

// A count of 65535 entries in a file that holds one is refused at the first missing entry, without
// reading (or keeping) anything for the others.
TEST(SoundLayout, CountPastTheTableIsATruncatedTable) {
  TempDir dir;
  const Refusal r = resolveContainer(dir, containerBytes({{"M.f32", 0, 0}}, "", 0xffff));
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.error, "le_bundle_resolve_handle: " + (dir / "bad.imx") + ": truncated TOC at member 1");
}

// The longest table a container can declare, every entry naming the same 1 MiB payload, would
// unwrap to 64 GiB: it is refused at the second entry.
TEST(SoundLayout, AmplifyingTableIsRefused) {
  TempDir dir;
  std::vector<TocEntry> toc;
  for (int i = 0; i < 0xffff; ++i) toc.push_back({"m" + std::to_string(i), 0, 1 << 20});
  const Refusal r = resolveContainer(dir, containerBytes(toc, std::string(1 << 20, 'x')));
  EXPECT_EQ(r.rc, -1);
  EXPECT_NE(r.error.find(": members 'm"), std::string::npos) << r.error;
  EXPECT_NE(r.error.find("a container stores each payload once"), std::string::npos) << r.error;
}

}  // namespace
