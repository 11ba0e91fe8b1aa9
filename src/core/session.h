// The session behind le_ctx: one bundle opened for rendering and compositing.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bundle/drive.h"
#include "bundle/identity.h"
#include "bundle/manifest.h"
#include "driver/driver_cursor.h"
#include "paste/paste.h"
#include "render/renderer.h"

struct le_ctx {
  // Members are built in this order and destroyed in the reverse one; each step's failure unwinds
  // the earlier ones.
  le_ctx(const std::string& bundle, std::string modelKey, int threads, bool threadsExplicit, std::string ep);

  le::Manifest manifest;
  le::Identity identity;
  le::Drive drive;
  std::unique_ptr<le::Renderer> renderer;  // null until the first render call or pipeline creates it
  std::unique_ptr<le::Paste> paste;
  int threads;
  std::string ep;
  bool threadsExplicit;
  std::string modelKey;
  std::unique_ptr<le::DriverCursor> cursor;
  std::vector<uint8_t> frame;  // the session's own composited RGB frame, W x H x 3
  const float* lastCrop = nullptr;  // output of the latest render, owned by the renderer
  // Set while an utterance pipeline runs on the session: its threads own the director and the
  // cursor, so a second pipeline is refused.
  std::atomic<bool> pipelineRunning{false};
};

namespace le {

// crop x crop bytes of the member "mask_512.u8" (the name is fixed whatever the crop); bytes past
// them are not read. Throws the compositor's refusal of a crop over Paste::kMaxSide, or "mask read
// failed".
std::vector<uint8_t> readPasteMask(const Manifest& manifest);

// The session's director, created on first use. Unless the caller chose the thread count or an
// execution provider, the director gets at most two intra-op threads (a pipeline on the session
// needs the rest) and a log line says so. A failed creation leaves none, so the next call tries
// again.
Renderer& rendererOf(le_ctx& ctx);

}  // namespace le
