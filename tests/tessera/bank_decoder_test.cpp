#include "tessera/bank_decoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

#include "tessera/bank_memory_io.h"
#include "tessera/errors.h"
#include "tessera/json_reader.h"

namespace le::tessera {
namespace {

using Bytes = std::vector<uint8_t>;
using le::test::errorOf;

// The tracks `teeth_bank.py tracks` writes from the test person's bank, read once per run.
class BankTracks {
 public:
  BankTracks() {
    char pattern[] = "/tmp/le_bank_tracks_XXXXXX";
    if (!mkdtemp(pattern)) return;
    dir_ = pattern;
    const std::string command =
        "/usr/bin/python3 -B " LE_SOURCE_DIR "/tools/bake/teeth_bank.py tracks " + dir_.string();
    if (std::system(command.c_str()) != 0) return;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      std::ifstream in(entry.path(), std::ios::binary);
      files_[entry.path().filename().string()] = Bytes(std::istreambuf_iterator<char>(in), {});
    }
    const Bytes& order = file("order.json");
    const json::JVal doc = json::parse(std::string(order.begin(), order.end()));
    n = int32_t(doc.find("n_donors")->number);
    band_h = int32_t(doc.find("band_h")->number);
    band_w = int32_t(doc.find("band_w")->number);
    for (const json::JVal& v : doc.find("track_order")->array) shuffled.push_back(int32_t(v.number));
  }
  ~BankTracks() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  const Bytes& file(const std::string& name) const {
    static const Bytes none;
    const auto it = files_.find(name);
    if (it != files_.end()) return it->second;
    ADD_FAILURE() << name << " was not written (are /usr/bin/python3 with numpy and ffmpeg present?)";
    return none;
  }
  std::vector<int32_t> identity() const {
    std::vector<int32_t> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    return order;
  }
  std::vector<int32_t> reversed() const {
    const std::vector<int32_t> forward = identity();
    return {forward.rbegin(), forward.rend()};
  }

  int32_t n = 0, band_h = 0, band_w = 0;
  std::vector<int32_t> shuffled;

 private:
  std::filesystem::path dir_;
  std::map<std::string, Bytes> files_;
};

const BankTracks& tracks() {
  static const BankTracks t;
  return t;
}

Bytes decode(const std::string& name, const std::vector<int32_t>& order) {
  const BankTracks& t = tracks();
  const Bytes& b = t.file(name);
  return decodeBankTrack(b.data(), b.size(), t.n, t.band_h, t.band_w, order);
}

std::string refusalOf(const std::string& name, const std::vector<int32_t>& order) {
  return errorOf([&] { decode(name, order); });
}

TEST(BankDecoder, LosslessTrackDecodesToTheDrawnPatchesInEveryOrder) {
  const BankTracks& t = tracks();
  const Bytes& drawn = t.file("donors.u8");
  ASSERT_EQ(drawn.size(), size_t(t.n) * t.band_h * t.band_w * 3);
  EXPECT_EQ(decode("forward.mp4", t.identity()), drawn);
  EXPECT_EQ(decode("reversed.mp4", t.reversed()), drawn);
  EXPECT_EQ(decode("shuffled.mp4", t.shuffled), drawn);
}

TEST(BankDecoder, FrameCountMustEqualTheDonorCountInBothDirections) {
  EXPECT_EQ(refusalOf("long.mp4", tracks().identity()),
            "bank track carries more frames than the sidecar's n_donors — sidecar/track mismatch, refusing to serve");
  EXPECT_EQ(refusalOf("short.mp4", tracks().identity()),
            "bank track decoded to 15 frames, expected 16 — geometry/N mismatch, refusing to serve");
}

TEST(BankDecoder, TrackOfAnotherSizeIsRefusedBeforeDecoding) {
  const BankTracks& t = tracks();
  EXPECT_EQ(refusalOf("wide.mp4", t.identity()),
            "reference bank track is " + std::to_string(t.band_w + 2) + "x" + std::to_string(t.band_h) +
                ", the geometry stamp says " + std::to_string(t.band_w) + "x" + std::to_string(t.band_h) +
                " — geometry mismatch, refusing to serve");
}

TEST(BankDecoder, ArgumentsAreCheckedBeforeTheTrackIsOpened) {
  const BankTracks& t = tracks();
  const Bytes& b = t.file("forward.mp4");
  const auto call = [&](const uint8_t* bytes, size_t size, int32_t n, int32_t h, int32_t w,
                        const std::vector<int32_t>& order) {
    return errorOf([&] { decodeBankTrack(bytes, size, n, h, w, order); });
  };
  const std::string empty = "reference bank track is empty — refusing to serve";
  EXPECT_EQ(call(nullptr, b.size(), t.n, t.band_h, t.band_w, t.identity()), empty);
  EXPECT_EQ(call(b.data(), 0, t.n, t.band_h, t.band_w, t.identity()), empty);
  const std::string geometry = "reference bank geometry is not positive — refusing to serve";
  EXPECT_EQ(call(b.data(), b.size(), 0, t.band_h, t.band_w, {}), geometry);
  EXPECT_EQ(call(b.data(), b.size(), t.n, 0, t.band_w, t.identity()), geometry);
  EXPECT_EQ(call(b.data(), b.size(), t.n, t.band_h, -1, t.identity()), geometry);
  std::vector<int32_t> longer = t.identity();
  longer.push_back(0);
  EXPECT_EQ(call(b.data(), b.size(), t.n, t.band_h, t.band_w, longer),
            "reference bank sidecar track_order has 17 entries, expected 16 — sidecar/track mismatch, refusing to "
            "serve");
}

TEST(BankDecoder, OrderThatIsNoPermutationIsRefused) {
  std::vector<int32_t> outside = tracks().identity();
  outside[3] = tracks().n;
  EXPECT_EQ(refusalOf("forward.mp4", outside), "reference bank track_order is out of range — refusing to serve");
  outside[3] = -1;
  EXPECT_EQ(refusalOf("forward.mp4", outside), "reference bank track_order is out of range — refusing to serve");
  std::vector<int32_t> repeated = tracks().identity();
  repeated[5] = 4;
  EXPECT_EQ(refusalOf("forward.mp4", repeated), "reference bank track_order is not a permutation — refusing to serve");
}

TEST(BankDecoder, InputsThatAreNoVideoTrackAreRefused) {
  const BankTracks& t = tracks();
  const std::string text = "this is not a movie";
  EXPECT_EQ(errorOf([&] {
              decodeBankTrack(reinterpret_cast<const uint8_t*>(text.data()), text.size(), t.n, t.band_h, t.band_w,
                              t.identity());
            }),
            "reference bank track is not a readable container — refusing to serve");
  EXPECT_EQ(refusalOf("audio.wav", t.identity()), "reference bank track has no video stream — refusing to serve");
  // A track cut short inside its header is a container the demuxer gives up on.
  const Bytes& b = t.file("forward.mp4");
  EXPECT_NE(errorOf([&] { decodeBankTrack(b.data(), 64, t.n, t.band_h, t.band_w, t.identity()); }), "");
}

TEST(BankDecoder, BuildNamesTheLibavcodecLoadedAndTheOneItWasCompiledAgainst) {
  const std::string build = bankDecoderBuild();
  const auto text = [](unsigned v) {
    return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xff) + "." + std::to_string(v & 0xff);
  };
  EXPECT_EQ(build, "libavcodec " + text(avcodec_version()) + " (built against " + text(LIBAVCODEC_VERSION_INT) +
                       ") / " + avcodec_configuration());
}

TEST(BankMemoryIo, SeekAnswersTheSizeQueryWithoutMovingAndKeepsTargetsInsideTheTrack) {
  const uint8_t bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  MemoryReader r{bytes, 10, 4};
  EXPECT_EQ(memorySeek(&r, 0, AVSEEK_SIZE), 10);
  EXPECT_EQ(r.pos, 4);
  EXPECT_EQ(memorySeek(&r, 3, SEEK_CUR), 7);
  EXPECT_EQ(memorySeek(&r, -2, SEEK_END), 8);
  EXPECT_EQ(memorySeek(&r, 11, SEEK_SET), -1);
  EXPECT_EQ(memorySeek(&r, -9, SEEK_CUR), -1);
  EXPECT_EQ(memorySeek(&r, INT64_MAX, SEEK_END), -1);
  EXPECT_EQ(r.pos, 8);
  EXPECT_EQ(memorySeek(&r, 10, SEEK_SET), 10);
}

TEST(BankMemoryIo, ReadCopiesWhatRemainsThenReportsTheEnd) {
  const uint8_t bytes[5] = {9, 8, 7, 6, 5};
  MemoryReader r{bytes, 5, 2};
  uint8_t out[8] = {};
  EXPECT_EQ(memoryRead(&r, out, 8), 3);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{7, 6, 5}));
  EXPECT_EQ(r.pos, 5);
  EXPECT_EQ(memoryRead(&r, out, 8), AVERROR_EOF);
}

}  // namespace
}  // namespace le::tessera
