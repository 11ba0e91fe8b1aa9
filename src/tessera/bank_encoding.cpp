#include "tessera/bank_encoding.h"

#include <stdexcept>

namespace le::tessera {

BankEncoding bankEncoding(const ManifestTessera& block, const BankSidecar& sidecar, const std::string& bundlePath,
                          const std::string& sidecarName) {
  BankEncoding out;
  out.container = block.bank_container.value_or(kDefaultBankContainer);
  out.codec = block.bank_codec.value_or(sidecar.codec);
  out.pix_fmt = block.bank_pix_fmt.value_or(sidecar.pix_fmt);
  out.packing = block.bank_packing.value_or(kDefaultBankPacking);
  if (out.pix_fmt.empty())
    throw std::runtime_error(bundlePath + ": neither manifest.tessera.bank_pix_fmt nor " + sidecarName +
                             ".codec.pix_fmt states the reference track's pixel format. A decoder handed no format "
                             "negotiates one, and the one it settles on is 4:2:0 — lossy chroma on reference pixels "
                             "IS the borrow degrading. Refusing rather than letting it guess.");
  return out;
}

}  // namespace le::tessera
