// Removing the previous session's tabs from the engine profile.
#pragma once

#include <string>

namespace quillwave {

// Deletes the saved tabs and sessions of the "Default" profile inside the
// user-data directory; nothing when the directory is empty.
void ClosePreviousTabs(const std::wstring& user_data_dir);

// Removes a folder (or file) with everything below it, silently and for good.
void DeleteDirectoryTree(const std::wstring& path);

}  // namespace quillwave
