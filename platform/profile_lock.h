// Whether a browser engine runs on a user-data folder, decided the way the
// engine itself decides it before it starts a second instance.
#pragma once

#include <string>

namespace quillwave::platform {

// Linux: "SingletonLock" in the folder is a symbolic link to "<host>-<pid>";
// it counts when the host is another machine (a profile on a shared folder),
// or when the process lives here and the file name of the program it runs
// (also one an upgrade has since replaced) is the file name of the program
// `engine_path` resolves to, links followed: the engine's own test. A
// process whose program cannot be read counts as no engine, as the engine
// concludes too. When `engine_path` is a script that starts the engine, every
// live process counts: which program it started cannot be told.
// Windows: a running engine holds "lockfile" in the folder open without
// write or delete sharing. Only reads: the lock is never removed, changed
// or kept open.
bool EngineRunsOn(const std::wstring& user_data_dir, const std::wstring& engine_path);

}  // namespace quillwave::platform
