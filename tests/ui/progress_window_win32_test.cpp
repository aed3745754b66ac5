// The GDI progress window as a person meets it: placed and styled on the
// screen, painted as laid out, closed by the user or by the worker. Runs
// under Wine against a private X server (with-xvfb.sh).
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "discovery/discovery_result.h"
#include "tests/support/png_writer.h"
#include "ui/progress_layout.h"
#include "ui/progress_window.h"

namespace quillwave {
namespace {

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

class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(::GetDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() { ::ReleaseDC(window_, dc_); }
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), original_(::SelectObject(dc, object)) {}
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  ~Selection() { ::SelectObject(dc_, original_); }

 private:
  HDC dc_;
  HGDIOBJ original_;
};

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

  const WindowDc window_dc(window);
  const UniqueMemoryDc memory_dc(::CreateCompatibleDC(window_dc.get()));
  void* bits = nullptr;
  const UniqueGdiObject bitmap(::CreateDIBSection(window_dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (memory_dc == nullptr || bitmap == nullptr) return capture;
  const Selection selected(memory_dc.get(), bitmap.get());
  ::BitBlt(memory_dc.get(), 0, 0, capture.width, capture.height, window_dc.get(), 0, 0, SRCCOPY);
  ::GdiFlush();
  const auto* bgra = static_cast<const unsigned char*>(bits);
  for (int i = 0; i < capture.width * capture.height; ++i)
    capture.pixels.push_back({bgra[4 * i + 2], bgra[4 * i + 1], bgra[4 * i]});
  return capture;
}

bool AnyPixelIn(const Capture& capture, RECT box, Rgb colour) {
  for (int y = box.top; y < box.bottom && y < capture.height; ++y)
    for (int x = box.left; x < box.right && x < capture.width; ++x)
      if (capture.At(x, y) == colour) return true;
  return false;
}

// The rightmost column in the band that is not background, or -1.
int RightmostInk(const Capture& capture, int top, int bottom) {
  for (int x = capture.width - 1; x >= 0; --x)
    for (int y = top; y < bottom && y < capture.height; ++y)
      if (!(capture.At(x, y) == kBackgroundColour)) return x;
  return -1;
}

// The width DrawTextW gives `text` in the window's row font, with or
// without mnemonic processing.
int RowTextWidth(const std::wstring& text, UINT extra_format) {
  const FontSpec font_spec = FontFor(FontRole::kMono);
  const UniqueGdiObject font(::CreateFontW(font_spec.height, 0, 0, 0, font_spec.weight, FALSE, FALSE, FALSE,
                                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                           FF_MODERN | FIXED_PITCH, font_spec.face));
  const UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
  const Selection selected(dc.get(), font.get());
  RECT box{0, 0, 10000, 100};
  ::DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &box, DT_SINGLELINE | DT_CALCRECT | extra_format);
  return box.right;
}

std::filesystem::path ScreenshotPath() {
  std::string folder = QUILLWAVE_SCREENSHOT_DIR;
  if (!folder.empty() && folder[0] == '/') folder = "Z:" + folder;  // Wine maps the Unix root to Z:
  return std::filesystem::path(folder) / "progress-window-windows.png";
}

class ProgressWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetProgressSteps(session_->steps); }
  void TearDown() override {
    if (window_ != nullptr && ::IsWindow(window_)) ::DestroyWindow(window_);
    PumpPending();
    if (dialog_.release) dialog_.release();
  }
  // A fresh window; its handle is found by its class, as other programs find it.
  HWND Open(const SettingsSummary& summary) {
    dialog_ = SystemProgressWindow(::GetModuleHandleW(nullptr));
    if (!dialog_.create(summary, session_, [session = session_] { session->result.aborted.exchange(true); }).created) {
      return window_ = nullptr;
    }
    window_ = ::FindWindowW(L"QuillwaveLauncher", nullptr);
    dialog_.show();
    return window_;
  }

  std::shared_ptr<LaunchSession> session_ = std::make_shared<LaunchSession>();
  ProgressWindow dialog_;
  HWND window_ = nullptr;
};

TEST_F(ProgressWindowTest, IsACentredTopmostFixedWindowCappedAtFourFifthsOfTheScreen) {
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

TEST_F(ProgressWindowTest, PaintsTheWorkersStepsAndTheSummary) {
  SettingsSummary summary = SummaryWith(0, 2);
  // Persona values are shown as written: "&" is no mnemonic marker.
  const std::wstring start_page = L"https://example.org/?a=1&b=2&c=3&d=4&e=5";
  summary.overrides = {{L"timezone-override", L"Europe/Berlin"},
                       {L"start-page       ", start_page},
                       {L"auto-lang        ", L"true"}};
  ASSERT_NE(Open(summary), nullptr);
  PumpPending();

  // The worker's way: change steps under the lock, then post.
  std::thread worker([poster = dialog_.poster(), session = session_] {
    ProgressSteps& steps = session->steps;
    SetProgressStep(steps, 0, L"", StepState::kDone);
    poster(ProgressMessage::kStep, 0);
    SetProgressStep(steps, 1, L"BLOCKED: PROXY_TIMEOUT", StepState::kFailed);
    poster(ProgressMessage::kStep, 1);
    SetProgressStep(steps, 2, L"tz, lang pending", StepState::kPending);
    poster(ProgressMessage::kStep, 2);
  });
  worker.join();
  PumpPending();

  const Capture shot = CaptureClient(window_);
  ASSERT_GT(shot.width, 444);
  ASSERT_GT(shot.height, 294);
  std::vector<std::uint8_t> rgb;
  for (const Rgb& pixel : shot.pixels) rgb.insert(rgb.end(), {pixel.r, pixel.g, pixel.b});
  std::error_code ignored;
  std::filesystem::create_directories(ScreenshotPath().parent_path(), ignored);
  EXPECT_TRUE(test::WritePngRgb8(ScreenshotPath(), shot.width, shot.height, rgb));

  EXPECT_EQ(shot.At(8, 150), kBackgroundColour);                              // left of the marks
  EXPECT_EQ(shot.At(300, 64), kBackgroundColour);                             // between subtitle and steps
  EXPECT_TRUE(AnyPixelIn(shot, {16, 14, 444, 40}, kPrimaryTextColour));       // headline
  EXPECT_TRUE(AnyPixelIn(shot, {18, 72, 38, 92}, kDoneColour));               // step 0 mark
  EXPECT_TRUE(AnyPixelIn(shot, {18, 94, 38, 114}, kFailureColour));           // step 1 mark
  EXPECT_TRUE(AnyPixelIn(shot, {300, 94, 444, 114}, kFailureColour));         // step 1 detail
  EXPECT_TRUE(AnyPixelIn(shot, {18, 116, 38, 136}, kPendingColour));          // step 2 mark
  EXPECT_TRUE(AnyPixelIn(shot, {300, 116, 444, 136}, kSecondaryTextColour));  // step 2 detail
  EXPECT_FALSE(AnyPixelIn(shot, {300, 116, 444, 136}, kFailureColour));
  EXPECT_FALSE(AnyPixelIn(shot, {300, 138, 444, 158}, kSecondaryTextColour));  // step 3: no detail
  EXPECT_TRUE(AnyPixelIn(shot, {16, 172, 444, 190}, kSecondaryTextColour));    // "Active overrides (3)"
  EXPECT_TRUE(AnyPixelIn(shot, {18, 190, 444, 206}, kRowsColour));             // first override row
  EXPECT_TRUE(AnyPixelIn(shot, {16, 244, 444, 262}, kSecondaryTextColour));    // "Raw Chromium switches (2)"
  EXPECT_TRUE(AnyPixelIn(shot, {18, 278, 444, 294}, kRowsColour));             // last switch row

  const std::wstring row = summary.overrides[1].label + L"  " + start_page;
  const int as_text = 18 + RowTextWidth(row, DT_NOPREFIX);
  const int as_mnemonics = 18 + RowTextWidth(row, 0);
  ASSERT_GT(as_text - as_mnemonics, 8);
  EXPECT_GT(RightmostInk(shot, 206, 222), (as_text + as_mnemonics) / 2);
}

TEST_F(ProgressWindowTest, ClosingByTheUserAbortsAndEndsTheLoop) {
  const struct {
    const char* name;
    UINT message;
    WPARAM wparam;
  } closes[] = {{"close box, Alt+F4", WM_SYSCOMMAND, SC_CLOSE}, {"Esc with the focus", WM_KEYDOWN, VK_ESCAPE}};
  for (const auto& close : closes) {
    SCOPED_TRACE(close.name);
    session_ = std::make_shared<LaunchSession>();
    ResetProgressSteps(session_->steps);
    ASSERT_NE(Open(SummaryWith(3, 0)), nullptr);
    const ProgressPoster poster = dialog_.poster();
    ::PostMessageW(window_, close.message, close.wparam, 0);
    {
      LoopWatchdog watchdog;
      dialog_.run_loop();
      ASSERT_FALSE(watchdog.fired());
    }
    EXPECT_TRUE(session_->result.aborted.load());
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
  EXPECT_FALSE(session_->result.aborted.load());
  EXPECT_FALSE(::IsWindow(window_));

  poster(ProgressMessage::kClose, 0);
  MSG stray{};
  EXPECT_FALSE(::PeekMessageW(&stray, nullptr, 0, 0, PM_NOREMOVE));
}

}  // namespace
}  // namespace quillwave
