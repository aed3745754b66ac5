#include "launcher/engine_start.h"

namespace quillwave {

std::wstring EngineCommandLine(const std::wstring& engine_path, const std::wstring& own_arguments,
                               const EngineSwitches& switches) {
  std::wstring command_line = L"\"" + engine_path + L"\"";
  for (const wchar_t* fixed : kFixedEngineSwitches) command_line += std::wstring(L" ") + fixed;
  if (!own_arguments.empty()) command_line += L" " + own_arguments;
  if (!switches.empty()) command_line += L" " + EngineSwitchesText(switches);
  return command_line;
}

std::vector<std::wstring> EngineArgv(const std::wstring& engine_path, const std::vector<std::wstring>& own_arguments,
                                     const EngineSwitches& switches) {
  std::vector<std::wstring> argv{engine_path};
  for (const wchar_t* fixed : kFixedEngineSwitches) argv.emplace_back(fixed);
  argv.insert(argv.end(), own_arguments.begin(), own_arguments.end());
  for (const auto& item : switches) argv.push_back(item.text);
  return argv;
}

platform::SpawnResult StartEngine(const std::wstring& engine_path, const platform::OwnArguments& own_arguments,
                                  const EngineSwitches& switches) {
  platform::ProcessLaunch launch;
  launch.program = engine_path;
#ifdef _WIN32
  launch.command_line = EngineCommandLine(engine_path, own_arguments.text, switches);
#else
  launch.argv = EngineArgv(engine_path, own_arguments.list, switches);
#endif
  return platform::SpawnDetached(launch);
}

}  // namespace quillwave
