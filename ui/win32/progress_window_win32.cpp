// The progress window with plain GDI: direct painting of the layout's text
// runs and mark shapes at the window's own dpi, no off-screen buffer,
// repainted only when asked.
#include <windows.h>

#include <array>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/notice.h"
#include "platform/win32/gdi_scope.h"
#include "platform/win32/unique_handle.h"
#include "ui/progress_layout.h"
#include "ui/progress_window.h"
#include "ui/win32/progress_accessible_win32.h"

namespace quillwave {
namespace {

using platform::GdiSelection;
using platform::UniqueGdiObject;

// The private messages of the worker, WM_USER + 1 and + 2.
constexpr UINT WM_PROGRESS_STEP = WM_USER + 1;
constexpr UINT WM_PROGRESS_CLOSE = WM_USER + 2;

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

// What one window needs: its fonts, created before the window and released
// after the loop, the summary it paints, the steps it paints,
// what to do when the person closes it, and its handle. The window procedure
// finds it through the window's user data.
struct WindowState {
  HINSTANCE instance = nullptr;
  int dpi = kBaseDpi;  // the fonts' and the layout's
  std::array<UniqueGdiObject, 4> fonts;
  SettingsSummary summary;
  std::shared_ptr<ProgressSteps> steps;
  std::function<void()> on_person_close;
  HWND window = nullptr;
  ProgressAccessibleHost accessible;
};

COLORREF ToColorRef(Rgb colour) { return RGB(colour.r, colour.g, colour.b); }

// The dpi the system gives a new window on the primary screen, and the one
// a window has. Both calls exist from Windows 10 1607 on; before that the
// screen's logical dpi stands for both.
int ScreenDcDpi() {
  const platform::WindowDc screen(nullptr);
  if (screen.get() == nullptr) return kBaseDpi;
  const int dpi = ::GetDeviceCaps(screen.get(), LOGPIXELSY);
  return dpi > 0 ? dpi : kBaseDpi;
}

template <typename Function>
Function User32Function(const char* name) {
  const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  return user32 != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(user32, name)))
                           : nullptr;
}

int SystemDpi() {
  const auto get_dpi_for_system = User32Function<UINT(WINAPI*)()>("GetDpiForSystem");
  const UINT dpi = get_dpi_for_system != nullptr ? get_dpi_for_system() : 0;
  return dpi > 0 ? static_cast<int>(dpi) : ScreenDcDpi();
}

int WindowDpi(HWND window) {
  const auto get_dpi_for_window = User32Function<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  const UINT dpi = get_dpi_for_window != nullptr ? get_dpi_for_window(window) : 0;
  return dpi > 0 ? static_cast<int>(dpi) : SystemDpi();
}

UniqueGdiObject MakeFont(FontRole role, int dpi) {
  const FontSpec font_spec = FontFor(role);
  const DWORD pitch_and_family = font_spec.fixed_pitch ? (FF_MODERN | FIXED_PITCH) : (FF_SWISS | DEFAULT_PITCH);
  return UniqueGdiObject(::CreateFontW(ScaleForDpi(font_spec.height, dpi), 0, 0, 0, font_spec.weight, FALSE, FALSE,
                                       FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                       CLEARTYPE_QUALITY, pitch_and_family, font_spec.face));
}

void MakeFonts(WindowState& state, int dpi) {
  state.dpi = dpi;
  for (std::size_t role = 0; role < state.fonts.size(); ++role)
    state.fonts[role] = MakeFont(static_cast<FontRole>(role), dpi);
}

void SelectFont(HDC dc, const WindowState& state, FontRole role) {
  const HGDIOBJ font = state.fonts[static_cast<std::size_t>(role)].get();
  if (font != nullptr) ::SelectObject(dc, font);
}

// Summary rows and details carry persona and proxy text: an "&" in them is
// text, not a mnemonic marker.
constexpr UINT kTextFormat = DT_SINGLELINE | DT_NOPREFIX;

int MeasureText(HDC dc, const WindowState& state, FontRole role, std::wstring_view text) {
  SelectFont(dc, state, role);
  RECT box{0, 0, 0, 0};
  ::DrawTextW(dc, text.data(), static_cast<int>(text.size()), &box, kTextFormat | DT_CALCRECT);
  return box.right - box.left;
}

void DrawMark(HDC dc, const MarkShape& mark) {
  const COLORREF colour = ToColorRef(mark.colour);
  for (const MarkStroke& stroke : mark.strokes) {
    std::vector<POINT> points;
    for (const Point& point : stroke.points) points.push_back({point.x, point.y});
    if (stroke.line_width > 0) {
      const LOGBRUSH ink{BS_SOLID, colour, 0};
      const UniqueGdiObject pen(::ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND,
                                               static_cast<DWORD>(stroke.line_width), &ink, 0, nullptr));
      if (!pen.valid()) continue;
      const GdiSelection with_pen(dc, pen.get());
      ::Polyline(dc, points.data(), static_cast<int>(points.size()));
    } else {
      const UniqueGdiObject pen(::CreatePen(PS_SOLID, 1, colour));
      const UniqueGdiObject brush(::CreateSolidBrush(colour));
      if (!pen.valid() || !brush.valid()) continue;
      const GdiSelection with_pen(dc, pen.get());
      const GdiSelection with_brush(dc, brush.get());
      ::Polygon(dc, points.data(), static_cast<int>(points.size()));
    }
  }
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
  // Our fonts are selected in turn below; the DC's own comes back at the end.
  const GdiSelection keep = GdiSelection::KeepCurrent(dc, OBJ_FONT);
  ::SetBkMode(dc, TRANSPARENT);
  const ProgressPicture picture = LayoutProgressWindow(
      SnapshotProgressSteps(*state.steps), state.summary,
      [&](FontRole role, std::wstring_view text) { return MeasureText(dc, state, role, text); }, state.dpi);
  for (const TextRun& run : picture.texts) {
    SelectFont(dc, state, run.font);
    ::SetTextColor(dc, ToColorRef(run.colour));
    RECT box{run.left, run.top, run.right, run.bottom};
    UINT format = kTextFormat | (run.right_aligned ? DT_RIGHT : DT_LEFT);
    if (run.end_ellipsis) format |= DT_END_ELLIPSIS;
    ::DrawTextW(dc, run.text.c_str(), static_cast<int>(run.text.size()), &box, format);
  }
  for (const MarkShape& mark : picture.marks) DrawMark(dc, mark);
}

// A new dpi (the window moved to another screen, or the screen's scale
// changed): fonts and layout follow, and the window takes the size the
// system proposes.
void ApplyDpi(HWND window, WindowState& state, int dpi, const RECT& proposed) {
  MakeFonts(state, dpi);
  ::SetWindowPos(window, nullptr, proposed.left, proposed.top, proposed.right - proposed.left,
                 proposed.bottom - proposed.top, SWP_NOZORDER | SWP_NOACTIVATE);
  ::InvalidateRect(window, nullptr, FALSE);
}

// What a screen reader reads: the steps as they are now, where the window
// paints them. The object that reads this is cut off when the window goes.
ProgressAccessibleSource AccessibleSource(WindowState& state) {
  return {[steps = state.steps] { return AccessibleProgress(SnapshotProgressSteps(*steps)); },
          [&state](std::size_t item) {
            const Rect box = AccessibleItemBox(item, state.dpi);
            return RECT{box.left, box.top, box.right, box.bottom};
          }};
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
      state->accessible.StepChanged(window, static_cast<std::size_t>(wparam));
      return 0;
    case WM_GETOBJECT:
      if (const LRESULT answer = state->accessible.Answer(window, wparam, lparam, AccessibleSource(*state));
          answer > 0) {
        return answer;
      }
      break;
    case WM_DPICHANGED:
      ApplyDpi(window, *state, LOWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
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
      state->accessible.Disconnect();
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      state->window = nullptr;
      break;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

WindowPlacement PlacementAt(const SettingsSummary& summary, int dpi) {
  return ProgressWindowPlacement(summary.overrides.size(), summary.switches.size(), ::GetSystemMetrics(SM_CXSCREEN),
                                 ::GetSystemMetrics(SM_CYSCREEN), dpi);
}

WindowCreation CreateWindowFor(WindowState& state, const SettingsSummary& summary, std::shared_ptr<ProgressSteps> steps,
                               std::function<void()> on_person_close) {
  MakeFonts(state, SystemDpi());

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
  state.steps = std::move(steps);
  state.on_person_close = std::move(on_person_close);
  const WindowPlacement place = PlacementAt(summary, state.dpi);
  state.window = ::CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, kWindowClassName, kWindowTitle,
                                   WS_CAPTION | WS_SYSMENU, place.left, place.top, place.width, place.height, nullptr,
                                   nullptr, state.instance, &state);
  if (state.window == nullptr) return {false, "window creation failed"};
  // The primary screen's dpi may differ from the system's (changed since
  // sign-in): the window is laid out at the one it got.
  const int dpi = WindowDpi(state.window);
  if (dpi != state.dpi) {
    const WindowPlacement at_dpi = PlacementAt(summary, dpi);
    ApplyDpi(state.window, state, dpi,
             RECT{at_dpi.left, at_dpi.top, at_dpi.left + at_dpi.width, at_dpi.top + at_dpi.height});
  }
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
  // The screen's height in 96-dpi pixels, as the layout counts.
  window.summary_rows = [] { return SummaryRowsShown(::GetSystemMetrics(SM_CYSCREEN) * kBaseDpi / SystemDpi()); };
  window.create = [state](const SettingsSummary& summary, std::shared_ptr<ProgressSteps> steps,
                          std::function<void()> on_person_close) {
    return CreateWindowFor(*state, summary, std::move(steps), std::move(on_person_close));
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
      const UINT number = message == ProgressMessage::kClose ? WM_PROGRESS_CLOSE : WM_PROGRESS_STEP;
      if (target != nullptr) ::PostMessageW(target, number, static_cast<WPARAM>(step), 0);
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
