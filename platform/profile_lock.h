// Whether a browser engine runs on a user-data folder, decided the way the
// engine itself decides it before it starts a second instance.
#pragma once

#include <string>

namespace quillwave::platform {

// Linux: "SingletonLock" in the folder is a symbolic link to "<host>-<pid>";
// it counts when the host is another machine (a profile on a shared folder)
// or the process still exists here. Windows: a running engine holds
// "lockfile" in the folder open without write or delete sharing. Only reads:
// the lock is never removed, changed or kept open.
bool EngineRunsOn(const std::wstring& user_data_dir);

}  // namespace quillwave::platform
