#include "platform/child_output.h"

#include "platform/cancellation.h"
#include "platform/child_output_system.h"

namespace quillwave::platform {

CapturedRun RunCapturingOutput(const ProcessLaunch& launch, std::string_view input, std::size_t keep_at_most,
                               std::chrono::milliseconds limit, const Cancellation* cancel) {
  // A cancel raised before the start starts nothing.
  if (cancel != nullptr && cancel->raised()) {
    CapturedRun run;
    run.status = CaptureStatus::kCancelled;
    return run;
  }
  return RunCapturingOutputOnSystem(launch, input, keep_at_most, limit, cancel);
}

}  // namespace quillwave::platform
