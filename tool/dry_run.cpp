#include "tool/dry_run.h"

#include <memory>

#include "launcher/run_sequence.h"
#include "report/error_codes.h"
#include "ui/null_progress_window.h"

namespace quillwave {

Rehearsal RehearseLaunch(const std::wstring& launcher_dir, const std::wstring& local_app_data,
                         const platform::OwnArguments& own_arguments, const std::optional<AssumedAnswer>& answer,
                         bool without_window) {
  Rehearsal rehearsal;
  auto log = std::make_shared<NullWindowLog>();
  LaunchEnvironment environment;
  environment.launcher_dir = launcher_dir;
  environment.local_app_data = local_app_data;
  environment.window = NullProgressWindow({}, log);
  environment.probe = [answer](const std::string&, const std::string&, const platform::Cancellation&) {
    ProbeOutcome outcome;
    if (!answer) {
      outcome.error_code = kInternal;
      outcome.message = "no answer assumed";
      return outcome;
    }
    outcome.curl_exit_code = 0;
    outcome.ip = answer->ip;
    outcome.country_code = answer->country;
    outcome.timezone = answer->timezone;
    outcome.latitude = answer->lat;
    outcome.longitude = answer->lng;
    return outcome;
  };
  environment.start = [&rehearsal](const platform::ProcessLaunch& launch) {
    rehearsal.launch = launch;
    return platform::SpawnResult{true, {}};
  };
  environment.dry_run = true;
  if (without_window) environment.without_window = "--no-window";
  rehearsal.exit_code = RunLauncher(own_arguments, environment);
  std::lock_guard<std::mutex> hold(log->lock);
  if (!log->errors.empty()) rehearsal.problem = log->errors.front();
  return rehearsal;
}

}  // namespace quillwave
