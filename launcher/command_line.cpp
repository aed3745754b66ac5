#include "launcher/command_line.h"

#include <string_view>

#include "platform/files.h"

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

std::wstring LauncherDataFolderIn(const std::wstring& local_app_data) {
  if (local_app_data.empty()) return {};
  return local_app_data + platform::kPathSeparator + L"Corvane" + platform::kPathSeparator;
}

}  // namespace quillwave
