#include "tel/fresh_store.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace le::test {
namespace {

void writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) _exit(3);
    done += static_cast<size_t>(n);
  }
}

std::string readAll(int fd) {
  std::string text;
  char chunk[4096];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(n));
  return text;
}

}  // namespace

std::string inFreshStore(const std::function<std::string()>& body) {
  int channel[2];
  if (pipe(channel) != 0) {
    ADD_FAILURE() << "pipe failed";
    return "";
  }
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    writeAll(channel[1], body());
    close(channel[1]);
    _exit(0);
  }
  close(channel[1]);
  const std::string text = child > 0 ? readAll(channel[0]) : "";
  close(channel[0]);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    ADD_FAILURE() << "the child holding the fresh store did not exit normally";
  }
  return text;
}

}  // namespace le::test
