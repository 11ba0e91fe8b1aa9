#include "common/teeth_arm.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "common/bank_track_reader.h"
#include "le/le_tessera.h"

namespace le::tool {

namespace {

using Members = std::unique_ptr<le_tessera_members, void (*)(le_tessera_members*)>;

Members openMembers(const std::string& bundle, const std::string& tool) {
  char err[2048] = "";
  Members members(le_tessera_members_open(bundle.c_str(), err, sizeof err), &le_tessera_members_close);
  if (!members) throw std::runtime_error(tool + ": --teeth: " + err);
  return members;
}

std::vector<uint8_t> donorsOf(const le_tessera_members* m, const std::string& tool) {
  const std::vector<uint8_t> track =
      readBankTrack(le_tessera_members_bank_track_path(m), le_tessera_members_n_donors(m),
                              le_tessera_members_band_w(m), le_tessera_members_band_h(m), tool);
  std::vector<uint8_t> donors(track.size());
  char err[1024] = "";
  if (le_tessera_members_reorder(m, track.data(), donors.data(), err, sizeof err) != 0)
    throw std::runtime_error(tool + ": --teeth: " + err);
  return donors;
}

}  // namespace

TeethArmed armTeeth(le_utt* utt, const std::string& bundle, const std::string& tool) {
  const Members members = openMembers(bundle, tool);
  const le_tessera_members* m = members.get();
  const std::vector<uint8_t> donors = donorsOf(m, tool);
  char err[2048] = "";
  if (le_utt_tessera_attach(utt, donors.data(), le_tessera_members_n_donors(m), le_tessera_members_cent(m),
                            le_tessera_members_c_canon(m), le_tessera_members_aperture(m),
                            le_tessera_members_stamp(m), le_tessera_members_head_pt(m),
                            le_tessera_members_head_pt_len(m), le_tessera_members_head_json(m),
                            le_tessera_members_manifest_json(m), err, sizeof err) != 0)
    throw std::runtime_error(tool + ": " + err);
  TeethArmed armed;
  armed.donors = le_tessera_members_n_donors(m);
  char geometry[256] = "";
  le_utt_tessera_geometry(utt, geometry, sizeof geometry);
  armed.geometry = geometry;
  return armed;
}

std::string teethSummary(le_utt* utt) {
  int64_t borrowed = 0, refused = 0, count = 0;
  char message[512] = "";
  const int state = le_utt_tessera_stats(utt, &borrowed, &refused, message, sizeof message);
  double average = 0, last = 0;
  le_utt_tessera_synth_w(utt, &average, &last, &count);
  char line[1024];
  std::snprintf(line, sizeof line, "teeth: %lld frames borrowed, %lld refused, synthesis weight %.3f over %lld frames%s%s",
                static_cast<long long>(borrowed), static_cast<long long>(refused), average,
                static_cast<long long>(count), state < 0 ? "; FAILED: " : "", state < 0 ? message : "");
  return line;
}

}  // namespace le::tool
