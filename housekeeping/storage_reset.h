// Wiping the storage kinds a persona selects from the engine profile.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/json_readers.h"

namespace quillwave {

using StorageResetSelection = BoolMap;

// Every kind a selection may name, "all" first.
std::vector<std::string_view> StorageKinds();

void ResetProfileStorage(const std::wstring& user_data_dir, const StorageResetSelection& selection);

}  // namespace quillwave
