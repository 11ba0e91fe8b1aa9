// Frame-by-frame reading of a bundle's warp prior, the source crops the director warps: rows of
// crop x crop x 3 half-precision values, from the raw member "P.f16" when the bundle carries it
// (the same rows a session maps), else played from the prior movie.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "bundle/manifest.h"
#include "bundle/member_file.h"

namespace le {

class DriverCursor;

class PriorRows {
 public:
  // lookAhead and history size the movie cursor and are unused for a raw prior. Throws
  // std::runtime_error when the bundle carries no prior or its member does not match the manifest.
  PriorRows(const Manifest& m, int lookAhead, int history);
  ~PriorRows();
  PriorRows(const PriorRows&) = delete;
  PriorRows& operator=(const PriorRows&) = delete;

  size_t rowBytes() const { return rowBytes_; }
  // "mmap P.f16", or the movie cursor's source description.
  const std::string& backend() const { return backend_; }
  // Writes frame t (rowBytes bytes) into out; throws for t outside [0, NT).
  void row(int t, uint8_t* out);

 private:
  int NT_ = 0;
  size_t rowBytes_ = 0;
  MappedFile raw_;
  std::unique_ptr<DriverCursor> cursor_;
  std::string backend_;
};

}  // namespace le
