// The GTK progress window on a private X server (tests/support/with-xvfb.sh):
// what a person sees, as pixels and window properties, what a screen reader
// reads, and how the window ends. The X side is observed with the usual X
// tools, the accessibility side through AT-SPI, run as bounded children.
// Some cases need a set-up of their own (a scale factor, fonts, a session
// bus) and skip without it; CMake runs each in its own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
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

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kPatience = 10s;

// Runs a program (a bare name is one of the system's tools); its output,
// or nothing when it failed.
std::optional<std::string> RunTool(const std::vector<std::wstring>& command) {
  std::vector<std::wstring> arguments(command.begin() + 1, command.end());
  test::ChildOptions options;
  options.timeout = std::chrono::duration_cast<std::chrono::milliseconds>(kPatience);
  const test::ChildResult result = test::RunChild(fs::path("/usr/bin") / command.front(), arguments, options);
  if (result.exit_code != 0) return std::nullopt;
  return result.output;
}

bool EnvironmentIs(const char* name, std::string_view value) {
  const char* set = std::getenv(name);
  return set != nullptr && value == set;
}

std::string Tool(const std::vector<std::wstring>& command) { return RunTool(command).value_or(""); }

// The X id of the mapped progress window, found by its WM_CLASS; empty when
// none appears in time.
std::wstring FindWindow() {
  std::string id = Tool({L"xdotool", L"search", L"--sync", L"--onlyvisible", L"--classname", L"^QuillwaveLauncher$"});
  while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) id.pop_back();
  if (id.find('\n') != std::string::npos) return {};  // more than one: a leftover window
  return std::wstring(id.begin(), id.end());
}

struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  Rgb At(int x, int y) const {
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
  bool Contains(Rgb colour, int left, int top, int right, int bottom) const {
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x)
        if (At(x, y) == colour) return true;
    return false;
  }
  // The rightmost column of the band with a pixel that is not background,
  // or -1.
  int RightmostInk(int left, int top, int right, int bottom) const {
    for (int x = right - 1; x >= left; --x)
      for (int y = top; y < bottom; ++y)
        if (!(At(x, y) == kBackgroundColour)) return x;
    return -1;
  }
  bool SameAs(const Image& other, int left, int top, int right, int bottom) const {
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x)
        if (!(At(x, y) == other.At(x, y))) return false;
    return true;
  }
};

// Each mark drawn as laid out, `scale` device pixels to one of the layout:
// its colour near every point of its strokes (a sharp corner of a filled
// shape covers no whole pixel at the point itself), nothing in its box's
// corners.
void ExpectMarks(const Image& image, const ProgressStepList& steps, int scale) {
  const auto marks = LayoutProgressWindow(steps, {}, [](FontRole, std::wstring_view) { return 0; }).marks;
  for (std::size_t i = 0; i < marks.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "mark of step " << i);
    const MarkShape& mark = marks[i];
    for (const MarkStroke& stroke : mark.strokes) {
      for (const Point& point : stroke.points) {
        const int x = point.x * scale, y = point.y * scale;
        EXPECT_TRUE(image.Contains(mark.colour, x - 2 * scale, y - 2 * scale, x + 2 * scale, y + 2 * scale))
            << point.x << "," << point.y;
      }
    }
    EXPECT_EQ(image.At(mark.left * scale, mark.top * scale), kBackgroundColour);
    EXPECT_EQ(image.At(mark.right * scale - 1, mark.bottom * scale - 1), kBackgroundColour);
  }
}

// Captures the window into `png` and reads it back through a binary PPM.
Image Capture(const std::wstring& window, const fs::path& png) {
  Image image;
  if (!RunTool({L"import", L"-silent", L"-window", window, png.wstring()})) return image;
  const fs::path ppm = fs::path(png).replace_extension(".ppm");
  Tool({L"convert", png.wstring(), L"-depth", L"8", ppm.wstring()});
  std::ifstream in(ppm, std::ios::binary);
  std::string magic;
  int maximum = 0;
  in >> magic >> image.width >> image.height >> maximum;
  in.get();
  if (magic != "P6" || maximum != 255 || image.width <= 0 || image.height <= 0) return {};
  image.rgb.resize(static_cast<std::size_t>(image.width) * image.height * 3);
  in.read(reinterpret_cast<char*>(image.rgb.data()), static_cast<std::streamsize>(image.rgb.size()));
  fs::remove(ppm);
  return in ? image : Image{};
}

// Captures until `ready` holds for the picture (the window paints
// asynchronously), within the patience.
Image CaptureWhen(const std::wstring& window, const fs::path& png, const std::function<bool(const Image&)>& ready) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  Image image;
  do {
    image = Capture(window, png);
    if (image.width > 0 && ready(image)) return image;
    std::this_thread::sleep_for(50ms);
  } while (std::chrono::steady_clock::now() < deadline);
  return image;
}

// Runs the main thread's loop while `drive` acts from another thread, as
// the worker and the person do. Should `drive` fail to end the window, it is
// closed after the patience so that the test fails instead of hanging.
void RunWindow(const ProgressWindow& window, const std::function<void()>& drive) {
  const ProgressPoster post = window.poster();
  std::atomic<bool> loop_ended{false};
  std::thread driver([&] {
    drive();
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!loop_ended.load() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
    if (!loop_ended.load()) post(ProgressMessage::kClose, 0);
  });
  window.run_loop();
  loop_ended.store(true);
  driver.join();
}

class ProgressWindowGtk : public ::testing::Test {
 protected:
  void SetUp() override { ResetProgressSteps(session_->steps); }
  void TearDown() override { window_.release(); }

  bool Create(const SettingsSummary& summary) {
    return window_.create(summary, StepsOf(session_), [session = session_] { session->aborted.exchange(true); })
        .created;
  }

  // The README's moment, drawn at `scale` and saved as `file_name`.
  Image ReadmeMoment(const char* file_name, int scale);

  ProgressWindow window_ = SystemProgressWindow(nullptr);
  std::shared_ptr<TestSession> session_ = std::make_shared<TestSession>();
};

// The moment the README shows: the primary endpoint failed and the
// secondary one is being asked, with a detail longer than its room.
constexpr wchar_t kFailoverDetail[] = L"geo.primary.example failed \u2014 trying geoip.secondary.example\u2026";

// The summary the pixel checks read: the first row of each list ends in
// full blocks, since small antialiased text may have no pixel of the pure
// text colour, and a block always has.
SettingsSummary CheckedSummary() {
  SettingsSummary summary;
  summary.overrides = {{L"auto-timezone       ", L"true \u2588\u2588"},
                       {L"proxy-server        ", L"socks5://127.0.0.1:1080"},
                       {L"webrtc-no-leak      ", L"true"}};
  summary.switches = {{L"lang                ", L"de-DE \u2588\u2588"}, {L"window-size         ", L"1280,800"}};
  return summary;
}

// A persona as the README shows it.
SettingsSummary ReadmeSummary() {
  SettingsSummary summary;
  summary.overrides = {{L"auto-timezone       ", L"true"},
                       {L"proxy-server        ", L"socks5://127.0.0.1:1080"},
                       {L"webrtc-no-leak      ", L"true"}};
  summary.switches = {{L"lang                ", L"de-DE"}, {L"window-size         ", L"1280,800"}};
  return summary;
}

TEST_F(ProgressWindowGtk, PaintsTheStepsAndSummaryAndClosesOnTheWorkersPost) {
  ProgressSteps& steps = session_->steps;
  SetProgressStep(steps, 0, L"socks5://127.0.0.1:1080", StepState::kDone);
  ASSERT_TRUE(Create(CheckedSummary()));
  window_.show();

  const fs::path folder = QUILLWAVE_SCREENSHOT_DIR;
  fs::create_directories(folder);
  const ProgressPoster post = window_.poster();
  std::wstring window;
  std::string properties, geometry;
  Image label_only, first, repainted;
  RunWindow(window_, [&] {
    window = FindWindow();
    if (window.empty()) return;
    properties = Tool({L"xprop", L"-id", window, L"WM_CLASS", L"_NET_WM_NAME", L"_NET_WM_WINDOW_TYPE", L"_NET_WM_STATE",
                       L"WM_NORMAL_HINTS"});
    geometry = Tool({L"xdotool", L"getwindowgeometry", L"--shell", window});
    label_only = CaptureWhen(window, folder / "progress-window-linux-label.png",
                             [](const Image& image) { return image.At(450, 60) == kBackgroundColour; });
    // Step 1's detail arrives from another thread and shows after its post.
    SetProgressStep(session_->steps, 1, kFailoverDetail, StepState::kPending);
    post(ProgressMessage::kStep, 1);
    first = CaptureWhen(window, folder / "progress-window-linux-rows.png",
                        [](const Image& image) { return image.Contains(kSecondaryTextColour, 300, 94, 444, 114); });
    SetProgressStep(session_->steps, 3, L"", StepState::kDone);
    post(ProgressMessage::kStep, 3);
    repainted = CaptureWhen(window, folder / "progress-window-linux-step3.png",
                            [](const Image& image) { return image.Contains(kDoneColour, 18, 138, 38, 158); });
    post(ProgressMessage::kClose, 0);
  });

  EXPECT_FALSE(session_->aborted.load()) << "the worker's close is no cancellation";
  ASSERT_FALSE(window.empty()) << "no mapped window with WM_CLASS QuillwaveLauncher";
  EXPECT_NE(properties.find("WM_CLASS(STRING) = \"QuillwaveLauncher\", \"QuillwaveLauncher\""), std::string::npos)
      << properties;
  EXPECT_NE(properties.find("_NET_WM_NAME(UTF8_STRING) = \"Preparing Quillwave\u2026\""), std::string::npos)
      << properties;
  EXPECT_NE(properties.find("_NET_WM_WINDOW_TYPE_DIALOG"), std::string::npos) << properties;
  EXPECT_NE(properties.find("_NET_WM_STATE_ABOVE"), std::string::npos) << properties;
  EXPECT_NE(properties.find("minimum size: 460 by 386"), std::string::npos) << properties;
  EXPECT_NE(properties.find("maximum size: 460 by 386"), std::string::npos) << properties;
  // Centred on the 1920 x 1080 screen; no frame without a window manager.
  EXPECT_EQ(geometry, "WINDOW=" + std::string(window.begin(), window.end()) +
                          "\nX=730\nY=347\nWIDTH=460\nHEIGHT=386\nSCREEN=0\n");

  ASSERT_EQ(first.width, 460);
  ASSERT_EQ(first.height, 386);
  ASSERT_EQ(label_only.width, 460);
  EXPECT_EQ(first.At(450, 60), kBackgroundColour);
  EXPECT_TRUE(first.Contains(kPrimaryTextColour, 16, 14, 444, 40)) << "headline";
  EXPECT_TRUE(first.Contains(kDoneColour, 18, 72, 38, 92)) << "step 0 done mark";
  EXPECT_TRUE(first.Contains(kSecondaryTextColour, 300, 72, 444, 92)) << "step 0 detail, right-aligned";
  EXPECT_TRUE(first.Contains(kPendingColour, 18, 94, 38, 114)) << "step 1 pending mark";
  EXPECT_TRUE(first.Contains(kPrimaryTextColour, 40, 94, 120, 114)) << "step 1 label";
  EXPECT_FALSE(first.Contains(kSecondaryTextColour, 300, 116, 444, 158)) << "steps 2 and 3 have no detail";
  EXPECT_TRUE(first.Contains(kPendingColour, 18, 138, 38, 158)) << "step 3 pending mark";
  EXPECT_TRUE(first.Contains(kSecondaryTextColour, 16, 172, 444, 190)) << "overrides heading";
  EXPECT_TRUE(first.Contains(kRowsColour, 18, 190, 444, 206)) << "first override row";
  EXPECT_TRUE(first.Contains(kRowsColour, 18, 262, 444, 278)) << "first switch row";
  EXPECT_FALSE(first.Contains(kRowsColour, 0, 294, 460, 386)) << "nothing below the last row";
  EXPECT_TRUE(repainted.Contains(kDoneColour, 18, 138, 38, 158)) << "step 3 repainted after its post";

  // The long detail keeps off its label: up to the label's end and most of
  // the gap, the line is as it was without the detail; the detail is cut
  // before the right edge.
  const int label_end = label_only.RightmostInk(40, 94, 444, 114);
  ASSERT_GT(label_end, 120);
  EXPECT_TRUE(first.SameAs(label_only, 0, 94, label_end + kDetailGap - 3, 114));
  EXPECT_GT(first.RightmostInk(label_end + kDetailGap - 3, 94, 460, 114), 400) << "the detail is drawn";
  EXPECT_LT(first.RightmostInk(0, 94, 460, 114), 444);
}

// The window manager's close request, and Esc once the window has the focus.
TEST_F(ProgressWindowGtk, APersonsCloseCancelsTheLaunch) {
  const auto wm_delete = [](const std::wstring& window) {
    return RunTool({fs::path(QUILLWAVE_SEND_WM_DELETE).wstring(), window}).has_value();
  };
  const auto escape = [](const std::wstring& window) {
    return RunTool({L"xdotool", L"windowfocus", L"--sync", window}) && RunTool({L"xdotool", L"key", L"Escape"});
  };
  for (const auto& close : {std::function<bool(const std::wstring&)>(wm_delete), std::function(escape)}) {
    session_ = std::make_shared<TestSession>();
    ResetProgressSteps(session_->steps);
    window_ = SystemProgressWindow(nullptr);
    ASSERT_TRUE(Create(SettingsSummary{}));
    window_.show();
    std::wstring window;
    bool sent = false;
    const auto start = std::chrono::steady_clock::now();
    RunWindow(window_, [&] {
      window = FindWindow();
      if (!window.empty()) sent = close(window);
    });
    ASSERT_FALSE(window.empty());
    EXPECT_TRUE(sent);
    EXPECT_TRUE(session_->aborted.load());
    EXPECT_LT(std::chrono::steady_clock::now() - start, kPatience) << "the loop ended only by the fallback close";
    // The worker's late posts go nowhere.
    const ProgressPoster post = window_.poster();
    post(ProgressMessage::kStep, 0);
    post(ProgressMessage::kClose, 0);
    window_.release();
  }
}

// Runs with FONTCONFIG_FILE naming a set of fonts without the check mark
// and the hourglass: the marks are shapes, not glyphs.
class ProgressWindowGtkFonts : public ProgressWindowGtk {};
TEST_F(ProgressWindowGtkFonts, MarksShowWithNoFontForTheirGlyphs) {
  if (std::getenv("FONTCONFIG_FILE") == nullptr) GTEST_SKIP() << "needs its font set-up";
  ASSERT_EQ(Tool({L"fc-list", L":charset=2713"}), "") << "a font with \u2713 is installed";
  ASSERT_EQ(Tool({L"fc-list", L":charset=23f3"}), "") << "a font with \u23f3 is installed";
  SetProgressStep(session_->steps, 0, L"", StepState::kFailed);
  SetProgressStep(session_->steps, 1, L"", StepState::kDone);
  ASSERT_TRUE(Create(SettingsSummary{}));
  window_.show();
  Image image;
  RunWindow(window_, [&] {
    const std::wstring window = FindWindow();
    if (window.empty()) return;
    image = CaptureWhen(window, fs::path(QUILLWAVE_SCREENSHOT_DIR) / "progress-window-linux-marks.png",
                        [](const Image& image) { return image.Contains(kDoneColour, 18, 94, 38, 114); });
    window_.poster()(ProgressMessage::kClose, 0);
  });
  ASSERT_EQ(image.width, 460);
  ExpectMarks(image, SnapshotProgressSteps(session_->steps), 1);
}

// The moment the README shows: the failover, with a persona's own summary.
Image ProgressWindowGtk::ReadmeMoment(const char* file_name, int scale) {
  SetProgressStep(session_->steps, 0, L"socks5://127.0.0.1:1080", StepState::kDone);
  SetProgressStep(session_->steps, 1, kFailoverDetail, StepState::kPending);
  Image image;
  if (!Create(ReadmeSummary())) return image;
  window_.show();
  RunWindow(window_, [&] {
    const std::wstring window = FindWindow();
    if (window.empty()) return;
    // Once step 1's detail shows.
    image = CaptureWhen(window, fs::path(QUILLWAVE_SCREENSHOT_DIR) / file_name, [scale](const Image& image) {
      return image.Contains(kSecondaryTextColour, 300 * scale, 94 * scale, 444 * scale, 114 * scale);
    });
    window_.poster()(ProgressMessage::kClose, 0);
  });
  return image;
}

TEST_F(ProgressWindowGtk, DrawsTheReadmePicture) {
  const Image image = ReadmeMoment("progress-window-linux.png", 1);
  ASSERT_EQ(image.width, 460);
  ExpectMarks(image, SnapshotProgressSteps(session_->steps), 1);
}

// Runs with GDK_SCALE=2: the window is drawn with twice the pixels, not
// stretched. The README shows this picture beside the one at 100 %.
class ProgressWindowGtkScaled : public ProgressWindowGtk {};
TEST_F(ProgressWindowGtkScaled, DrawsAtTheScreensScaleFactor) {
  if (!EnvironmentIs("GDK_SCALE", "2")) GTEST_SKIP() << "needs GDK_SCALE=2";
  const Image image = ReadmeMoment("progress-window-linux-200.png", 2);
  ASSERT_EQ(image.width, 2 * 460);
  ASSERT_EQ(image.height, 2 * 386);
  ExpectMarks(image, SnapshotProgressSteps(session_->steps), 2);
  EXPECT_TRUE(image.Contains(kRowsColour, 36, 380, 888, 412)) << "first override row";
  // A picture stretched from 100 % repeats each pixel in a 2 x 2 block; the
  // headline's edges here fall inside such blocks.
  int split_blocks = 0;
  for (int y = 28; y < 80; y += 2)
    for (int x = 32; x < 888; x += 2)
      if (!(image.At(x, y) == image.At(x + 1, y) && image.At(x, y) == image.At(x, y + 1))) ++split_blocks;
  EXPECT_GT(split_blocks, 100);
}

// Runs under its own D-Bus session, where the accessibility bus starts on
// demand: what a screen reader reads of the window through AT-SPI.
class ProgressWindowGtkAccessible : public ProgressWindowGtk {};
TEST_F(ProgressWindowGtkAccessible, ScreenReadersReadTheHeadlineAndEachStep) {
  if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr || std::getenv("NO_AT_BRIDGE") != nullptr) {
    GTEST_SKIP() << "needs its own session bus and the accessibility bridge";
  }
  SetProgressStep(session_->steps, 0, L"socks5://127.0.0.1:1080", StepState::kDone);
  ASSERT_TRUE(Create(SettingsSummary{}));
  window_.show();
  const std::string before =
      "frame: Preparing Quillwave\u2026 | \n"
      "  panel:  | \n"
      "    heading: Preparing Quill Wave | Auto-detecting persona settings\u2026\n"
      "    label: Loading persona overlay | done, socks5://127.0.0.1:1080\n"
      "    label: Discovering proxy egress IP | pending\n"
      "    label: Applying anti-detect overrides | pending\n"
      "    label: Launching chrome.exe | pending\n";
  std::string after = before;
  after.replace(after.find("IP | pending"), 12, "IP | done, 203.0.113.7");
  // Reads until the text is as expected (the window answers from its loop)
  // or the patience is gone.
  const auto read_until = [](const std::string& expected) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    std::string read;
    do {
      test::ChildOptions options;
      options.timeout = 5s;
      const test::ChildResult result = test::RunChild(
          QUILLWAVE_PYTHON3, {fs::path(QUILLWAVE_READ_ACCESSIBLE).wstring(), L"Preparing Quillwave\u2026"}, options);
      read = result.output;
      if (result.exit_code == 0 && read == expected) break;
      std::this_thread::sleep_for(100ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return read;
  };
  std::string first, second;
  RunWindow(window_, [&] {
    first = read_until(before);
    SetProgressStep(session_->steps, 1, L"203.0.113.7", StepState::kDone);
    window_.poster()(ProgressMessage::kStep, 1);
    second = read_until(after);
    window_.poster()(ProgressMessage::kClose, 0);
  });
  EXPECT_EQ(first, before);
  EXPECT_EQ(second, after);
}

// A launch that needs no window must not bring the toolkit into the process.
TEST(ProgressWindowGtkDirectLaunch, LeavesTheToolkitUnloaded) {
  test::ScopedTempDir folder;
  const fs::path app = folder.path() / "app";
  fs::create_directories(app);
  fs::create_directories(folder.path() / "profile");
  fs::copy_file(QUILLWAVE_LAUNCHER_PATH, app / "quillwave-launcher");
  fs::copy_file(QUILLWAVE_STANDIN_ENGINE_PATH, app / "quillwave-engine");
  fs::copy_file(QUILLWAVE_MODULE_PATH, app / "quillwave-progress-gtk.so");
  test::ChildOptions options;
  options.environment = {{L"LD_DEBUG", L"files"}, {L"XDG_DATA_HOME", folder.path().wstring()}};
  const test::ChildResult result = test::RunChild(
      app / "quillwave-launcher", {L"--user-data-dir=" + (folder.path() / "profile").wstring()}, options);
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_NE(result.output.find("libc.so"), std::string::npos) << "LD_DEBUG gave no trace";
  EXPECT_EQ(result.output.find("quillwave-progress-gtk"), std::string::npos);
  EXPECT_EQ(result.output.find("libgtk"), std::string::npos);
}

// Runs with DISPLAY and WAYLAND_DISPLAY unset.
TEST(ProgressWindowGtkNoDisplay, GivesNoWindowAndNoDialogQuickly) {
  ASSERT_EQ(std::getenv("DISPLAY"), nullptr);
  const auto start = std::chrono::steady_clock::now();
  const ProgressWindow window = SystemProgressWindow(nullptr);
  const WindowCreation created = window.create(SettingsSummary{}, std::make_shared<ProgressSteps>(), [] {});
  EXPECT_FALSE(created.created);
  EXPECT_EQ(created.failure, "no display");
  EXPECT_FALSE(window.show_error(L"Quillwave", L"Engine binary not found"));
  window.run_loop();  // no window: returns at once
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

}  // namespace
}  // namespace quillwave
