#include "tessera/bank_arrays.h"

namespace le::tessera {

BankData bankFromArrays(const BankArrays& in, const GeometryStamp& stamp) {
  const int32_t n = in.nDonors;
  const double *cent = in.cent, *cCanon = in.cCanon, *aperture = in.aperture;
  const uint8_t* donors = in.donors;
  BankData bank;
  bank.stamp = stamp;
  bank.n_donors = n;
  const size_t count = size_t(n);
  bank.donors.assign(donors, donors + count * size_t(stamp.bandH()) * size_t(stamp.bandW()) * 3);
  bank.aperture.assign(aperture, aperture + count);
  bank.cent.resize(count);
  for (size_t i = 0; i < count; ++i) bank.cent[i] = {cent[2 * i], cent[2 * i + 1]};
  bank.c_canon = {cCanon[0], cCanon[1]};
  return bank;
}

}  // namespace le::tessera
