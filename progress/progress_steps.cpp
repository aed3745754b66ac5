#include "progress/progress_steps.h"

namespace quillwave {

void ResetProgressSteps(ProgressSteps& steps) {
  std::lock_guard<std::mutex> hold(steps.lock);
  for (std::size_t i = 0; i < steps.steps.size(); ++i) steps.steps[i] = ProgressStep{kProgressStepLabels[i], L"", {}};
}

void SetProgressStep(ProgressSteps& steps, std::size_t index, const std::wstring& detail, StepState state) {
  std::lock_guard<std::mutex> hold(steps.lock);
  ProgressStep& step = steps.steps.at(index);
  step.detail = detail;
  step.state = state;
}

ProgressStepList SnapshotProgressSteps(ProgressSteps& steps) {
  std::lock_guard<std::mutex> hold(steps.lock);
  return steps.steps;
}

}  // namespace quillwave
