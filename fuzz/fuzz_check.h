// What the fuzz targets share: a failed property aborts with a message, so
// libFuzzer records the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace quillwave::fuzz {

inline void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

}  // namespace quillwave::fuzz
