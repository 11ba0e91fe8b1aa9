#include "tessera/head_weights.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace le::tessera {
namespace {

using Bytes = std::vector<uint8_t>;

// The files tests/tessera/support/make_head_files.py writes, read once per run.
class HeadFiles {
 public:
  HeadFiles() {
    char pattern[] = "/tmp/le_head_files_XXXXXX";
    if (!mkdtemp(pattern)) return;
    dir_ = pattern;
    const std::string command =
        "/usr/bin/python3 " LE_SOURCE_DIR "/tests/tessera/support/make_head_files.py " + dir_.string();
    if (std::system(command.c_str()) != 0) return;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      std::ifstream in(entry.path(), std::ios::binary);
      files_[entry.path().filename().string()] = Bytes(std::istreambuf_iterator<char>(in), {});
    }
  }
  ~HeadFiles() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  const Bytes& file(const std::string& name) const {
    static const Bytes none;
    const auto it = files_.find(name);
    if (it == files_.end()) {
      ADD_FAILURE() << name << " was not written (is /usr/bin/python3 with numpy present?)";
      return none;
    }
    return it->second;
  }

 private:
  std::filesystem::path dir_;
  std::map<std::string, Bytes> files_;
};

const Bytes& headFile(const std::string& name) {
  static const HeadFiles files;
  return files.file(name);
}

std::vector<float> floatDump(const std::string& name) {
  const Bytes& raw = headFile(name);
  std::vector<float> values(raw.size() / 4);
  std::memcpy(values.data(), raw.data(), values.size() * 4);
  return values;
}

std::vector<float> concatenated(const HeadWeights& head) {
  std::vector<float> all;
  for (const auto* list : {&head.cand0Weight, &head.cand0Bias, &head.cand2Weight, &head.cand2Bias, &head.cand4Weight,
                           &head.cand4Bias, &head.syn0Weight, &head.syn0Bias, &head.syn2Weight, &head.syn2Bias})
    all.insert(all.end(), list->begin(), list->end());
  return all;
}

// "" when the bytes load, else the refusal's text; any other exception fails the test.
std::string refusalOf(const Bytes& bytes) {
  try {
    loadHeadPt(bytes);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

uint32_t loadU32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}

void storeU32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// The first central directory header (data.pkl's: torch writes the pickle first) of a file whose
// end record is its last 22 bytes.
size_t firstCentralHeader(const Bytes& b) { return loadU32(b, b.size() - 22 + 16); }

// Just past the last byte of that header's name ("<stem>/data.pkl").
size_t pickleNameEnd(const Bytes& b) {
  const size_t header = firstCentralHeader(b);
  return header + 46 + (loadU32(b, header + 28) & 0xffff);
}

TEST(HeadWeights, FullHeadLoadsTheValuesTheFileHolds) {
  const HeadWeights head = loadHeadPt(headFile("full.pt"));
  EXPECT_EQ(head.params(), 4082u);
  EXPECT_EQ(head.cand0Weight.size(), 16u * 7 * 3 * 3);
  EXPECT_EQ(head.syn2Bias.size(), 1u);
  EXPECT_FLOAT_EQ(head.envelope, 12.f / 255.f);
  EXPECT_EQ(concatenated(head), floatDump("full.f32"));
}

TEST(HeadWeights, CandidateOnlyHeadLoadsWithEmptySynthesis) {
  const HeadWeights head = loadHeadPt(headFile("candidate.pt"));
  EXPECT_EQ(head.params(), 3489u);
  EXPECT_TRUE(head.syn0Weight.empty() && head.syn0Bias.empty() && head.syn2Weight.empty() && head.syn2Bias.empty());
  EXPECT_EQ(concatenated(head), floatDump("candidate.f32"));
}

// Every bias shares one storage at successive offsets; a reader that ignored the offset would
// give every bias the first bias's values.
TEST(HeadWeights, TensorsSharingAStorageReadFromTheirOffsets) {
  EXPECT_EQ(concatenated(loadHeadPt(headFile("shared.pt"))), floatDump("full.f32"));
}

TEST(HeadWeights, EndRecordFollowedByACommentIsFoundByTheBackwardScan) {
  EXPECT_EQ(concatenated(loadHeadPt(headFile("comment.pt"))), floatDump("full.f32"));
}

// A pickle cut just before its STOP opcode ends as if STOP had been read.
TEST(HeadWeights, PickleWithoutStopEndsAtItsLastByte) {
  Bytes file = headFile("full.pt");
  const size_t header = firstCentralHeader(file);
  storeU32(file, header + 24, loadU32(file, header + 24) - 1);
  EXPECT_EQ(concatenated(loadHeadPt(file)), floatDump("full.f32"));
}

struct BakedRefusal {
  const char* file;
  const char* message;
};

class HeadWeightsRefusal : public ::testing::TestWithParam<BakedRefusal> {};

TEST_P(HeadWeightsRefusal, SaysWhatItMet) {
  EXPECT_EQ(refusalOf(headFile(GetParam().file)), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    BakerVariants, HeadWeightsRefusal,
    ::testing::Values(
        BakedRefusal{"deflated.pt",
                     "teeth: head .pt entry is DEFLATEd; torch writes ZIP_STORED — refusing to guess at a compressed"
                     " member"},
        BakedRefusal{"frame.pt", "teeth: unsupported pickle opcode 0x95 in head .pt"},
        BakedRefusal{"rank3.pt", "teeth: head 'cand.0.weight' has shape [16,7,9] — not the BlendHead(16) arch"},
        BakedRefusal{"no_syn2_bias.pt", "teeth: head .pt lacks 'syn.2.bias'"},
        BakedRefusal{"swapped.pt",
                     "teeth: head 'cand.2.weight' has strides [9,144,3,1], not the contiguous [144,9,3,1] of its shape"
                     " — refusing to load it out of order"},
        BakedRefusal{"foreign.pt", "teeth: head .pt calls builtins eval — this reader refuses code it does not model"},
        BakedRefusal{"double.pt",
                     "teeth: head .pt storage is torch DoubleStorage, not torch FloatStorage — refusing to reinterpret"
                     " it"},
        BakedRefusal{"duplicate.pt", "teeth: head .pt names 'cand.0.bias' 2 times — ambiguous"},
        BakedRefusal{"omitted_storage.pt", "teeth: head storage 3 missing"},
        BakedRefusal{"short_storage.pt", "teeth: head storage 4 too small"},
        BakedRefusal{"empty.pt", "teeth: head .pt state_dict is empty"},
        BakedRefusal{"binget.pt", "teeth: pickle BINGET out of range"},
        BakedRefusal{"long_binget.pt", "teeth: pickle LONG_BINGET out of range"},
        BakedRefusal{"persistent_id.pt", "teeth: unexpected persistent id in head .pt"},
        BakedRefusal{"rebuild_args.pt", "teeth: malformed _rebuild_tensor_v2"}),
    [](const auto& info) {
      std::string name = info.param.file;
      return name.substr(0, name.find('.'));
    });

struct ArchiveDamage {
  const char* name;
  std::function<void(Bytes&)> damage;
  const char* message;
};

class HeadWeightsArchiveRefusal : public ::testing::TestWithParam<ArchiveDamage> {};

TEST_P(HeadWeightsArchiveRefusal, SaysWhatItMet) {
  Bytes file = headFile("full.pt");
  GetParam().damage(file);
  EXPECT_EQ(refusalOf(file), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    DamagedArchives, HeadWeightsArchiveRefusal,
    ::testing::Values(
        ArchiveDamage{"ShorterThanAnEndRecord", [](Bytes& b) { b.resize(21); }, "teeth: head .pt is not a zip"},
        ArchiveDamage{"NoEndRecord", [](Bytes& b) { b.assign(64, 0); }, "teeth: head .pt has no zip EOCD"},
        ArchiveDamage{"CentralSignature", [](Bytes& b) { b[firstCentralHeader(b)] ^= 0xff; },
                      "teeth: head .pt central directory is malformed"},
        ArchiveDamage{"CentralOffsetPastTheEnd",
                      [](Bytes& b) { storeU32(b, b.size() - 22 + 16, uint32_t(b.size())); },
                      "teeth: head .pt central directory is malformed"},
        ArchiveDamage{"LocalHeaderPastTheEnd", [](Bytes& b) { storeU32(b, firstCentralHeader(b) + 42, 0xffffff00u); },
                      "teeth: head .pt local header out of range"},
        ArchiveDamage{"DataPastTheEnd", [](Bytes& b) { storeU32(b, firstCentralHeader(b) + 24, 0x7fffffffu); },
                      "teeth: head .pt entry out of range"},
        ArchiveDamage{"NoPickle", [](Bytes& b) { b[pickleNameEnd(b) - 1] = 'x'; }, "teeth: head .pt has no data.pkl"},
        ArchiveDamage{"PickleCutInsideAnOpcode", [](Bytes& b) { storeU32(b, firstCentralHeader(b) + 24, 3); },
                      "teeth: pickle truncated"}),
    [](const auto& info) { return std::string(info.param.name); });

// Hostile bytes are refused with a message, never read out of bounds (the sanitizer builds check
// the bounds) and never answered with another exception.
TEST(HeadWeightsHostile, EveryTruncationIsRefused) {
  const Bytes& good = headFile("full.pt");
  for (size_t length = 0; length < good.size(); ++length) {
    const Bytes cut(good.begin(), good.begin() + long(length));
    EXPECT_NE(refusalOf(cut), "") << "a file cut to " << length << " bytes loaded";
  }
}

TEST(HeadWeightsHostile, RandomByteFlipsLoadOrAreRefused) {
  std::mt19937 rng(5);
  for (const char* name : {"full.pt", "candidate.pt", "shared.pt"}) {
    const Bytes& good = headFile(name);
    for (int trial = 0; trial < 3000; ++trial) {
      Bytes bad = good;
      for (int flips = 1 + int(rng() % 4); flips > 0; --flips) bad[rng() % bad.size()] ^= uint8_t(1 + rng() % 255);
      refusalOf(bad);
    }
  }
}

}  // namespace
}  // namespace le::tessera
