#include <windows.h>

#include "platform/profile_lock.h"
#include "platform/win32/unique_handle.h"

namespace quillwave::platform {

bool EngineRunsOn(const std::wstring& user_data_dir, const std::wstring& /*engine_path*/) {
  if (user_data_dir.empty()) return false;
  const std::wstring lock = user_data_dir + L"\\lockfile";
  // Write and delete access with full sharing: refused with a sharing
  // violation exactly while an engine holds the file without sharing it.
  // OPEN_EXISTING creates nothing, and the file is closed at once.
  UniqueFileHandle file(::CreateFileW(lock.c_str(), GENERIC_WRITE | DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  return !file.valid() && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace quillwave::platform
