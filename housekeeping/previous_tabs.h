// Removing the previous session's tabs from the engine profile.
#pragma once

#include <string>

#include "housekeeping/kept_entries.h"

namespace quillwave {

// Deletes the saved tabs and sessions of the "Default" profile inside the
// user-data directory; nothing when the directory is empty. Nothing behind a
// link inside the user-data directory is touched. Returns what had to stay.
KeptEntries ClosePreviousTabs(const std::wstring& user_data_dir);

}  // namespace quillwave
