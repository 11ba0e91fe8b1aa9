// libFuzzer target over the bank track decoder: any input, read as the track of a two-donor bank of
// the test person's band (13 x 9), either decodes to exactly the donor buffer's size or is refused
// with one of the decoder's own messages; anything else (a crash, a hang, an out-of-bounds read
// or a leak under the sanitizers, another exception) is a finding.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "tessera/bank_decoder.h"

namespace {

// The band of the seeds' tiny track (teeth_bank.py tracks: tiny.mp4).
constexpr int32_t kDonors = 2, kBandH = 9, kBandW = 13;

bool isDecoderRefusal(const std::string& text) {
  return text.rfind("reference bank ", 0) == 0 || text.rfind("bank track ", 0) == 0 ||
         text.rfind("no decoder for the reference bank track", 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<int32_t> order = {1, 0};
  try {
    const std::vector<uint8_t> donors = le::tessera::decodeBankTrack(data, size, kDonors, kBandH, kBandW, order);
    if (donors.size() != size_t(kDonors) * kBandH * kBandW * 3) std::abort();
  } catch (const std::runtime_error& e) {
    if (!isDecoderRefusal(e.what())) std::abort();
  }
  return 0;
}
