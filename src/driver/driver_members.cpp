#include "driver/driver_members.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "bundle/manifest.h"
#include "bundle/manifest_key.h"
#include "bundle/member_names.h"
#include "bundle/path_util.h"
#include "core/log.h"
#include "driver/jpg_dir_source.h"
#include "driver/load_image.h"

namespace le::driver {
namespace {

// A member name the manifest may override with a non-empty top-level string.
std::string memberName(const std::string& manifestText, const char* key, const char* fallback) {
  std::string name;
  return manifest_key::optStr(manifestText, key, name) ? name : std::string(fallback);
}

std::string manifestText(const Manifest& m) { return readManifestText(m.root); }

// Frame 0's header, so that a manifest size the JPEG frames do not have is refused before the
// cursor sizes its ring by it.
void requireJpgFrameSize(const std::string& dirName, const Manifest& m) {
  const std::string first = resolveMember(m.root, dirName + "/" + JpgDirSource::frameName(0));
  int w = 0, h = 0;
  if (imageSize(first, w, h)) JpgDirSource::requireFrameSize(first, w, h, m.W, m.H);
}

}  // namespace

std::unique_ptr<Source> openDriverMember(const Manifest& m, int lookAhead, int history) {
  const std::string text = manifestText(m);
  const std::string dirName = memberName(text, "target_frames", "target_frames");
  const std::string movieName = memberName(text, "target_frames_mp4", "target_frames.mp4");
  const std::string dir = resolveMember(m.root, dirName);
  const std::string moviePath = resolveMember(m.root, movieName);
  const bool populated = pathExists(JpgDirSource::framePath(dir, m.NT - 1));
  const bool movieThere = pathExists(moviePath);

  const char* prefer = std::getenv("LE_DRIVER_PREFER_MP4");
  const bool preferMovie = prefer && std::strcmp(prefer, "1") == 0 && movieThere;
  if (preferMovie && populated) {
    le::logPrintf("[le-driver] LE_DRIVER_PREFER_MP4=1 — %s/ is populated and NOT used; %s is the "
                  "member this consumer reads\n",
                  dirName.c_str(), movieName.c_str());
  }
  if (!preferMovie && populated) {
    le::logPrintf("[le-driver] %s/ (raw jpg, %d frames) — read one frame per pull\n",
                 dirName.c_str(), m.NT);
    requireJpgFrameSize(dirName, m);
    return openJpgDir(dir, m.NT, m.W, m.H);
  }
  if (!movieThere) {
    throw std::runtime_error("this bundle carries neither a populated " + dirName + "/ nor " +
                             movieName + " (" + moviePath +
                             ") — there is no driver video to play. REFUSING to create a "
                             "session.");
  }
  std::unique_ptr<Source> src = openMp4(moviePath, m.NT, m.W, m.H);
  le::logPrintf("[le-driver] %s decoded IN PLACE (%s, %d frames %dx%d, look-ahead %d, history %d) "
                "— no frame of the driver is expanded ahead of the paste\n",
                movieName.c_str(), src->name().c_str(), m.NT, m.W, m.H, std::max(lookAhead, 1),
                std::max(history, 0));
  return src;
}

std::unique_ptr<Source> openPriorMember(const Manifest& m) {
  const std::string name = memberName(manifestText(m), "P_hevc", "P_hevc.mov");
  const std::string path = resolveMember(m.root, name);
  if (!pathExists(path)) {
    throw std::runtime_error("this bundle carries neither a raw P.f16 nor " + name + " (" + path +
                             ") — there is no warp prior to play. REFUSING to create a session.");
  }
  std::unique_ptr<Source> src = openPriorHevc(path, m.NT, m.crop);
  le::logPrintf("Zentrova: identity source ready — %d frames %dx%d, played straight from %s (%s); "
                "nothing is unpacked to disk\n",
                m.NT, m.crop, m.crop, name.c_str(), src->name().c_str());
  return src;
}

}  // namespace le::driver
