// What a housekeeping step was asked to remove and had to leave.
#pragma once

#include <cstddef>
#include <string>

#include "platform/files.h"

namespace quillwave {

// How many entries stay, and the first of them, relative to the user-data
// folder with '/' between names. Nothing kept: the step was complete.
struct KeptEntries {
  std::size_t kept = 0;
  std::wstring first_kept{};
};

// Adds what one removal left; the first entry kept stays the first.
inline void AddKept(KeptEntries& entries, const platform::Removal& removal) {
  if (entries.kept == 0) entries.first_kept = removal.first_kept;
  entries.kept += removal.kept;
}

}  // namespace quillwave
