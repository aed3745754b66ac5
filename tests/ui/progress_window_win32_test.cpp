// The GDI progress window as a person meets it: placed and styled on the
// screen, painted as laid out at the screen's dpi, read by a screen reader,
// closed by the user or by the worker. Runs under Wine against a private X
// server (with-xvfb.sh); the case at 192 dpi runs in a Wine prefix set to
// that dpi and skips elsewhere.
#include <windows.h>
// After <windows.h>.
#include <oleacc.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <vector>

#include "platform/win32/gdi_scope.h"
#include "tests/support/png_writer.h"
#include "ui/progress_layout.h"
#include "ui/progress_window.h"

namespace quillwave {
namespace {

// What a launch shares with its window: the steps it paints, and the flag
// the person's close sets.
struct TestSession {
  ProgressSteps steps;
  std::atomic<bool> aborted{false};
};
std::shared_ptr<ProgressSteps> StepsOf(const std::shared_ptr<TestSession>& session) {
  return std::shared_ptr<ProgressSteps>(session, &session->steps);
}

SettingsSummary SummaryWith(std::size_t overrides, std::size_t switches) {
  SettingsSummary summary;
  for (std::size_t i = 0; i < overrides; ++i)
    summary.overrides.push_back({L"override-" + std::to_wstring(i), L"value-" + std::to_wstring(i)});
  for (std::size_t i = 0; i < switches; ++i)
    summary.switches.push_back({L"switch-" + std::to_wstring(i), L"value-" + std::to_wstring(i)});
  return summary;
}

// Reads and dispatches everything the thread has queued, paints included.
void PumpPending() {
  MSG message{};
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

// Ends a message loop that would otherwise hang the test: after 10 s it
// posts the quit message to the loop's thread and remembers that it did.
class LoopWatchdog {
 public:
  LoopWatchdog() : thread_id_(::GetCurrentThreadId()) {
    thread_ = std::thread([this] {
      std::unique_lock<std::mutex> hold(lock_);
      if (!done_changed_.wait_for(hold, std::chrono::seconds(10), [this] { return done_; })) {
        fired_ = true;
        ::PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
      }
    });
  }
  ~LoopWatchdog() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      done_ = true;
    }
    done_changed_.notify_one();
    thread_.join();
  }
  bool fired() {
    std::lock_guard<std::mutex> hold(lock_);
    return fired_;
  }

 private:
  DWORD thread_id_;
  std::mutex lock_;
  std::condition_variable done_changed_;
  bool done_ = false;
  bool fired_ = false;
  std::thread thread_;
};

// The client area's pixels, read back from the screen.
struct Capture {
  int width = 0, height = 0;
  std::vector<Rgb> pixels;
  Rgb At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// Owners for the GDI objects and device contexts the test makes.
struct GdiObjectDeleter {
  void operator()(void* object) const { ::DeleteObject(static_cast<HGDIOBJ>(object)); }
};
struct MemoryDcDeleter {
  void operator()(HDC dc) const { ::DeleteDC(dc); }
};
using UniqueGdiObject = std::unique_ptr<void, GdiObjectDeleter>;
using UniqueMemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDeleter>;

Capture CaptureClient(HWND window) {
  RECT client{};
  ::GetClientRect(window, &client);
  Capture capture;
  capture.width = client.right;
  capture.height = client.bottom;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = capture.width;
  info.bmiHeader.biHeight = -capture.height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;

  const platform::WindowDc window_dc(window);
  const UniqueMemoryDc memory_dc(::CreateCompatibleDC(window_dc.get()));
  void* bits = nullptr;
  const UniqueGdiObject bitmap(::CreateDIBSection(window_dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (memory_dc == nullptr || bitmap == nullptr) return capture;
  const platform::GdiSelection selected(memory_dc.get(), bitmap.get());
  ::BitBlt(memory_dc.get(), 0, 0, capture.width, capture.height, window_dc.get(), 0, 0, SRCCOPY);
  ::GdiFlush();
  const auto* bgra = static_cast<const unsigned char*>(bits);
  for (int i = 0; i < capture.width * capture.height; ++i)
    capture.pixels.push_back({bgra[4 * i + 2], bgra[4 * i + 1], bgra[4 * i]});
  return capture;
}

bool AnyPixelIn(const Capture& capture, RECT box, Rgb colour) {
  for (int y = std::max(0, static_cast<int>(box.top)); y < box.bottom && y < capture.height; ++y)
    for (int x = std::max(0, static_cast<int>(box.left)); x < box.right && x < capture.width; ++x)
      if (capture.At(x, y) == colour) return true;
  return false;
}

// The rightmost column in the band, left of `right`, that is not
// background, or -1.
int RightmostInk(const Capture& capture, int top, int bottom, int right = -1) {
  for (int x = (right < 0 ? capture.width : right) - 1; x >= 0; --x)
    for (int y = top; y < bottom && y < capture.height; ++y)
      if (!(capture.At(x, y) == kBackgroundColour)) return x;
  return -1;
}

bool SameBand(const Capture& one, const Capture& other, int right, int top, int bottom) {
  for (int y = top; y < bottom; ++y)
    for (int x = 0; x < right; ++x)
      if (!(one.At(x, y) == other.At(x, y))) return false;
  return true;
}

// Each mark as laid out at `dpi`: its colour next to every point of its
// strokes, none in its box's corners. Wine has no font with the check mark
// or the hourglass, so this also shows that no font is needed.
void ExpectMarks(const Capture& capture, const ProgressStepList& steps, int dpi) {
  const auto marks = LayoutProgressWindow(
                         steps, {}, [](FontRole, std::wstring_view) { return 0; }, dpi)
                         .marks;
  const int reach = ScaleForDpi(2, dpi);
  for (std::size_t i = 0; i < marks.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "mark of step " << i);
    const MarkShape& mark = marks[i];
    for (const MarkStroke& stroke : mark.strokes) {
      for (const Point& point : stroke.points) {
        EXPECT_TRUE(AnyPixelIn(capture, {point.x - reach, point.y - reach, point.x + reach + 1, point.y + reach + 1},
                               mark.colour))
            << point.x << "," << point.y;
      }
    }
    EXPECT_EQ(capture.At(mark.left, mark.top), kBackgroundColour);
    EXPECT_EQ(capture.At(mark.right - 1, mark.bottom - 1), kBackgroundColour);
  }
}

std::vector<std::uint8_t> RgbBytes(const Capture& capture) {
  std::vector<std::uint8_t> rgb;
  for (const Rgb& pixel : capture.pixels) rgb.insert(rgb.end(), {pixel.r, pixel.g, pixel.b});
  return rgb;
}

// The width DrawTextW gives `text` in the window's row font, with or
// without mnemonic processing.
int RowTextWidth(const std::wstring& text, UINT extra_format) {
  const FontSpec font_spec = FontFor(FontRole::kMono);
  const UniqueGdiObject font(::CreateFontW(font_spec.height, 0, 0, 0, font_spec.weight, FALSE, FALSE, FALSE,
                                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                           FF_MODERN | FIXED_PITCH, font_spec.face));
  const UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
  const platform::GdiSelection selected(dc.get(), font.get());
  RECT box{0, 0, 10000, 100};
  ::DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &box, DT_SINGLELINE | DT_CALCRECT | extra_format);
  return box.right;
}

std::filesystem::path ScreenshotPath(const char* name) {
  std::string folder = QUILLWAVE_SCREENSHOT_DIR;
  if (!folder.empty() && folder[0] == '/') folder = "Z:" + folder;  // Wine maps the Unix root to Z:
  return std::filesystem::path(folder) / name;
}

void SaveScreenshot(const Capture& capture, const char* name) {
  std::error_code ignored;
  std::filesystem::create_directories(ScreenshotPath(name).parent_path(), ignored);
  EXPECT_TRUE(test::WritePngRgb8(ScreenshotPath(name), capture.width, capture.height, RgbBytes(capture)));
}

// The moment the README shows: the primary endpoint failed and the
// secondary one is being asked, with a detail longer than its room.
constexpr wchar_t kFailoverDetail[] = L"geo.primary.example failed \u2014 trying geoip.secondary.example\u2026";

int SystemDpi() {
  const platform::WindowDc screen(nullptr);
  return ::GetDeviceCaps(screen.get(), LOGPIXELSY);
}

class ProgressWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // What the launcher's manifest declares; the test program has none.
    using SetAwareness = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    const auto set_awareness = reinterpret_cast<SetAwareness>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    if (set_awareness != nullptr) set_awareness(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    ResetProgressSteps(session_->steps);
  }
  void TearDown() override {
    if (window_ != nullptr && ::IsWindow(window_)) ::DestroyWindow(window_);
    PumpPending();
    if (dialog_.release) dialog_.release();
  }
  // A fresh window; its handle is found by its class, as other programs find it.
  HWND Open(const SettingsSummary& summary) {
    dialog_ = SystemProgressWindow(::GetModuleHandleW(nullptr));
    if (!dialog_.create(summary, StepsOf(session_), [session = session_] { session->aborted.exchange(true); })
             .created) {
      return window_ = nullptr;
    }
    window_ = ::FindWindowW(L"QuillwaveLauncher", nullptr);
    dialog_.show();
    return window_;
  }

  std::shared_ptr<TestSession> session_ = std::make_shared<TestSession>();
  ProgressWindow dialog_;
  HWND window_ = nullptr;
};

TEST_F(ProgressWindowTest, IsACentredTopmostFixedWindowCappedAtFourFifthsOfTheScreen) {
  if (SystemDpi() != 96) GTEST_SKIP() << "laid out for 96 dpi";
  ASSERT_EQ(::GetSystemMetrics(SM_CXSCREEN), 1920);
  ASSERT_EQ(::GetSystemMetrics(SM_CYSCREEN), 1080);
  struct Case {
    std::size_t overrides, switches;
    int height;
  };
  for (const Case& c : {Case{0, 0, 240}, Case{60, 0, 864}}) {
    SCOPED_TRACE(c.overrides);
    const HWND window = Open(SummaryWith(c.overrides, c.switches));
    ASSERT_NE(window, nullptr);
    RECT outer{};
    ::GetWindowRect(window, &outer);
    EXPECT_EQ(outer.left, (1920 - 460) / 2);
    EXPECT_EQ(outer.top, (1080 - c.height) / 2);
    EXPECT_EQ(outer.right - outer.left, 460);
    EXPECT_EQ(outer.bottom - outer.top, c.height);

    wchar_t text[64] = {};
    ::GetClassNameW(window, text, 64);
    EXPECT_STREQ(text, L"QuillwaveLauncher");
    ::GetWindowTextW(window, text, 64);
    EXPECT_STREQ(text, L"Preparing Quillwave\u2026");
    const LONG_PTR style = ::GetWindowLongPtrW(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
              WS_CAPTION | WS_SYSMENU);
    const LONG_PTR extended = ::GetWindowLongPtrW(window, GWL_EXSTYLE);
    EXPECT_EQ(extended & (WS_EX_TOPMOST | WS_EX_DLGMODALFRAME), WS_EX_TOPMOST | WS_EX_DLGMODALFRAME);

    ::DestroyWindow(window);
    PumpPending();
  }
}

// Persona values are shown as written: "&" is no mnemonic marker.
constexpr wchar_t kStartPage[] = L"https://example.org/?a=1&b=2&c=3&d=4&e=5";

// A persona as the README shows it.
SettingsSummary ReadmeSummary() {
  SettingsSummary summary;
  summary.switches = {{L"lang       ", L"de-DE"}, {L"window-size", L"1280,800"}};
  summary.overrides = {{L"timezone-override", L"Europe/Berlin"},
                       {L"start-page       ", kStartPage},
                       {L"auto-lang        ", L"true"}};
  return summary;
}

TEST_F(ProgressWindowTest, PaintsTheWorkersStepsAndTheSummary) {
  if (SystemDpi() != 96) GTEST_SKIP() << "laid out for 96 dpi";
  const SettingsSummary summary = ReadmeSummary();
  ASSERT_NE(Open(summary), nullptr);
  PumpPending();
  const Capture label_only = CaptureClient(window_);

  // The worker's way: change steps under the lock, then post.
  std::thread worker([poster = dialog_.poster(), session = session_] {
    ProgressSteps& steps = session->steps;
    SetProgressStep(steps, 0, L"socks5://127.0.0.1:1080", StepState::kDone);
    poster(ProgressMessage::kStep, 0);
    SetProgressStep(steps, 1, kFailoverDetail, StepState::kPending);
    poster(ProgressMessage::kStep, 1);
  });
  worker.join();
  PumpPending();

  const Capture shot = CaptureClient(window_);
  ASSERT_GT(shot.width, 444);
  ASSERT_GT(shot.height, 294);
  SaveScreenshot(shot, "progress-window-windows.png");

  EXPECT_EQ(shot.At(8, 150), kBackgroundColour);                               // left of the marks
  EXPECT_EQ(shot.At(300, 64), kBackgroundColour);                              // between subtitle and steps
  EXPECT_TRUE(AnyPixelIn(shot, {16, 14, 444, 40}, kPrimaryTextColour));        // headline
  EXPECT_TRUE(AnyPixelIn(shot, {18, 72, 38, 92}, kDoneColour));                // step 0 mark
  EXPECT_TRUE(AnyPixelIn(shot, {300, 72, 444, 92}, kSecondaryTextColour));     // step 0 detail
  EXPECT_TRUE(AnyPixelIn(shot, {18, 94, 38, 114}, kPendingColour));            // step 1 mark
  EXPECT_TRUE(AnyPixelIn(shot, {300, 94, 444, 114}, kSecondaryTextColour));    // step 1 detail
  EXPECT_FALSE(AnyPixelIn(shot, {300, 116, 444, 158}, kSecondaryTextColour));  // steps 2, 3: no detail
  EXPECT_TRUE(AnyPixelIn(shot, {16, 172, 444, 190}, kSecondaryTextColour));    // "Active overrides (3)"
  EXPECT_TRUE(AnyPixelIn(shot, {18, 190, 444, 206}, kRowsColour));             // first override row
  EXPECT_TRUE(AnyPixelIn(shot, {16, 244, 444, 262}, kSecondaryTextColour));    // "Raw Chromium switches (2)"
  EXPECT_TRUE(AnyPixelIn(shot, {18, 278, 444, 294}, kRowsColour));             // last switch row

  // The long detail keeps off its label: up to the label's end and most of
  // the gap the line is as it was without it, and it is cut before the
  // right edge.
  const int label_end = RightmostInk(label_only, 94, 114);
  ASSERT_GT(label_end, 120);
  EXPECT_TRUE(SameBand(shot, label_only, label_end + kDetailGap - 3, 94, 114));
  EXPECT_GT(RightmostInk(shot, 94, 114), 400);
  EXPECT_LT(RightmostInk(shot, 94, 114), 444);

  const std::wstring row = summary.overrides[1].label + L"  " + kStartPage;
  const int as_text = 18 + RowTextWidth(row, DT_NOPREFIX);
  const int as_mnemonics = 18 + RowTextWidth(row, 0);
  ASSERT_GT(as_text - as_mnemonics, 8);
  EXPECT_GT(RightmostInk(shot, 206, 222), (as_text + as_mnemonics) / 2);
}

TEST_F(ProgressWindowTest, DrawsTheMarksAsShapes) {
  const int dpi = SystemDpi();
  ASSERT_NE(Open(SummaryWith(0, 0)), nullptr);
  SetProgressStep(session_->steps, 0, L"", StepState::kFailed);
  SetProgressStep(session_->steps, 1, L"", StepState::kDone);
  dialog_.poster()(ProgressMessage::kStep, 1);
  PumpPending();
  ExpectMarks(CaptureClient(window_), SnapshotProgressSteps(session_->steps), dpi);
}

// A move to a screen of another dpi: the window takes the size the system
// proposes and lays out everything at the new dpi.
TEST_F(ProgressWindowTest, FollowsAChangeOfDpi) {
  if (SystemDpi() != 96) GTEST_SKIP() << "starts at 96 dpi";
  ASSERT_NE(Open(SummaryWith(0, 0)), nullptr);
  SetProgressStep(session_->steps, 1, L"", StepState::kDone);
  RECT proposed{100, 100, 100 + 690, 100 + 360};
  ::SendMessageW(window_, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&proposed));
  PumpPending();
  RECT outer{};
  ::GetWindowRect(window_, &outer);
  EXPECT_EQ((std::array{outer.left, outer.top, outer.right, outer.bottom}),
            (std::array{proposed.left, proposed.top, proposed.right, proposed.bottom}));
  const Capture shot = CaptureClient(window_);
  ExpectMarks(shot, SnapshotProgressSteps(session_->steps), 144);
  EXPECT_TRUE(AnyPixelIn(shot, {24, 21, 666, 60}, kPrimaryTextColour));              // headline
  EXPECT_TRUE(AnyPixelIn(shot, {60, 108 + 33, 300, 138 + 33}, kPrimaryTextColour));  // step 1 label
}

// Runs in a prefix set to 192 dpi (200 %): the window is made at that dpi,
// twice as large in every length, not stretched by the system.
TEST_F(ProgressWindowTest, At192DpiEveryLengthDoubles) {
  if (SystemDpi() != 192) GTEST_SKIP() << "needs a prefix at 192 dpi";
  ASSERT_NE(Open(ReadmeSummary()), nullptr);
  SetProgressStep(session_->steps, 0, L"socks5://127.0.0.1:1080", StepState::kDone);
  SetProgressStep(session_->steps, 1, kFailoverDetail, StepState::kPending);
  dialog_.poster()(ProgressMessage::kStep, 1);
  PumpPending();
  RECT outer{};
  ::GetWindowRect(window_, &outer);
  EXPECT_EQ(outer.right - outer.left, 2 * 460);
  EXPECT_EQ(outer.bottom - outer.top, 2 * 386);
  EXPECT_EQ(outer.left, (::GetSystemMetrics(SM_CXSCREEN) - 2 * 460) / 2);
  const Capture shot = CaptureClient(window_);
  SaveScreenshot(shot, "progress-window-windows-200.png");
  // The client area holds the layout's 888 pixels across and all 4 steps.
  EXPECT_GE(shot.width, 2 * 444);
  EXPECT_GE(shot.height, 2 * 294);
  ExpectMarks(shot, SnapshotProgressSteps(session_->steps), 192);
  EXPECT_TRUE(AnyPixelIn(shot, {32, 28, 888, 80}, kPrimaryTextColour));       // headline
  EXPECT_TRUE(AnyPixelIn(shot, {600, 188, 888, 228}, kSecondaryTextColour));  // step 1 detail
  EXPECT_TRUE(AnyPixelIn(shot, {36, 380, 888, 412}, kRowsColour));            // first override row
}

// What a screen reader gets through the window's accessibility object: the
// headline and the four steps with state and detail, and a notice when a
// step changes.
std::vector<std::tuple<HWND, LONG, LONG>> g_description_changes;

void CALLBACK RecordDescriptionChange(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD) {
  g_description_changes.emplace_back(window, object, child);
}

std::wstring Text(IAccessible* accessible, HRESULT (STDMETHODCALLTYPE IAccessible::*getter)(VARIANT, BSTR*),
                  LONG child) {
  VARIANT id{};
  id.vt = VT_I4;
  id.lVal = child;
  BSTR text = nullptr;
  if (FAILED((accessible->*getter)(id, &text)) || text == nullptr) return L"(none)";
  std::wstring copy(text, ::SysStringLen(text));
  ::SysFreeString(text);
  return copy;
}

TEST_F(ProgressWindowTest, ScreenReadersReadTheHeadlineAndEachStep) {
  if (SystemDpi() != 96) GTEST_SKIP() << "laid out for 96 dpi";
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  ASSERT_NE(Open(SummaryWith(0, 0)), nullptr);
  SetProgressStep(session_->steps, 0, L"socks5://127.0.0.1:1080", StepState::kDone);
  g_description_changes.clear();
  const HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_OBJECT_DESCRIPTIONCHANGE, EVENT_OBJECT_DESCRIPTIONCHANGE, nullptr,
                                               RecordDescriptionChange, ::GetCurrentProcessId(), 0,
                                               WINEVENT_OUTOFCONTEXT);
  ASSERT_NE(hook, nullptr);

  IAccessible* accessible = nullptr;
  ASSERT_TRUE(SUCCEEDED(::AccessibleObjectFromWindow(window_, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                                     reinterpret_cast<void**>(&accessible))));
  ASSERT_NE(accessible, nullptr);
  LONG children = 0;
  EXPECT_TRUE(SUCCEEDED(accessible->get_accChildCount(&children)));
  EXPECT_EQ(children, 5);
  const auto read = [&] {
    std::wstring all;
    for (LONG child = 1; child <= 5; ++child) {
      all += Text(accessible, &IAccessible::get_accName, child) + L" | " +
             Text(accessible, &IAccessible::get_accDescription, child) + L"\n";
    }
    return all;
  };
  EXPECT_EQ(read(),
            L"Preparing Quill Wave | Auto-detecting persona settings\u2026\n"
            L"Loading persona overlay | done, socks5://127.0.0.1:1080\n"
            L"Discovering proxy egress IP | pending\n"
            L"Applying anti-detect overrides | pending\n"
            L"Launching chrome.exe | pending\n");
  VARIANT step1{};
  step1.vt = VT_I4;
  step1.lVal = 3;
  VARIANT role{};
  EXPECT_TRUE(SUCCEEDED(accessible->get_accRole(step1, &role)));
  EXPECT_EQ(role.lVal, ROLE_SYSTEM_STATICTEXT);
  LONG left = 0, top = 0, width = 0, height = 0;
  EXPECT_TRUE(SUCCEEDED(accessible->accLocation(&left, &top, &width, &height, step1)));
  POINT origin{18, 94};
  ::ClientToScreen(window_, &origin);
  EXPECT_EQ((std::array{left, top, width, height}), (std::array<LONG, 4>{origin.x, origin.y, 444 - 18, 20}));

  std::thread worker([poster = dialog_.poster(), session = session_] {
    SetProgressStep(session->steps, 1, L"203.0.113.7", StepState::kDone);
    poster(ProgressMessage::kStep, 1);
  });
  worker.join();
  PumpPending();
  PumpPending();  // the hook's notice comes through the queue too
  EXPECT_EQ(Text(accessible, &IAccessible::get_accDescription, 3), L"done, 203.0.113.7");
  EXPECT_EQ(g_description_changes,
            (std::vector<std::tuple<HWND, LONG, LONG>>{{window_, static_cast<LONG>(OBJID_CLIENT), 3}}));

  ::UnhookWinEvent(hook);
  ::DestroyWindow(window_);
  PumpPending();
  // A client that holds on to the object past the window gets a failure.
  EXPECT_FALSE(SUCCEEDED(accessible->get_accChildCount(&children)));
  accessible->Release();
  ::CoUninitialize();
}

TEST_F(ProgressWindowTest, ClosingByTheUserAbortsAndEndsTheLoop) {
  const struct {
    const char* name;
    UINT message;
    WPARAM wparam;
  } closes[] = {{"close box, Alt+F4", WM_SYSCOMMAND, SC_CLOSE}, {"Esc with the focus", WM_KEYDOWN, VK_ESCAPE}};
  for (const auto& close : closes) {
    SCOPED_TRACE(close.name);
    session_ = std::make_shared<TestSession>();
    ResetProgressSteps(session_->steps);
    ASSERT_NE(Open(SummaryWith(3, 0)), nullptr);
    const ProgressPoster poster = dialog_.poster();
    ::PostMessageW(window_, close.message, close.wparam, 0);
    {
      LoopWatchdog watchdog;
      dialog_.run_loop();
      ASSERT_FALSE(watchdog.fired());
    }
    EXPECT_TRUE(session_->aborted.load());
    EXPECT_FALSE(::IsWindow(window_));

    // The worker keeps narrating into the void.
    poster(ProgressMessage::kStep, 1);
    poster(ProgressMessage::kClose, 0);
    MSG stray{};
    EXPECT_FALSE(::PeekMessageW(&stray, nullptr, 0, 0, PM_NOREMOVE));
    dialog_.release();
  }
}

TEST_F(ProgressWindowTest, ClosingByTheWorkerEndsTheLoopWithoutAborting) {
  ASSERT_NE(Open(SummaryWith(0, 0)), nullptr);
  const ProgressPoster poster = dialog_.poster();
  std::thread worker([poster, session = session_] {
    SetProgressStep(session->steps, 3, L"", StepState::kDone);
    poster(ProgressMessage::kStep, 3);
    poster(ProgressMessage::kClose, 0);
  });
  {
    LoopWatchdog watchdog;
    dialog_.run_loop();
    ASSERT_FALSE(watchdog.fired());
  }
  worker.join();
  EXPECT_FALSE(session_->aborted.load());
  EXPECT_FALSE(::IsWindow(window_));

  poster(ProgressMessage::kClose, 0);
  MSG stray{};
  EXPECT_FALSE(::PeekMessageW(&stray, nullptr, 0, 0, PM_NOREMOVE));
}

}  // namespace
}  // namespace quillwave
