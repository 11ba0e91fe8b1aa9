// The baker's teeth members as a host meets them in a bundle: loaded, decoded into donor order,
// the head read, the bank's pi geometry identified; and each spoiled variant refused at its stage
// with its own text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tessera/bank_decoder.h"
#include "tessera/errors.h"
#include "tessera/head_weights.h"
#include "tessera/teeth_members.h"
#include "tessera/unified_pi.h"

namespace le {
namespace {

using le::test::errorOf;

std::string fixture(const std::string& name) { return std::string(LE_TEST_FIXTURES) + "/" + name; }

std::vector<uint8_t> decodeTrack(const TesseraAttachInputs& in) {
  const std::string track = le::test::readFile(in.bank_track_path);
  return tessera::decodeBankTrack(reinterpret_cast<const uint8_t*>(track.data()), track.size(), in.n_donors,
                                  in.band_h, in.band_w, in.track_order);
}

std::vector<float> xsTarget(const std::string& bundle) {
  const std::string bytes = le::test::readFile(fixture(bundle) + "/xs_target.bin");
  std::vector<float> xs(bytes.size() / 4);
  std::copy(bytes.begin(), bytes.begin() + long(xs.size() * 4), reinterpret_cast<char*>(xs.data()));
  return xs;
}

TEST(TeethBundle, MembersLoadDecodeAndNameTheirGeometry) {
  const TesseraAttachInputs in = loadTesseraMembers(fixture("test-crop128"));
  const std::vector<uint8_t> donors = decodeTrack(in);
  EXPECT_EQ(donors.size(), size_t(in.n_donors) * in.band_h * in.band_w * 3);
  EXPECT_EQ(tessera::loadHeadPt(in.head_pt).params(), 4082u);
  const std::vector<float> xs = xsTarget("test-crop128");
  std::string name;
  const float canon[2] = {float(in.c_canon[0]), float(in.c_canon[1])};
  tessera::UnifiedPi::corpusFromManifestJson(in.manifest_json, 128, xs.data(), int(xs.size() / 63), canon, &name);
  EXPECT_EQ(name, "v1");
}

struct VariantCase {
  const char* variant;
  const char* stage;  // "load", "head" or "decode": where the fault must stop the borrow
  const char* text;   // the start of the refusal
};

class TeethVariant : public testing::TestWithParam<VariantCase> {};

TEST_P(TeethVariant, IsRefusedAtItsStage) {
  const VariantCase& c = GetParam();
  const std::string bundle = fixture(std::string("test-teeth-") + c.variant);
  const std::string stage = c.stage;
  const std::string error = errorOf([&] {
    const TesseraAttachInputs in = loadTesseraMembers(bundle);
    if (stage == "head") tessera::loadHeadPt(in.head_pt);
    if (stage == "decode") decodeTrack(in);
  });
  EXPECT_EQ(error.rfind(c.text, 0), 0u) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Bake, TeethVariant,
    testing::Values(VariantCase{"missing-member", "load", "missing teeth member(s): "},
                    VariantCase{"sidecar-v2", "load", "tessera_bank.v1.json declares format 'tessera_bank.v2', not "},
                    VariantCase{"donors-1025", "load", "tessera_bank.v1.json carries n_donors=1025, over the owner's cap"},
                    VariantCase{"order-repeat", "load", "tessera_bank.v1.json track_order is not a permutation"},
                    VariantCase{"stamp-escapes", "load", "teeth: GeometryStamp incoherent:"},
                    VariantCase{"geometry-disagrees", "load", "teeth geometry DISAGREES between the manifest and the bank sidecar"},
                    VariantCase{"no-pix-fmt", "load", LE_TEST_FIXTURES "/test-teeth-no-pix-fmt: neither manifest.tessera.bank_pix_fmt"},
                    VariantCase{"head-deflated", "head", "teeth: head .pt entry is DEFLATEd"},
                    VariantCase{"head-frame", "head", "teeth: unsupported pickle opcode 0x95 in head .pt"},
                    VariantCase{"head-rank3", "head", "teeth: head 'cand.0.weight' has shape [16,7,9]"},
                    VariantCase{"track-long", "decode", "bank track carries more frames than the sidecar's n_donors"},
                    VariantCase{"track-short", "decode", "bank track decoded to "},
                    VariantCase{"track-wide", "decode", "reference bank track is "}),
    [](const auto& info) {
      std::string n = info.param.variant;
      for (char& ch : n)
        if (ch == '-') ch = '_';
      return n;
    });

TEST(TeethVariant, AnAmbiguousBankIsNotIdentified) {
  const TesseraAttachInputs in = loadTesseraMembers(fixture("test-teeth-ambiguous"));
  const std::vector<float> xs = xsTarget("test-teeth-ambiguous");
  const float canon[2] = {float(in.c_canon[0]), float(in.c_canon[1])};
  EXPECT_EQ(errorOf([&] {
              tessera::UnifiedPi::corpusFromManifestJson(in.manifest_json, 64, xs.data(), int(xs.size() / 63), canon,
                                                         nullptr);
            }).rfind("teeth-pi: corpus pi geometry is AMBIGUOUS", 0),
            0u);
}

}  // namespace
}  // namespace le
