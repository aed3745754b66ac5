// quillwave-persona: checks a persona file, shows the engine start a launch
// would make, and probes the persona's egress.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/discovery_worker.h"

namespace quillwave {

inline constexpr int kToolUsageError = 64;
inline constexpr int kToolFileMissing = 3;

// What the tool runs against; the program takes the system's own.
struct ToolEnvironment {
  std::wstring launcher_dir;    // the launcher lies here, beside the tool
  std::wstring local_app_data;  // for the launcher data folder; may be empty
  ProbeFunction probe;
  std::function<void(std::string_view)> out;
  std::function<void(std::string_view)> err;
};

ToolEnvironment SystemToolEnvironment();

// `arguments` are the tool's own, after its program name. Returns the exit code.
int RunPersonaTool(const std::vector<std::wstring>& arguments, const ToolEnvironment& environment);

}  // namespace quillwave
