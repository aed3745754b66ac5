// The launcher's own command line and Windows command-line quoting.
#pragma once

#include <string>
#include <vector>

namespace quillwave {

// The first argument longer than 16 characters that starts with
// "--user-data-dir=" (case-sensitive) gives the rest of it; else empty.
std::wstring UserDataDirFromArguments(const std::vector<std::wstring>& arguments);

// The same, read afresh from the process's own command line.
std::wstring UserDataDirFromCommandLine();

// The launcher data folder: "Corvane" under the local application-data
// folder, with a trailing separator; empty when that folder is unknown.
std::wstring LauncherDataFolderIn(const std::wstring& local_app_data);
std::wstring LauncherDataFolder();

// One argument written so that CommandLineToArgvW gives it back unchanged.
// Without a blank, tab or double quote it is written as it is (an empty
// argument as ""); otherwise it is quoted, inner quotes become \" and
// backslashes before a quote or the closing quote are doubled.
std::wstring QuoteArgumentIfNeeded(const std::wstring& argument);
std::wstring QuoteArgument(const std::wstring& argument);

}  // namespace quillwave
