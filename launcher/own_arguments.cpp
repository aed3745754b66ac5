#include "launcher/own_arguments.h"

#include <utility>

#include "platform/command_line.h"
#include "platform/files.h"

namespace quillwave {

std::wstring UserDataDirFromArguments(const std::vector<std::wstring>& arguments) {
  // The engine keeps the last value of a switch given more than once.
  std::wstring folder;
  const std::size_t end = platform::FirstSwitchEnd(arguments);
  for (std::size_t i = 0; i < end; ++i) {
    if (auto value = platform::EngineSwitchValue(arguments[i], L"user-data-dir")) folder = std::move(*value);
  }
  return folder;
}

std::wstring LauncherDataFolderIn(const std::wstring& local_app_data) {
  if (local_app_data.empty()) return {};
  return local_app_data + platform::kPathSeparator + L"Corvane" + platform::kPathSeparator;
}

}  // namespace quillwave
