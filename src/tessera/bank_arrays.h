// The teeth bank as the C interface hands it over (raw arrays beside the twelve stamp numbers),
// copied into the pass's own record.
#pragma once

#include <cstdint>

#include "tessera/teeth_pass.h"

namespace le::tessera {

// donors: n x band_h x band_w x 3 bytes (sizes from the stamp); cent: n (x, y) pairs; cCanon: (x, y);
// aperture: n values. n must be at least 1.
BankData bankFromArrays(const uint8_t* donors, int32_t n, const double* cent, const double* cCanon,
                        const double* aperture, const GeometryStamp& stamp);

}  // namespace le::tessera
