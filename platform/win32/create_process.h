// CreateProcessW, started again when the system lost the new process while
// setting it up. Wine now and then does that and reports ERROR_INTERNAL_ERROR
// before any of the child's own code ran; no process exists then, so a
// second start cannot run the program twice. Every other failure is returned
// at once, with GetLastError() as CreateProcessW left it.
#pragma once

#include <windows.h>

namespace quillwave::platform {

inline BOOL CreateProcessStartingAgainIfLost(const wchar_t* application, wchar_t* command_line, BOOL inherit_handles,
                                             DWORD flags, void* environment, STARTUPINFOW* startup,
                                             PROCESS_INFORMATION* info) {
  constexpr int kAttempts = 3;
  for (int attempt = 1;; ++attempt) {
    if (::CreateProcessW(application, command_line, nullptr, nullptr, inherit_handles, flags, environment, nullptr,
                         startup, info)) {
      return TRUE;
    }
    if (::GetLastError() != ERROR_INTERNAL_ERROR || attempt == kAttempts) return FALSE;
  }
}

}  // namespace quillwave::platform
