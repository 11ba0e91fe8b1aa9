#include "tessera/bank_arrays.h"

namespace le::tessera {

BankData bankFromArrays(const uint8_t* donors, int32_t n, const double* cent, const double* cCanon,
                        const double* aperture, const GeometryStamp& stamp) {
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
