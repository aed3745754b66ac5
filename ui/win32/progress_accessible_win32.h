// The progress window's answer to WM_GETOBJECT: an MSAA object for its
// client area whose children are the headline and the four steps, so that
// a screen reader can read what is otherwise only painted.
#pragma once

#include <windows.h>
// After <windows.h>.
#include <unknwn.h>

#include <functional>
#include <vector>

#include "ui/progress_layout.h"

namespace quillwave {

class ProgressAccessible;

// What the object reads, on the window's thread, each time it is asked.
struct ProgressAccessibleSource {
  std::function<std::vector<AccessibleItem>()> items;
  // An item's rectangle in client coordinates.
  std::function<RECT(std::size_t item)> box;
};

// The window's hold on its object: made on the first request (only then are
// the accessibility and COM libraries loaded), cut off from the window when
// it goes; clients that still hold the object then get "disconnected".
class ProgressAccessibleHost {
 public:
  ProgressAccessibleHost() = default;
  ProgressAccessibleHost(const ProgressAccessibleHost&) = delete;
  ProgressAccessibleHost& operator=(const ProgressAccessibleHost&) = delete;
  ~ProgressAccessibleHost();

  // WM_GETOBJECT: the result for the client area, or 0 to let
  // DefWindowProcW answer (any other object, or no library).
  LRESULT Answer(HWND window, WPARAM wparam, LPARAM lparam, const ProgressAccessibleSource& source);

  // After a step changed: tells listening clients its description changed.
  void StepChanged(HWND window, std::size_t step) const;

  // WM_NCDESTROY.
  void Disconnect();

 private:
  ProgressAccessible* object_ = nullptr;  // one reference held
  bool com_initialised_ = false;          // by this host, on the window's thread
  void(WINAPI* co_uninitialize_)() = nullptr;
  LRESULT(WINAPI* lresult_from_object_)(REFIID, WPARAM, IUnknown*) = nullptr;
};

}  // namespace quillwave
