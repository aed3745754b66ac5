// The four steps the progress window shows, shared between the discovery
// worker (which changes them) and the window (which paints them).
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

namespace quillwave {

struct ProgressStep {
  std::wstring label;
  std::wstring detail;
  bool done = false;
  bool failed = false;
};

// The private window messages the worker posts; the values are the window
// system's WM_USER + 1 and + 2.
enum class ProgressMessage : unsigned { kStep = 0x0401, kClose = 0x0402 };
inline constexpr unsigned WM_PROGRESS_STEP = static_cast<unsigned>(ProgressMessage::kStep);
inline constexpr unsigned WM_PROGRESS_CLOSE = static_cast<unsigned>(ProgressMessage::kClose);

// The step list with the lock that keeps a step change and a paint pass apart.
struct ProgressSteps {
  std::mutex lock;
  std::array<ProgressStep, 4> steps;
};

// Sets the four labels, empty details and cleared flags.
void ResetProgressSteps(ProgressSteps& steps);

// Changes one step under the lock.
void SetProgressStep(ProgressSteps& steps, std::size_t index, const std::wstring& detail, bool done, bool failed);

// A copy of all four, taken under the lock (what a paint pass reads).
std::array<ProgressStep, 4> SnapshotProgressSteps(ProgressSteps& steps);

// The process-wide list; never destroyed, so a worker that outlives the
// main thread's return never touches a dead object.
ProgressSteps& SharedProgressSteps();

// Where the worker's posts go: on Windows PostMessageW to the progress
// window, elsewhere the window's main loop; tests record them. Posting never
// waits, and a post to a window that is gone is dropped.
using ProgressPoster = std::function<void(ProgressMessage message, std::size_t step)>;

}  // namespace quillwave
