// le-serve: the person live in a web browser. Opens a session on a bundle and an utterance pipeline
// over a motion directory, and serves one page: the frames at 25 fps with the speech in step, a
// text box, a recording picker, the microphone, an interrupt button and live figures. One viewer
// drives at a time. Only the library's C interface is used.
//
//   le-serve BUNDLE --motion DIR [--port 8080] [--listen ADDR] [--teeth] [--max-upload MB] [--threads N]
//            [--verbose]
//
// A failure to start ends the run with one line on standard error and exit status 1.
#include <cstdio>
#include <stdexcept>

#include "common/pipeline_host.h"
#include "common/teeth_arm.h"
#include "options.h"
#include "server.h"
#include "stage.h"

namespace le_serve {
namespace {

int run(const Options& o) {
  le::tool::forwardLibraryLog(o.verbose);
  const le::tool::Session session = le::tool::openSession(o.bundle, o.threads, "le-serve");
  le_ctx* ctx = session.get();
  const le::tool::Pipeline utt = le::tool::openPipeline(ctx, o.motion, o.threads, "le-serve");
  if (o.teeth) {
    const le::tool::TeethArmed armed = le::tool::armTeeth(utt.get(), o.bundle, "le-serve");
    std::printf("le-serve: teeth borrow armed: %d donors, compose geometry %s\n", armed.donors, armed.geometry.c_str());
  }
  Stage stage(utt.get(), le_width(ctx), le_height(ctx), o.teeth);
  ServerOptions server;
  server.address = o.listen;
  server.port = o.port;
  server.limits.maxUploadBytes = size_t(o.maxUploadMb) << 20;
  serve(stage, server);
  return 0;
}

}  // namespace
}  // namespace le_serve

int main(int argc, char** argv) {
  const le_serve::Options options = le_serve::parseOptions(argc, argv);
  try {
    return le_serve::run(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
