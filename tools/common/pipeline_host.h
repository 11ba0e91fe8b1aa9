// What every host of an utterance pipeline does first: the library's diagnostic lines routed to
// standard error, the session opened on a bundle, and the pipeline opened over a motion directory
// and warmed up.
#pragma once

#include <memory>
#include <string>

#include "le/le.h"
#include "le/le_utt.h"

namespace le::tool {

using Session = std::unique_ptr<le_ctx, void (*)(le_ctx*)>;
using Pipeline = std::unique_ptr<le_utt, void (*)(le_utt*)>;

// The library's diagnostic lines ("[tag] text") on standard error: its warnings always, the rest
// only when verbose, so that a failing run ends in the tool's own line.
void forwardLibraryLog(bool verbose);

// Throws std::runtime_error (tool + ": " and the library's reason).
Session openSession(const std::string& bundle, int threads, const std::string& tool);

// Creates the pipeline and waits for its warm-up: audio pushed before it would be discarded.
// Throws std::runtime_error (tool + ": no motion directory DIR", or the library's reason).
Pipeline openPipeline(le_ctx* ctx, const std::string& motion, int threads, const std::string& tool);

}  // namespace le::tool
