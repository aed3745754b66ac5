#include "housekeeping/previous_tabs.h"

#include "platform/files.h"

namespace quillwave {

void ClosePreviousTabs(const std::wstring& user_data_dir) {
  // Without a user-data directory the engine's profile is unknown; guessing
  // one could wipe a profile the persona never meant.
  if (user_data_dir.empty()) return;
  const std::wstring profile = user_data_dir + platform::kPathSeparator + L"Default" + platform::kPathSeparator;
  for (const wchar_t* name : {L"Current Tabs", L"Current Session", L"Last Tabs", L"Last Session"}) {
    platform::DeleteFileOnly(profile + name);
  }
  DeleteDirectoryTree(profile + L"Sessions");
}

void DeleteDirectoryTree(const std::wstring& path) {
  if (!platform::PathExists(path)) return;
  platform::RemoveTree(path);
}

}  // namespace quillwave
