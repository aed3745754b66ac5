// The four steps of a discovery launch, narrated by the lookup and painted
// by the progress window, with the lock that keeps a change and a paint
// pass apart, and the posts through which the window hears of a change.
// Neither side needs the other: the window knows only this.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

namespace quillwave {

// The steps in the order the window lists them.
enum ProgressStepIndex : std::size_t { kPersonaStep = 0, kEgressStep = 1, kOverridesStep = 2, kLaunchStep = 3 };
inline constexpr std::size_t kProgressStepCount = 4;

// Their labels, by index.
inline constexpr const wchar_t* kProgressStepLabels[kProgressStepCount] = {
    L"Loading persona overlay", L"Discovering proxy egress IP", L"Applying anti-detect overrides",
    L"Launching chrome.exe"};

enum class StepState { kPending, kDone, kFailed };

struct ProgressStep {
  std::wstring label;
  std::wstring detail;
  StepState state = StepState::kPending;
};

using ProgressStepList = std::array<ProgressStep, kProgressStepCount>;

struct ProgressSteps {
  std::mutex lock;
  ProgressStepList steps;
};

// Sets the four labels, empty details and pending states.
void ResetProgressSteps(ProgressSteps& steps);

// Changes one step under the lock.
void SetProgressStep(ProgressSteps& steps, std::size_t index, const std::wstring& detail, StepState state);

// A copy of all four, taken under the lock (what a paint pass reads).
ProgressStepList SnapshotProgressSteps(ProgressSteps& steps);

// What the lookup tells the window: a step changed, or the window may close.
enum class ProgressMessage { kStep, kClose };

// Where the worker's posts go: on Windows PostMessageW to the progress
// window, elsewhere the window's main loop; tests record them. Posting never
// waits, and a post to a window that is gone is dropped.
using ProgressPoster = std::function<void(ProgressMessage message, std::size_t step)>;

}  // namespace quillwave
