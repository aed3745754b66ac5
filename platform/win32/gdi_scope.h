// Scopes on a device context: a window's (or the screen's) DC released at
// the end, and a selection undone at the end, so that no object of ours
// stays selected into a DC when the object is deleted or the DC handed back.
#pragma once

#include <windows.h>

namespace quillwave::platform {

// GetDC/ReleaseDC as one scope; a null window gives the screen's DC.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(::GetDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_ != nullptr) ::ReleaseDC(window_, dc_);
  }
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// Selects an object into a DC for one scope; the one it replaced comes back
// at the end.
class GdiSelection {
 public:
  GdiSelection(HDC dc, HGDIOBJ object) : dc_(dc), original_(::SelectObject(dc, object)) {}
  // Selects nothing now: the object of `kind` (OBJ_FONT, ...) selected now
  // comes back at the end, whatever is selected in between.
  static GdiSelection KeepCurrent(HDC dc, UINT kind) { return GdiSelection(dc, ::GetCurrentObject(dc, kind), 0); }
  GdiSelection(const GdiSelection&) = delete;
  GdiSelection& operator=(const GdiSelection&) = delete;
  ~GdiSelection() {
    if (original_ != nullptr) ::SelectObject(dc_, original_);
  }

 private:
  GdiSelection(HDC dc, HGDIOBJ original, int /*kept*/) : dc_(dc), original_(original) {}

  HDC dc_;
  HGDIOBJ original_;
};

}  // namespace quillwave::platform
