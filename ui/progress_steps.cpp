#include "ui/progress_steps.h"

namespace quillwave {

void ResetProgressSteps(ProgressSteps& steps) {
  static constexpr const wchar_t* kLabels[] = {L"Loading persona overlay", L"Discovering proxy egress IP",
                                               L"Applying anti-detect overrides", L"Launching chrome.exe"};
  std::lock_guard<std::mutex> hold(steps.lock);
  for (std::size_t i = 0; i < steps.steps.size(); ++i) steps.steps[i] = ProgressStep{kLabels[i], L"", false, false};
}

void SetProgressStep(ProgressSteps& steps, std::size_t index, const std::wstring& detail, bool done, bool failed) {
  std::lock_guard<std::mutex> hold(steps.lock);
  ProgressStep& step = steps.steps.at(index);
  step.detail = detail;
  step.done = done;
  step.failed = failed;
}

std::array<ProgressStep, 4> SnapshotProgressSteps(ProgressSteps& steps) {
  std::lock_guard<std::mutex> hold(steps.lock);
  return steps.steps;
}

ProgressSteps& SharedProgressSteps() {
  static ProgressSteps* const steps = new ProgressSteps();  // intentionally never freed
  return *steps;
}

}  // namespace quillwave
