// Each system's half of RunCapturingOutput (platform/child_output.cpp): the
// run itself, once the checks before any start have passed.
#pragma once

#include "platform/child_output.h"

namespace quillwave::platform {

CapturedRun RunCapturingOutputOnSystem(const ProcessLaunch& launch, std::string_view input, std::size_t keep_at_most,
                                       std::chrono::milliseconds limit, const Cancellation* cancel);

}  // namespace quillwave::platform
