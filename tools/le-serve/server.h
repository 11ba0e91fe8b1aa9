// The network side of le-serve: HTTP for the page and a WebSocket at /ws for the viewer, on one
// thread, with the 25 fps clock that drives the studio. Boost.Beast lives in server.cpp alone.
#pragma once

#include <string>

#include "protocol.h"
#include "stage.h"

namespace le_serve {

struct ServerOptions {
  std::string address = "127.0.0.1";
  int port = 8080;  // 0: any free port
  Limits limits;
};

// Serves until SIGINT or SIGTERM. Prints "le-serve: serving http://ADDR:PORT/" on standard output
// once it listens. Throws std::runtime_error ("le-serve: cannot listen on ...") when it cannot.
void serve(Stage& stage, const ServerOptions& options);

}  // namespace le_serve
