// The teeth pass's state and the steps its public calls are made of, shared by the files that
// implement them: construction and frame flow (teeth_pass.cpp), donor placement and the coarse
// index (teeth_index.cpp), retrieval (teeth_retrieval.cpp) and emission (teeth_emit.cpp).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tessera/teeth_head.h"
#include "tessera/teeth_pass.h"

namespace le::tessera {

// The coarse index and the live side it is compared with are pooled by this factor.
inline constexpr int32_t kIndexPooling = 4;

// Placement of a donor in the window: its stored patch's row and column offsets, each in
// [0, 2 * pad].
struct Placement {
  int32_t oy = 0;
  int32_t ox = 0;
};

// The live side of one retrieval, at the frame's shift.
struct LiveSide {
  std::vector<uint8_t> rgb;           // the shifted window, RGB8 (0 outside the canvas)
  std::vector<uint8_t> pi;            // the canvas pi mask over the same window
  std::vector<float> planes;          // its three planes, value / 255
  std::vector<float> mask;            // the retrieval mask, window size
  float exactNorm = 1.f;
  int32_t rowBegin = 0;               // rows of the mask that hold a non-zero value
  int32_t rowEnd = 0;
  std::vector<int32_t> colBegin;      // per row, the columns that do (empty when none)
  std::vector<int32_t> colEnd;
  std::vector<uint16_t> pooledLive;   // three planes pooled by 4, binary16
  std::vector<uint16_t> pooledMask;
  float coarseNorm = 1e-4f;
};

// One thread's rows for the exact term: the donor's row and the distance and product rows.
struct ExactScratch {
  std::vector<uint8_t> donorRow;
  std::vector<float> distance;
  std::vector<float> product;
};

struct TeethPass::Pending {
  int32_t frameIndex = 0;
  std::vector<uint8_t> canvasRgb;
  std::vector<uint8_t> canvasPi;
  std::vector<int32_t> selection;
  int32_t rowShift = 0;
  int32_t colShift = 0;
  bool ok = false;
  std::string reason;
};

struct TeethPass::Impl {
  GeometryStamp stamp;
  ServeConfig config;
  HeadWeights head;
  int32_t nDonors = 0;
  std::vector<uint8_t> donors;
  std::vector<double> aperture;
  std::array<double, 2> cCanon{};
  std::vector<int32_t> dy, dx;  // each donor's offset from the canonical centre
  int32_t windowW = 0, windowH = 0;
  int32_t pooledW = 0, pooledH = 0;
  int32_t bandW = 0, bandH = 0;
  std::vector<uint8_t> bandMask;
  std::vector<uint16_t> index;  // per donor three pooled binary16 planes
  std::vector<float> previousMask;
  bool previousMaskValid = false;
  std::vector<int32_t> sticky;
  int32_t lastEmitted = -2;
  Pending held;
  bool holding = false;
  Pending incoming;  // the frame being received; swapped with the held one
  SynthStats stats;
  // Working buffers reused across frames.
  LiveSide live;
  HeadOutput headOut;
  std::vector<float> candidates, windowLive;
  std::vector<uint8_t> blendMask;

  Impl(const BankData& bank, const HeadWeights& head, const ServeConfig& config);

  size_t windowPixels() const { return size_t(windowW) * windowH; }
  size_t pooledPixels() const { return size_t(pooledW) * pooledH; }

  // teeth_index.cpp
  Placement placement(int32_t donor, int32_t rowShift, int32_t colShift) const;
  bool stored(const Placement& at, int32_t row, int32_t col) const;
  void placedRowRgb8(int32_t donor, const Placement& at, int32_t row, uint8_t* out) const;
  void canonicalRowsF16(int32_t donor, uint16_t* out, int32_t row0, int32_t row1) const;
  void buildIndex();

  // teeth_retrieval.cpp
  void prepareLive(const uint8_t* canvasRgb, const uint8_t* canvasPi, int32_t rowShift, int32_t colShift);
  void carryAndMeasureMask();
  void poolLive();
  std::vector<float> coarseTerms() const;
  float exactTerm(int32_t donor, ExactScratch& scratch) const;
  std::vector<int32_t> retrieve(const uint8_t* canvasRgb, const uint8_t* canvasPi, int32_t rowShift,
                                int32_t colShift);

  // teeth_pass.cpp
  void deriveShift(Pending& frame, const std::optional<Shift>& shift) const;

  // teeth_emit.cpp
  void emit(const Pending& frame, const std::vector<int32_t>* lookahead, FrameResult& result);
  std::vector<int32_t> chooseSet(const Pending& frame, const std::vector<int32_t>* lookahead) const;
  void gatherCandidates(const Pending& frame, const std::vector<int32_t>& set);
  void buildBlendMask(const Pending& frame, const std::vector<int32_t>& set);
  void liveWindow(const Pending& frame);
  void recordSynthesis(FrameResult& result);
  void writePixels(const Pending& frame, FrameResult& result) const;
};

}  // namespace le::tessera
