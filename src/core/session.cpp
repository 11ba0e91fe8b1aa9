#include "core/session.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "bundle/member_names.h"
#include "core/log.h"

namespace le {
// The session's driver cursor: two frames decoded ahead, eleven kept for going back.
constexpr int kDriverLookAhead = 2;
constexpr int kDriverHistory = 11;

std::vector<uint8_t> readPasteMask(const Manifest& m) {
  // A crop the compositor cannot paste is refused here, before its mask is allocated, and so at
  // le_create rather than at the first paste.
  Paste::requireSide(m.crop);
  std::vector<uint8_t> mask(size_t(m.crop) * size_t(m.crop), 0);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(resolveMember(m.root, "mask_512.u8").c_str(), "rb"),
                                                    &std::fclose);
  if (!f || std::fread(mask.data(), 1, mask.size(), f.get()) != mask.size())
    throw std::runtime_error("mask read failed");
  return mask;
}

Renderer& rendererOf(le_ctx& ctx) {
  if (!ctx.renderer) {
    int intraOp = ctx.threads;
    if (!ctx.threadsExplicit && ctx.ep.empty()) {
      intraOp = std::min(ctx.threads, 2);
      le::logPrintf("[le] director intra-op %d of pool %d: the caller did not choose, the core sized it for the le_utt "
                    "pipeline\n",
                    intraOp, ctx.threads);
    }
    ctx.renderer = std::make_unique<Renderer>(ctx.manifest, ctx.identity, ctx.modelKey, intraOp, ctx.ep);
  }
  return *ctx.renderer;
}

}  // namespace le

le_ctx::le_ctx(const std::string& bundle, std::string key, int threadCount, bool isExplicit, std::string epRequest)
    : manifest(le::loadManifest(bundle)),
      identity(manifest),
      drive(le::loadDrive(manifest)),
      paste(std::make_unique<le::Paste>(le::readPasteMask(manifest), manifest.crop,
                                        le::Unsharp{manifest.amount, manifest.sigma, manifest.ksize})),
      threads(threadCount),
      ep(std::move(epRequest)),
      threadsExplicit(isExplicit),
      modelKey(std::move(key)),
      cursor(le::DriverCursor::open(manifest, le::kDriverLookAhead, le::kDriverHistory)),
      frame(size_t(manifest.W) * size_t(manifest.H) * 3) {}
