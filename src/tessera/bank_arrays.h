// The teeth bank as the C interface hands it over (raw arrays beside the twelve stamp numbers),
// copied into the pass's own record.
#pragma once

#include <cstdint>

#include "tessera/teeth_pass.h"

namespace le::tessera {

// donors: nDonors x band_h x band_w x 3 bytes (sizes from the stamp); cent: nDonors (x, y) pairs;
// cCanon: (x, y); aperture: nDonors values; stamp: the twelve geometry numbers.
struct BankArrays {
  const uint8_t* donors;
  int32_t nDonors;
  const double* cent;
  const double* cCanon;
  const double* aperture;
  const int32_t* stamp;
};

// The bank record of the arrays under an already read stamp; nDonors must be at least 1.
BankData bankFromArrays(const BankArrays& in, const GeometryStamp& stamp);

}  // namespace le::tessera
