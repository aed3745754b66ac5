#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "platform/paths.h"

namespace quillwave::platform {

std::wstring LauncherDirectory() {
  wchar_t buffer[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  ::PathRemoveFileSpecW(buffer);
  return buffer;
}

std::wstring LocalAppDataFolder() {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer))) return {};
  return buffer;
}

}  // namespace quillwave::platform
