#include "housekeeping/previous_tabs.h"

#include "platform/files.h"

namespace quillwave {

KeptEntries ClosePreviousTabs(const std::wstring& user_data_dir) {
  KeptEntries kept;
  // Without a user-data directory the engine's profile is unknown; guessing
  // one could wipe a profile the persona never meant.
  if (user_data_dir.empty()) return kept;
  for (const wchar_t* name : {L"Current Tabs", L"Current Session", L"Last Tabs", L"Last Session"}) {
    AddKept(kept, platform::RemoveBelow(user_data_dir, {L"Default", name}, platform::RemoveKind::kFile));
  }
  AddKept(kept, platform::RemoveBelow(user_data_dir, {L"Default", L"Sessions"}, platform::RemoveKind::kTree));
  return kept;
}

}  // namespace quillwave
