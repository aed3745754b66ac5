// The engine start a launch would make, worked out by the launcher's own run
// sequence without touching the profile, writing a record, using the
// network or starting anything.
#pragma once

#include <optional>
#include <string>

#include "platform/command_line.h"

namespace quillwave {

// A discovery answer taken as given instead of asked for. Empty members are
// what an endpoint left out.
struct AssumedAnswer {
  std::string ip;
  std::string country;
  std::string timezone;
  std::string lat;
  std::string lng;
};

struct Rehearsal {
  int exit_code = 0;               // the launcher's: 0 started, 1 engine problem, 42 refused
  platform::ProcessLaunch launch;  // when the exit code is 0
  std::wstring problem;            // the launcher's message when the exit code is 1
};

// Runs the launcher beside `launcher_dir` with these own arguments. When the
// persona needs discovery, `answer` is what every endpoint says; without one
// every endpoint fails. `without_window` rehearses a start that has no
// progress window (QUILLWAVE_PROGRESS_WINDOW=none, no display).
Rehearsal RehearseLaunch(const std::wstring& launcher_dir, const std::wstring& local_app_data,
                         const platform::OwnArguments& own_arguments, const std::optional<AssumedAnswer>& answer,
                         bool without_window = false);

}  // namespace quillwave
