// What the launcher reads from its own command line, and where its data
// folder is.
#pragma once

#include <string>
#include <vector>

namespace quillwave {

// The user-data folder the engine will open with these arguments: the
// value of the last user-data-dir switch as the engine reads switches
// (before the first "--"; "--" or "-", on Windows also "/"; on Windows in
// any letter case). Empty when there is none or its value is empty.
std::wstring UserDataDirFromArguments(const std::vector<std::wstring>& arguments);

// The launcher data folder: "Corvane" under the local application-data
// folder, with a trailing separator; empty when that folder is unknown.
std::wstring LauncherDataFolderIn(const std::wstring& local_app_data);

}  // namespace quillwave
