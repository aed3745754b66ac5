// The progress window with plain GDI: direct painting of the layout's text
// runs, no off-screen buffer, repainted only when asked.
#include <windows.h>

#include <array>
#include <memory>
#include <utility>

#include "platform/notice.h"
#include "platform/win32/unique_handle.h"
#include "ui/progress_layout.h"
#include "ui/progress_window.h"

namespace quillwave {
namespace {

using platform::UniqueGdiObject;

// The private messages of the worker, WM_USER + 1 and + 2.
constexpr UINT WM_PROGRESS_STEP = static_cast<UINT>(ProgressMessage::kStep);
constexpr UINT WM_PROGRESS_CLOSE = static_cast<UINT>(ProgressMessage::kClose);

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

// What one window needs: its fonts, created before the window and released
// after the loop, the summary it paints, the session whose steps it paints,
// what to do when the person closes it, and its handle. The window procedure
// finds it through the window's user data.
struct WindowState {
  HINSTANCE instance = nullptr;
  std::array<UniqueGdiObject, 4> fonts;
  SettingsSummary summary;
  std::shared_ptr<LaunchSession> session;
  std::function<void()> on_person_close;
  HWND window = nullptr;
};

COLORREF ToColorRef(Rgb colour) { return RGB(colour.r, colour.g, colour.b); }

UniqueGdiObject MakeFont(FontRole role) {
  const FontSpec font_spec = FontFor(role);
  const DWORD pitch_and_family = font_spec.fixed_pitch ? (FF_MODERN | FIXED_PITCH) : (FF_SWISS | DEFAULT_PITCH);
  return UniqueGdiObject(::CreateFontW(font_spec.height, 0, 0, 0, font_spec.weight, FALSE, FALSE, FALSE,
                                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                       pitch_and_family, font_spec.face));
}

void Paint(HWND window, WindowState& state) {
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
  for (const TextRun& run : LayoutProgressWindow(SnapshotProgressSteps(state.session->steps), state.summary)) {
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
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* const state = reinterpret_cast<WindowState*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (state == nullptr) return ::DefWindowProcW(window, message, wparam, lparam);
  switch (message) {
    case WM_PAINT:
      Paint(window, *state);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint fills the whole client area itself
    case WM_PROGRESS_STEP:
      ::InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_PROGRESS_CLOSE:
      ::DestroyWindow(window);
      return 0;
    case WM_KEYDOWN:
      // Esc closes it as the close box does.
      if (wparam != VK_ESCAPE) break;
      [[fallthrough]];
    case WM_CLOSE:
      if (state->on_person_close) state->on_person_close();
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      state->window = nullptr;
      break;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

WindowCreation CreateWindowFor(WindowState& state, const SettingsSummary& summary,
                               std::shared_ptr<LaunchSession> session, std::function<void()> on_person_close) {
  for (std::size_t role = 0; role < state.fonts.size(); ++role)
    state.fonts[role] = MakeFont(static_cast<FontRole>(role));

  HICON icon = ::LoadIconW(state.instance, MAKEINTRESOURCEW(1));
  if (icon == nullptr) icon = ::LoadIconW(nullptr, IDI_APPLICATION);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = ProgressWindowProc;
  window_class.hInstance = state.instance;
  window_class.hIcon = icon;
  window_class.hIconSm = icon;
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = kWindowClassName;
  ::RegisterClassExW(&window_class);  // a failure shows up as no window below

  state.summary = summary;
  state.session = std::move(session);
  state.on_person_close = std::move(on_person_close);
  const WindowPlacement place = ProgressWindowPlacement(summary.overrides.size(), summary.switches.size(),
                                                        ::GetSystemMetrics(SM_CXSCREEN),
                                                        ::GetSystemMetrics(SM_CYSCREEN));
  state.window = ::CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, kWindowClassName, kWindowTitle,
                                   WS_CAPTION | WS_SYSMENU, place.left, place.top, place.width, place.height, nullptr,
                                   nullptr, state.instance, &state);
  if (state.window == nullptr) return {false, "window creation failed"};
  return {true, {}};
}

void RunMessageLoop() {
  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

ProgressWindow SystemProgressWindow(void* instance) {
  auto state = std::make_shared<WindowState>();
  state->instance = instance != nullptr ? static_cast<HINSTANCE>(instance) : ::GetModuleHandleW(nullptr);
  ProgressWindow window;
  window.summary_rows = [] { return SummaryRowsShown(::GetSystemMetrics(SM_CYSCREEN)); };
  window.create = [state](const SettingsSummary& summary, std::shared_ptr<LaunchSession> session,
                          std::function<void()> on_person_close) {
    return CreateWindowFor(*state, summary, std::move(session), std::move(on_person_close));
  };
  window.show = [state] {
    if (state->window == nullptr) return;
    ::ShowWindow(state->window, SW_SHOW);
    ::UpdateWindow(state->window);
  };
  window.poster = [state]() -> ProgressPoster {
    const HWND target = state->window;
    return [target](ProgressMessage message, std::size_t step) {
      // Fails once the window is gone; that post is meant to be lost.
      if (target != nullptr) ::PostMessageW(target, static_cast<UINT>(message), static_cast<WPARAM>(step), 0);
    };
  };
  window.run_loop = RunMessageLoop;
  window.release = [state] {
    for (UniqueGdiObject& font : state->fonts) font.Reset();
  };
  window.show_error = [](const std::wstring& caption, const std::wstring& text) {
    return platform::ShowErrorNotice(caption, text);
  };
  return window;
}

}  // namespace quillwave
