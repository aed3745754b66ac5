// Wiping the storage kinds a persona selects from the engine profile.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/json_readers.h"
#include "housekeeping/kept_entries.h"

namespace quillwave {

using StorageResetSelection = BoolMap;

// Every kind a selection may name, "all" first.
std::vector<std::string_view> StorageKinds();

// Returns what the reset could not remove of what the selection covers.
KeptEntries ResetProfileStorage(const std::wstring& user_data_dir, const StorageResetSelection& selection);

}  // namespace quillwave
