// The teeth borrow itself: for each rendered compose canvas and its mouth-interior (pi) mask, find
// the donors of the reference bank whose teeth best match the live mouth and blend the best few
// into the teeth window with the learned head. It works one frame behind, so that the next frame's
// donor choice can steer the current one.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tessera/geometry_stamp.h"
#include "tessera/head_weights.h"
#include "tessera/serve_config.h"

namespace le::tessera {

// The bank as the pass receives it: donor patches in donor order (n_donors x band_h x band_w x 3
// bytes), per donor its aperture and mouth centre (x, y), and the canonical centre (x, y).
struct BankData {
  std::vector<uint8_t> donors;
  std::vector<double> aperture;
  std::vector<std::array<double, 2>> cent;
  std::array<double, 2> c_canon{};
  GeometryStamp stamp;
  int32_t n_donors = 0;
};

// What one emitted frame yields.
struct FrameResult {
  std::vector<uint8_t> pixels;  // the teeth window, packed RGB8, rows of window_w
  bool refused = false;
  std::string reason;
  int32_t donors = 0;  // how many donors were blended
  float synthMean = 0.f;
  float synthMax = 0.f;
};

// Row shift, column shift.
using Shift = std::pair<int32_t, int32_t>;

class TeethPass {
 public:
  // Validates the bank against its stamp and builds the coarse index on the worker pool. Throws
  // std::runtime_error ("teeth: ...").
  TeethPass(const BankData& bank, const HeadWeights& head, const ServeConfig& config);
  ~TeethPass();
  TeethPass(TeethPass&&) noexcept;
  TeethPass& operator=(TeethPass&&) noexcept;

  // Takes one frame (canvas RGB8 and pi mask, canvas_w x canvas_h). Returns true when it wrote
  // `result` for the previously held frame. Without a shift the shift is derived from the pi mask.
  bool push(int32_t frameIndex, const uint8_t* canvasRgb, const uint8_t* canvasPi,
            std::optional<Shift> shift, FrameResult& result);
  // Emits the held frame with no lookahead; false when none is held.
  bool flush(FrameResult& result);

  // The donor's canonical window as three binary16 planes, whole or rows [row0, row1) only.
  void canonicalWindowF16(int32_t donor, uint16_t* out) const;
  void canonicalWindowF16Rows(int32_t donor, uint16_t* out, int32_t row0, int32_t row1) const;
  // The donor selection for a live canvas at a shift: exactly K entries.
  std::vector<int32_t> retrieve(const uint8_t* canvasRgb, const uint8_t* canvasPi, int32_t rowShift,
                                int32_t colShift);

  const GeometryStamp& stamp() const;
  const ServeConfig& config() const;

  // Running statistics of the synthesis weight over every emitted frame.
  struct SynthStats {
    int64_t frames = 0;
    int64_t pixels = 0;
    double sumOfMeans = 0.0;
    float largest = 0.f;
  };
  SynthStats synthStats() const;

 private:
  struct Pending;  // one received frame, held until the next one arrives
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace le::tessera
