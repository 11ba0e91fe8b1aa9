#include "common/pipeline_host.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace le::tool {
namespace {

bool verboseLog = false;

void printLibraryLine(const char* line, void*) {
  const char* text = std::strstr(line, "] ");
  const bool warning = text && std::strncmp(text + 2, "WARNING", 7) == 0;
  if (warning || verboseLog) std::fprintf(stderr, "%s\n", line);
}

}  // namespace

void forwardLibraryLog(bool verbose) {
  verboseLog = verbose;
  le_log_set(&printLibraryLine, nullptr);
}

Session openSession(const std::string& bundle, int threads, const std::string& tool) {
  Session session(le_create(bundle.c_str(), "b1", threads, nullptr), &le_destroy);
  if (!session) throw std::runtime_error(tool + ": " + le_last_error());
  return session;
}

Pipeline openPipeline(le_ctx* ctx, const std::string& motion, int threads, const std::string& tool) {
  struct stat st;
  if (::stat(motion.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    throw std::runtime_error(tool + ": no motion directory " + motion);
  le_utt_opts opts{};
  opts.motion_dir = motion.c_str();
  opts.threads = threads;
  Pipeline utt(le_utt_create(ctx, &opts), &le_utt_destroy);
  if (!utt) throw std::runtime_error(tool + ": " + le_utt_last_error());
  int ready;
  while ((ready = le_utt_ready(utt.get())) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (ready < 0)
    throw std::runtime_error(tool + ": the motion directory " + motion + " cannot drive speech: " +
                             le_utt_last_error());
  return utt;
}

}  // namespace le::tool
