// What the launcher reads from its own command line, and where its data
// folder is.
#pragma once

#include <string>
#include <vector>

namespace quillwave {

// The first argument longer than 16 characters that starts with
// "--user-data-dir=" (case-sensitive) gives the rest of it; else empty.
std::wstring UserDataDirFromArguments(const std::vector<std::wstring>& arguments);

// The launcher data folder: "Corvane" under the local application-data
// folder, with a trailing separator; empty when that folder is unknown.
std::wstring LauncherDataFolderIn(const std::wstring& local_app_data);

}  // namespace quillwave
