// The teeth pass's choices over donor lists: which donors a frame's retrieval selects, which set
// an emitted frame blends, and which of them stay sticky for the next frame.
#pragma once

#include <cstdint>
#include <vector>

#include "tessera/serve_config.h"

namespace le::tessera {

// The frame's K donors from its shortlist (donor indices) and their exact terms (same order):
// the shortlist sorted by term (stable), then the first `cut` entries whose aperture lies within
// aperture_tol of the best donor's, the best donor when none does, the last kept one repeated up
// to K.
std::vector<int32_t> retrieveSelect(const std::vector<int32_t>& shortlist, const std::vector<float>& exact,
                                    const std::vector<double>& aperture, const ServeConfig& config);

// The donors an emitted frame blends, at most k: without a sticky set (null or empty) the
// lookahead entries then the frame's own selection without them; with one, the sticky set, then
// the lookahead entries and the rest of the selection that it lacks.
std::vector<int32_t> donorSet(const std::vector<int32_t>& current, const std::vector<int32_t>& ahead,
                              const std::vector<int32_t>* sticky, int32_t k);

// The first min(keep, set size) set donors by their total blend weight, largest first (stable).
std::vector<int32_t> stickyByWeight(const std::vector<int32_t>& set, const std::vector<double>& totals,
                                    int32_t keep);

}  // namespace le::tessera
