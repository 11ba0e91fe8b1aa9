// The pi mask of the compose canvas against the baker's numpy reference, the manifest's geometry
// with its refusals, the boxed and shifted forms, and the corpus geometry a bank is identified by.
#include "tessera/unified_pi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tessera/errors.h"

namespace {

using le::tessera::UnifiedPi;
using le::test::errorOf;

std::string manifestWith(const std::string& pi, const std::string& crop = R"({"canvas": 64})") {
  return R"({"crop": 64, "unified": {"pi": )" + pi + R"(, "crop": )" + crop + "}}";
}

const std::string kPi =
    R"({"mode": "prop", "corner_recovery": false, "prop_gate_scale": 1.0, "lip_idx": [6, 12, 14, 17, 18, 19, 20],
        "lip_geom_params": [0.10, 0.08, 0.074]})";

std::string withCorner(const std::string& value, const std::string& params = "0.10, 0.08, 0.074") {
  std::string pi = kPi;
  pi.replace(pi.find("false"), 5, value);
  pi.replace(pi.find("0.10, 0.08, 0.074"), 17, params);
  return pi;
}

template <class T>
std::vector<T> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  std::vector<T> out(bytes.size() / sizeof(T));
  std::copy(bytes.begin(), bytes.begin() + long(out.size() * sizeof(T)), reinterpret_cast<char*>(out.data()));
  return out;
}

// The baker's poses of our person and their masks from the numpy reference.
struct Reference {
  explicit Reference(int canvasSide) : canvas(canvasSide) {
    const std::string command = "/usr/bin/python3 " LE_SOURCE_DIR "/tools/bake/pi_ref.py " + dir.path() +
                                " --canvas " + std::to_string(canvas);
    EXPECT_EQ(std::system(command.c_str()), 0);
    kp = readAll<float>(dir / "kp.f32");
    pi = readAll<uint8_t>(dir / "pi.u8");
    corner = readAll<uint8_t>(dir / "pi_corner.u8");
    std::ifstream in(dir / "manifest.json");
    manifest.assign(std::istreambuf_iterator<char>(in), {});
  }
  int frames() const { return int(kp.size() / 63); }
  std::vector<uint8_t> mask(const std::vector<uint8_t>& all, int f) const {
    const size_t n = size_t(canvas) * canvas;
    return std::vector<uint8_t>(all.begin() + long(f * n), all.begin() + long((f + 1) * n));
  }

  le::test::TempDir dir;
  int canvas;
  std::vector<float> kp;
  std::vector<uint8_t> pi, corner;
  std::string manifest;
};

TEST(UnifiedPi, MasksEqualTheNumpyReferenceByteForByte) {
  const Reference ref(64);
  ASSERT_EQ(ref.frames(), 5);
  const UnifiedPi g = UnifiedPi::fromManifestJson(ref.manifest, 64);
  std::vector<uint8_t> whole(64 * 64), boxed(64 * 64);
  for (int f = 0; f < ref.frames(); ++f) {
    g.piU8(ref.kp.data() + f * 63, whole.data());
    g.piU8Boxed(ref.kp.data() + f * 63, boxed.data());
    EXPECT_EQ(whole, ref.mask(ref.pi, f)) << f;
    EXPECT_EQ(boxed, whole) << f;
  }
  // Both spellings of corner recovery draw the same masks, the reference's (with pads tight enough
  // for the recovery to grow the ellipse).
  for (const char* spelling : {"true", "\"lip_landmark_half\""}) {
    const UnifiedPi corner = UnifiedPi::fromManifestJson(manifestWith(withCorner(spelling, "0.02, 0.02, 0.074")), 64);
    for (int f = 0; f < ref.frames(); ++f) {
      corner.piU8(ref.kp.data() + f * 63, whole.data());
      EXPECT_EQ(whole, ref.mask(ref.corner, f)) << spelling << " " << f;
    }
  }
}

TEST(UnifiedPi, ReadsTheGeometryAndRefusesWhatItCannotName) {
  const UnifiedPi g = UnifiedPi::fromManifestJson(manifestWith(kPi), 64);
  EXPECT_EQ(g.mode(), "prop");
  EXPECT_EQ(g.lipIdx(), (std::vector<int32_t>{6, 12, 14, 17, 18, 19, 20}));
  EXPECT_FLOAT_EQ(g.down(), 0.074f);
  auto refusal = [](const std::string& manifest, int canvas = 64) {
    return errorOf([&] { UnifiedPi::fromManifestJson(manifest, canvas); });
  };
  EXPECT_EQ(refusal(R"({"crop": 64})").rfind("teeth-pi: manifest has no `unified` block \xe2\x80\x94", 0), 0u);
  EXPECT_EQ(refusal(R"({"unified": {}})"), "teeth: member JSON lacks key 'pi'");
  EXPECT_EQ(refusal(manifestWith(R"({"lip_idx": [1]})")), "teeth: member JSON lacks key 'mode'");
  EXPECT_EQ(refusal(manifestWith(R"({"mode": 3})")), "teeth-pi: unified.pi.mode is not a string");
  EXPECT_EQ(refusal(manifestWith(R"({"mode": "ellipse"})")),
            "teeth-pi: unified.pi.mode 'ellipse' is a compose-mask geometry this port cannot name \xe2\x80\x94 fail "
            "loud, never adapt (the stamped-geometry rule)");
  EXPECT_EQ(refusal(manifestWith(withCorner("\"lip_landmark_full\""))).rfind(
                "teeth-pi: unknown unified.pi.corner_recovery \xe2\x80\x94", 0),
            0u);
  EXPECT_EQ(refusal(manifestWith(R"({"mode": "prop", "lip_idx": [1], "lip_geom_params": [1, 2, 3]})")),
            "teeth: member JSON lacks key 'prop_gate_scale'");
  EXPECT_EQ(refusal(manifestWith(R"({"mode": "prop", "prop_gate_scale": 1, "lip_idx": []})")),
            "teeth-pi: unified.pi.lip_idx is not a non-empty array");
  EXPECT_EQ(refusal(manifestWith(R"({"mode": "prop", "prop_gate_scale": 1, "lip_idx": [6], "lip_geom_params": [1, 2]})")),
            "teeth-pi: unified.pi.lip_geom_params must be [pad_x, pad_y, down]");
  EXPECT_EQ(refusal(manifestWith(kPi, R"({"canvas": 512})"), 384),
            "teeth-pi: engine renders at canvas 384 but unified.crop.canvas is 512.000000");
}

TEST(UnifiedPi, AClosedMouthIsTheLipEllipseAlone) {
  const UnifiedPi g = UnifiedPi::fromManifestJson(manifestWith(kPi), 64);
  std::vector<float> kp(63, 0.0f);
  for (int i : {6, 12, 14, 17, 18, 19, 20}) kp[i * 3 + 1] = 0.3f + 0.001f * float(i % 3);
  kp[17 * 3] = -0.15f, kp[18 * 3] = 0.15f;
  float gate = -1;
  g.gateParams(kp.data(), &gate);
  EXPECT_EQ(gate, 0.0f);
  std::vector<float> lip(64 * 64);
  std::vector<uint8_t> pi(64 * 64);
  g.lipMask(kp.data(), lip.data());
  g.piU8(kp.data(), pi.data());
  for (size_t i = 0; i < pi.size(); ++i) ASSERT_EQ(pi[i], uint8_t(std::nearbyint(lip[i] * 255.0))) << i;
}

TEST(UnifiedPi, ShiftIsTheRoundedCentroidOffsetAndAnEmptyMaskLeavesItAlone) {
  const Reference ref(64);
  const UnifiedPi g = UnifiedPi::fromManifestJson(ref.manifest, 64);
  std::vector<uint8_t> mask(64 * 64);
  float cx = 0, cy = 0;
  g.piU8(ref.kp.data() + 2 * 63, mask.data());
  ASSERT_TRUE(g.piU8Centroid(mask.data(), cx, cy));
  const float canon[2] = {cx - 3.4f, cy + 1.6f};
  int rows = 99, cols = 99;
  ASSERT_TRUE(g.piU8AndShift(ref.kp.data() + 2 * 63, canon, mask.data(), rows, cols));
  EXPECT_EQ(cols, 3);
  EXPECT_EQ(rows, -2);
  std::vector<float> away(63, 5.0f);
  rows = cols = 99;
  EXPECT_FALSE(g.piU8AndShift(away.data(), canon, mask.data(), rows, cols));
  EXPECT_EQ(rows, 99);
  EXPECT_EQ(cols, 99);
}

TEST(UnifiedPi, CorpusGeometryIsTheOneWhoseCentroidTheBankNames) {
  const Reference ref(512);
  std::string manifest = ref.manifest;
  const UnifiedPi stamped = UnifiedPi::fromManifestJson(manifest, 512);
  UnifiedPi v1 = stamped;
  v1.setLipGeometry(0.05f, 0.08f, 0.015f);
  float c[2];
  v1.canonicalCentroid(ref.kp.data(), ref.frames(), c[0], c[1]);
  std::string name;
  const UnifiedPi found = UnifiedPi::corpusFromManifestJson(manifest, 512, ref.kp.data(), ref.frames(), c, &name);
  EXPECT_EQ(name, "v1");
  EXPECT_FLOAT_EQ(found.down(), 0.015f);

  // Our person's mouth is symmetric: v2 and v3 differ only in width and share a centroid.
  float v2[2];
  stamped.canonicalCentroid(ref.kp.data(), ref.frames(), v2[0], v2[1]);
  EXPECT_EQ(errorOf([&] { UnifiedPi::corpusFromManifestJson(manifest, 512, ref.kp.data(), ref.frames(), v2, &name); })
                .rfind("teeth-pi: corpus pi geometry is AMBIGUOUS (best two within 3.00px) \xe2\x80\x94 v", 0),
            0u);
  const float far[2] = {c[0] + 40.0f, c[1]};
  EXPECT_EQ(errorOf([&] { UnifiedPi::corpusFromManifestJson(manifest, 512, ref.kp.data(), ref.frames(), far, &name); })
                .rfind("teeth-pi: no corpus pi geometry matches this bank's c_canon (", 0),
            0u);
  EXPECT_EQ(errorOf([&] { UnifiedPi::corpusFromManifestJson(manifest, 512, nullptr, 0, c, &name); })
                .rfind("teeth-pi: the corpus frame is identified from the bundle's own xs_target and none was supplied",
                       0),
            0u);
  const std::vector<float> away(63, 5.0f);
  EXPECT_EQ(errorOf([&] { UnifiedPi::corpusFromManifestJson(manifest, 512, away.data(), 1, c, &name); })
                .rfind("teeth-pi: pi is empty on every source frame", 0),
            0u);
}

}  // namespace

namespace {

TEST(UnifiedPi, ShrunkByLimitsThePiInsideTheBoxWhereTheLimitIsPositive) {
  const Reference ref(64);
  const UnifiedPi g = UnifiedPi::fromManifestJson(ref.manifest, 64);
  const float* kp = ref.kp.data() + 2 * 63;
  std::vector<uint8_t> pi(64 * 64), shrunk(64 * 64, 7);
  g.piU8(kp, pi.data());
  std::vector<float> limit(64 * 64, 0.5f);
  for (int x = 0; x < 64; ++x) limit[size_t(40) * 64 + x] = 0.0f;  // row 40 untouched
  const le::tessera::Box box = g.supportBox(kp);
  g.piU8ShrunkBy(kp, limit.data(), box, shrunk.data());
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const size_t i = size_t(y) * 64 + x;
      const bool inside = x >= box.x0 && x < box.x1 && y >= box.y0 && y < box.y1 && y != 40;
      ASSERT_EQ(shrunk[i], inside ? std::min<uint8_t>(pi[i], 128) : 7) << x << "," << y;
    }
}

}  // namespace
