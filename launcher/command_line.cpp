#include "launcher/command_line.h"

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace quillwave {

std::wstring UserDataDirFromArguments(const std::vector<std::wstring>& arguments) {
  static constexpr std::wstring_view kPrefix = L"--user-data-dir=";
  for (const auto& argument : arguments) {
    if (argument.size() > kPrefix.size() && argument.compare(0, kPrefix.size(), kPrefix) == 0) {
      return argument.substr(kPrefix.size());
    }
  }
  return {};
}

std::wstring UserDataDirFromCommandLine() { return UserDataDirFromArguments(platform::ProcessArguments()); }

std::wstring LauncherDataFolderIn(const std::wstring& local_app_data) {
  if (local_app_data.empty()) return {};
  return local_app_data + platform::kPathSeparator + L"Corvane" + platform::kPathSeparator;
}

std::wstring LauncherDataFolder() { return LauncherDataFolderIn(platform::LocalAppDataFolder()); }

std::wstring QuoteArgument(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them.
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');  // they now precede the closing quote
  quoted += L'"';
  return quoted;
}

std::wstring QuoteArgumentIfNeeded(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  return QuoteArgument(argument);
}

}  // namespace quillwave
