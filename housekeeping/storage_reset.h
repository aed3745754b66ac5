// Wiping the storage kinds a persona selects from the engine profile.
#pragma once

#include <string>

#include "base/json_readers.h"

namespace quillwave {

using StorageResetSelection = BoolMap;

void ResetProfileStorage(const std::wstring& user_data_dir, const StorageResetSelection& selection);

}  // namespace quillwave
