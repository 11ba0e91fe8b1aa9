// --teeth: the bundle's teeth members opened through the teeth bank interface, the bank
// track decoded and put in donor order, and the borrow attached to the pipeline.
#pragma once

#include <string>

#include "le/le_utt.h"

namespace le::tool {

struct TeethArmed {
  int donors = 0;
  std::string geometry;  // the compose geometry the bank was identified with
};

// Throws std::runtime_error (tool + ": --teeth: " and the members' ruling, or tool + ": " and the
// attach's refusal).
TeethArmed armTeeth(le_utt* utt, const std::string& bundle, const std::string& tool);

// The borrow's figures for the summary: "teeth: N frames borrowed, M refused, synthesis weight ...".
std::string teethSummary(le_utt* utt);

}  // namespace le::tool
