// Whether a browser engine runs on a user-data folder, decided the way the
// engine itself decides it before it starts a second instance.
#pragma once

#include <string>

namespace quillwave::platform {

// Linux: "SingletonLock" in the folder is a symbolic link to "<host>-<pid>";
// it counts when the host is another machine (a profile on a shared folder),
// or when the process lives here and runs `engine_path` (the same file, also
// through links, or a file that stood at its place when the process started
// and has since been replaced, as by an upgrade). A process whose program
// cannot be read for lack of rights counts as the engine, and so does every
// live process when `engine_path` is a script that starts the engine; any
// other process left the lock behind, as the engine itself concludes.
// Windows: a running
// engine holds "lockfile" in the folder open without write or delete
// sharing. Only reads: the lock is never removed, changed or kept open.
bool EngineRunsOn(const std::wstring& user_data_dir, const std::wstring& engine_path);

}  // namespace quillwave::platform
