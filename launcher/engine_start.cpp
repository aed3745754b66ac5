#include "launcher/engine_start.h"

namespace quillwave {

platform::ProcessLaunch EngineLaunch(const std::wstring& engine_path, const platform::OwnArguments& own_arguments,
                                     const EngineSwitches& switches) {
  platform::ProcessLaunch launch;
  launch.program = engine_path;
  for (const wchar_t* fixed : kFixedEngineSwitches) launch.arguments.push_back({fixed});
  launch.own_arguments = own_arguments;
  launch.own_arguments_at = launch.arguments.size();
  launch.arguments.insert(launch.arguments.end(), switches.begin(), switches.end());
  return launch;
}

}  // namespace quillwave
