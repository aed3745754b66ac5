// Wiping the storage kinds a persona selects from the engine profile.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/json_readers.h"

namespace quillwave {

using StorageResetSelection = BoolMap;

// Every kind a selection may name, "all" first.
std::vector<std::string_view> StorageKinds();

// What a reset could not remove of what the selection covers: how many
// entries stay, and the first of them, relative to the user-data folder
// with '/' between names. Nothing kept: the reset was complete.
struct StorageResetResult {
  std::size_t kept = 0;
  std::wstring first_kept{};
};

StorageResetResult ResetProfileStorage(const std::wstring& user_data_dir, const StorageResetSelection& selection);

}  // namespace quillwave
