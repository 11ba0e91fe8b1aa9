// le-speak --teeth through the built binary: the borrow armed on a bundle whose bank identifies its
// compose geometry, every rendered frame delivered through it, and a bundle short of a teeth member
// refused before anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace le::test {

namespace {

const std::string kFixtures = LE_TEST_FIXTURES;
const std::string kEncoder = "W2V_ONNX=" + kFixtures + "/speech/w2v_8s.onnx ";

// The number after `label` in the summary text, or -1 when the label is not there.
long long countAfter(const std::string& text, const std::string& label) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(label + " ([0-9]+)"))) return -1;
  return std::stoll(m[1].str());
}

}  // namespace

// The 128-pixel crop's bank lies far enough from every other geometry to be named; each speech and
// ramp frame carries a rendered crop, and each of them must come out of the borrow (it holds one
// frame and hands it back at the next idle frame), none refused.
TEST(LeSpeakTeeth, ArmsTheBorrowAndDeliversEveryRenderedFrameThroughIt) {
  TempDir dir;
  ToolRun r = runCommand(kEncoder + LE_TEST_BIN_DIR "/le-speak " + kFixtures + "/test-crop128 --fast --teeth " +
                             "--text 'Hello there.' --out " + (dir / "talk.mp4"),
                         dir / "err");
  ASSERT_EQ(r.status, 0) << readFile(dir / "err") << r.out;
  EXPECT_NE(r.out.find("le-speak: teeth borrow armed: 16 donors, compose geometry v1\n"), std::string::npos) << r.out;

  std::smatch teeth;
  ASSERT_TRUE(std::regex_search(r.out, teeth,
                                std::regex("\nle-speak: teeth: ([0-9]+) frames borrowed, ([0-9]+) refused, "
                                           "synthesis weight ([0-9.]+) over ([0-9]+) frames\n")))
      << r.out;
  const long long speech = countAfter(r.out, "speech"), ramp = countAfter(r.out, "ramp");
  ASSERT_GT(speech, 0) << r.out;
  EXPECT_EQ(std::stoll(teeth[1].str()), speech + ramp) << r.out;
  EXPECT_EQ(teeth[2].str(), "0");
  // The weight is averaged over the frames the blend head synthesised, never more than were borrowed.
  EXPECT_LE(std::stoll(teeth[4].str()), speech + ramp) << r.out;
  const double weight = std::stod(teeth[3].str());
  EXPECT_GE(weight, 0.0);
  EXPECT_LE(weight, 1.0);
  EXPECT_TRUE(std::filesystem::exists(dir / "talk.mp4"));
}

// Three of the four members: the tool stops with the members' ruling, naming the missing slot and
// its file, and writes no video.
TEST(LeSpeakTeeth, RefusesABundleShortOfATeethMember) {
  TempDir dir;
  ToolRun r = runCommand(kEncoder + LE_TEST_BIN_DIR "/le-speak " + kFixtures + "/test-teeth-missing-member --fast " +
                             "--teeth --text 'Hello there.' --out " + (dir / "talk.mp4"),
                         dir / "err");
  EXPECT_EQ(r.status, 1) << r.out;
  const std::string err = readFile(dir / "err");
  EXPECT_EQ(err.rfind("le-speak: --teeth: missing teeth member(s): head_config (tessera_head.v1.json) \xe2\x80\x94 "
                      "carries 3 of 4",
                      0),
            0u)
      << err;
  EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
  EXPECT_EQ(r.out.find("teeth borrow armed"), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(dir / "talk.mp4"));
}

}  // namespace le::test
