// The progress window with plain GDI: direct painting of the layout's text
// runs, no off-screen buffer, repainted only when asked.
#include <windows.h>

#include <array>
#include <atomic>
#include <utility>

#include "discovery/discovery_result.h"
#include "platform/notice.h"
#include "ui/progress_dialog.h"
#include "ui/progress_layout.h"

namespace quillwave {
namespace {

// Owner of a GDI object (font, brush, bitmap): deleted exactly once.
class UniqueGdiObject {
 public:
  UniqueGdiObject() = default;
  explicit UniqueGdiObject(HGDIOBJ object) : object_(object) {}
  UniqueGdiObject(UniqueGdiObject&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  UniqueGdiObject& operator=(UniqueGdiObject&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.object_, nullptr));
    return *this;
  }
  UniqueGdiObject(const UniqueGdiObject&) = delete;
  UniqueGdiObject& operator=(const UniqueGdiObject&) = delete;
  ~UniqueGdiObject() { Reset(); }

  HGDIOBJ get() const { return object_; }
  void Reset(HGDIOBJ object = nullptr) {
    if (object_ != nullptr) ::DeleteObject(object_);
    object_ = object;
  }

 private:
  HGDIOBJ object_ = nullptr;
};

// BeginPaint/EndPaint as one scope.
class PaintScope {
 public:
  explicit PaintScope(HWND window) : window_(window), dc_(::BeginPaint(window, &paint_)) {}
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  ~PaintScope() { ::EndPaint(window_, &paint_); }
  HDC dc() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

// Puts the device context's original font back when the paint ends, so no
// font of ours stays selected into a DC we do not own.
class KeepSelection {
 public:
  explicit KeepSelection(HDC dc) : dc_(dc), original_(::GetCurrentObject(dc, OBJ_FONT)) {}
  KeepSelection(const KeepSelection&) = delete;
  KeepSelection& operator=(const KeepSelection&) = delete;
  ~KeepSelection() { ::SelectObject(dc_, original_); }

 private:
  HDC dc_;
  HGDIOBJ original_;
};

// What the window needs beyond the shared step list: its fonts, created
// before the window and released after the loop, the summary it paints
// (copied, since the window outlives the caller's frame) and its handle.
// Never destroyed, like the step list and the discovery result.
struct DialogState {
  std::array<UniqueGdiObject, 4> fonts;
  SettingsSummary summary;
  std::atomic<HWND> window{nullptr};
};

DialogState& State() {
  static DialogState* const state = new DialogState();  // intentionally never freed
  return *state;
}

COLORREF ToColorRef(Rgb colour) { return RGB(colour.r, colour.g, colour.b); }

// A ProgressDialog* is the window handle itself.
HWND ToWindow(ProgressDialog* dialog) { return reinterpret_cast<HWND>(dialog); }

UniqueGdiObject MakeFont(FontRole role) {
  const FontSpec font_spec = FontFor(role);
  const DWORD pitch_and_family = font_spec.fixed_pitch ? (FF_MODERN | FIXED_PITCH) : (FF_SWISS | DEFAULT_PITCH);
  return UniqueGdiObject(::CreateFontW(font_spec.height, 0, 0, 0, font_spec.weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, pitch_and_family,
                                       font_spec.face));
}

void Paint(HWND window) {
  PaintScope paint(window);
  const HDC dc = paint.dc();
  if (dc == nullptr) return;
  RECT client{};
  ::GetClientRect(window, &client);
  {
    UniqueGdiObject background(::CreateSolidBrush(ToColorRef(kBackgroundColour)));
    ::FillRect(dc, &client, static_cast<HBRUSH>(background.get()));
  }
  KeepSelection keep(dc);
  ::SetBkMode(dc, TRANSPARENT);
  DialogState& state = State();
  for (const TextRun& run : LayoutProgressWindow(SnapshotProgressSteps(SharedProgressSteps()), state.summary)) {
    const HGDIOBJ font = state.fonts[static_cast<std::size_t>(run.font)].get();
    if (font != nullptr) ::SelectObject(dc, font);
    ::SetTextColor(dc, ToColorRef(run.colour));
    RECT box{run.left, run.top, run.right, run.bottom};
    // Summary rows and details carry persona and proxy text: an "&" in them
    // is text, not a mnemonic marker.
    UINT format = DT_SINGLELINE | DT_NOPREFIX | (run.right_aligned ? DT_RIGHT : DT_LEFT);
    if (run.end_ellipsis) format |= DT_END_ELLIPSIS;
    ::DrawTextW(dc, run.text.c_str(), static_cast<int>(run.text.size()), &box, format);
  }
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint fills the whole client area itself
    case WM_PROGRESS_STEP:
      ::InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_PROGRESS_CLOSE:
      ::DestroyWindow(window);
      return 0;
    case WM_CLOSE:
      SharedDiscoveryResult().aborted.exchange(true);
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY: {
      HWND expected = window;
      State().window.compare_exchange_strong(expected, nullptr);
      break;
    }
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

HINSTANCE InstanceOrSelf(void* instance) {
  return instance != nullptr ? static_cast<HINSTANCE>(instance) : ::GetModuleHandleW(nullptr);
}

}  // namespace

void PrepareProgressDialog(void* instance) {
  DialogState& state = State();
  for (std::size_t role = 0; role < state.fonts.size(); ++role) state.fonts[role] = MakeFont(static_cast<FontRole>(role));

  const HINSTANCE module = InstanceOrSelf(instance);
  HICON icon = ::LoadIconW(module, MAKEINTRESOURCEW(1));
  if (icon == nullptr) icon = ::LoadIconW(nullptr, IDI_APPLICATION);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = ProgressWindowProc;
  window_class.hInstance = module;
  window_class.hIcon = icon;
  window_class.hIconSm = icon;
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = kWindowClassName;
  ::RegisterClassExW(&window_class);  // a failure shows up as no window below
}

ProgressDialog* CreateProgressDialog(void* instance, const SettingsSummary& summary) {
  DialogState& state = State();
  state.summary = summary;
  const WindowPlacement place = ProgressWindowPlacement(summary.overrides.size(), summary.switches.size(),
                                                        ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
  const HWND window = ::CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, kWindowClassName, kWindowTitle,
                                        WS_CAPTION | WS_SYSMENU, place.left, place.top, place.width, place.height,
                                        nullptr, nullptr, InstanceOrSelf(instance), nullptr);
  state.window.store(window);
  return reinterpret_cast<ProgressDialog*>(window);
}

void ShowProgressDialog(ProgressDialog* dialog) {
  const HWND window = ToWindow(dialog);
  if (window == nullptr) return;
  ::ShowWindow(window, SW_SHOW);
  ::UpdateWindow(window);
}

ProgressPoster ProgressPosterFor(ProgressDialog* dialog) {
  const HWND window = ToWindow(dialog);
  return [window](ProgressMessage message, std::size_t step) {
    // Fails once the window is gone; that post is meant to be lost.
    if (window != nullptr) ::PostMessageW(window, static_cast<UINT>(message), static_cast<WPARAM>(step), 0);
  };
}

void RunProgressMessageLoop() {
  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

void ReleaseProgressDialog() {
  for (UniqueGdiObject& font : State().fonts) font.Reset();
}

bool ShowErrorDialog(const std::wstring& caption, const std::wstring& text) {
  return platform::ShowErrorNotice(caption, text);
}

}  // namespace quillwave
