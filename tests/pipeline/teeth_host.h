// A host arming the teeth borrow on a pipeline: the bundle's teeth members through the teeth bank
// interface, the bank track decoded and put in donor order, then the attach.
#pragma once

#include <string>
#include <vector>

#include "le/le_tessera.h"
#include "le/le_utt.h"
#include "support/temp_dir.h"
#include "tessera/bank_decoder.h"

namespace le::test {

// The attach's answer: 0 when armed, else 1 with err holding the message.
inline int attachTeeth(le_utt* utt, const std::string& bundle, std::string* err = nullptr) {
  char text[2048] = "";
  le_tessera_members* m = le_tessera_members_open(bundle.c_str(), text, sizeof text);
  if (!m) {
    if (err) *err = text;
    return 1;
  }
  const int32_t n = le_tessera_members_n_donors(m);
  std::vector<int32_t> trackOrder(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) trackOrder[size_t(i)] = i;
  const std::string track = readFile(le_tessera_members_bank_track_path(m));
  const std::vector<uint8_t> inTrackOrder =
      le::tessera::decodeBankTrack(reinterpret_cast<const uint8_t*>(track.data()), track.size(), n,
                                   le_tessera_members_band_h(m), le_tessera_members_band_w(m), trackOrder);
  std::vector<uint8_t> donors(inTrackOrder.size());
  int r = le_tessera_members_reorder(m, inTrackOrder.data(), donors.data(), text, sizeof text);
  if (r == 0)
    r = le_utt_tessera_attach(utt, donors.data(), n, le_tessera_members_cent(m), le_tessera_members_c_canon(m),
                              le_tessera_members_aperture(m), le_tessera_members_stamp(m), le_tessera_members_head_pt(m),
                              le_tessera_members_head_pt_len(m), le_tessera_members_head_json(m),
                              le_tessera_members_manifest_json(m), text, sizeof text);
  le_tessera_members_close(m);
  if (err) *err = text;
  return r;
}

}  // namespace le::test
