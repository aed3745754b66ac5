// Where the launcher lives and where its per-user data folder is.
#pragma once

#include <string>

namespace quillwave::platform {

// File name of the browser engine beside the launcher.
#ifdef _WIN32
inline constexpr wchar_t kEngineFileName[] = L"quillwave-engine.exe";
#else
inline constexpr wchar_t kEngineFileName[] = L"quillwave-engine";
#endif

// The folder holding the launcher's executable, without a trailing separator.
std::wstring LauncherDirectory();

// The user's local (non-roaming) application-data folder, or empty when it
// cannot be determined. Nothing is created.
std::wstring LocalAppDataFolder();

}  // namespace quillwave::platform
