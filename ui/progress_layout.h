// What the progress window shows, as plain data: its size and placement, its
// colours, every text run with its font, colour and rectangle, the state
// marks as shapes, and what it tells assistive technology. Both the Windows
// and the GTK window paint exactly this picture.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "persona/settings_summary.h"
#include "progress/progress_steps.h"

namespace quillwave {

struct Rgb {
  unsigned char r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb kBackgroundColour{30, 33, 41};
inline constexpr Rgb kPrimaryTextColour{231, 236, 243};
inline constexpr Rgb kSecondaryTextColour{170, 179, 192};
inline constexpr Rgb kFailureColour{248, 113, 113};
inline constexpr Rgb kDoneColour{74, 222, 128};
inline constexpr Rgb kPendingColour{245, 158, 11};
inline constexpr Rgb kRowsColour{190, 200, 215};

inline constexpr wchar_t kWindowClassName[] = L"QuillwaveLauncher";
inline constexpr wchar_t kWindowTitle[] = L"Preparing Quillwave\u2026";
inline constexpr wchar_t kHeadlineText[] = L"Preparing Quill Wave";
inline constexpr wchar_t kSubtitleText[] = L"Auto-detecting persona settings\u2026";
inline constexpr wchar_t kOverridesHeading[] = L"Active overrides";
inline constexpr wchar_t kSwitchesHeading[] = L"Raw Chromium switches";
inline constexpr int kWindowWidth = 460;

// Every length below is in pixels at 96 dpi; a window on a denser screen
// lays out at its own dpi with every length scaled.
inline constexpr int kBaseDpi = 96;
// `length` at `dpi`, rounded to the nearest pixel.
int ScaleForDpi(int length, int dpi);

// Fonts: face, cell height in logical units, weight, fixed pitch.
enum class FontRole { kHeadline, kStep, kSmall, kMono };
struct FontSpec {
  const wchar_t* face;
  int height;
  int weight;
  bool fixed_pitch;
};
FontSpec FontFor(FontRole role);

// The outer height the window asks for, before the screen cap.
int RequestedWindowHeight(std::size_t override_rows, std::size_t switch_rows);

struct WindowPlacement {
  int left = 0, top = 0, width = 0, height = 0;
  bool operator==(const WindowPlacement&) const = default;
};
// Centred on the primary screen, at most 80 % of its height; the screen's
// size is in its own pixels, the window's lengths are scaled to `dpi`.
WindowPlacement ProgressWindowPlacement(std::size_t override_rows, std::size_t switch_rows, int screen_width,
                                        int screen_height, int dpi = kBaseDpi);

// How many rows of one summary list a window on a screen this high (in
// pixels at 96 dpi) shows, at least one: the summary is built with no more.
std::size_t SummaryRowsShown(int screen_height);

enum class MarkKind { kCross, kCheck, kHourglass };
struct StepMark {
  MarkKind kind;
  Rgb colour;
};
// A cross, a check mark or an hourglass.
StepMark MarkFor(const ProgressStep& step);

// "Heading (N)", cut to 95 characters.
std::wstring SectionHeading(std::wstring_view heading, std::size_t count);

// One single-line text in client coordinates; transparent background,
// clipped to its rectangle.
struct TextRun {
  std::wstring text;
  FontRole font = FontRole::kSmall;
  Rgb colour;
  int left = 0, top = 0, right = 0, bottom = 0;
  bool right_aligned = false;
  bool end_ellipsis = false;
};

struct Point {
  int x = 0, y = 0;
  bool operator==(const Point&) const = default;
};
// One stroke of a mark: a line through the points `line_width` pixels wide
// with round ends and joins, or, when `line_width` is 0, the filled polygon.
struct MarkStroke {
  std::vector<Point> points;
  int line_width = 0;
};
// A state mark drawn by the window itself, so that it shows whatever fonts
// the machine has; it stays inside its box.
struct MarkShape {
  Rgb colour;
  int left = 0, top = 0, right = 0, bottom = 0;
  std::vector<MarkStroke> strokes;
};

// How wide `text` is drawn in `font`, in pixels at the layout's dpi.
using TextMeasure = std::function<int(FontRole font, std::wstring_view text)>;

// The gap between a step's label and its detail, at 96 dpi.
inline constexpr int kDetailGap = 12;

// Everything one paint pass draws after filling the background.
struct ProgressPicture {
  std::vector<TextRun> texts;  // in drawing order
  std::vector<MarkShape> marks;
};

// The window's picture at `dpi`. A step's detail is right-aligned in the
// room right of its label's measured end (from the gap on) and cut with an
// ellipsis when longer; it is left out when no room is left.
ProgressPicture LayoutProgressWindow(const ProgressStepList& steps, const SettingsSummary& summary,
                                     const TextMeasure& measure, int dpi = kBaseDpi);

// What the window tells assistive technology: the headline with the
// subtitle, then each step with its state and detail.
struct AccessibleItem {
  std::wstring name;
  std::wstring description;
  bool operator==(const AccessibleItem&) const = default;
};
std::vector<AccessibleItem> AccessibleProgress(const ProgressStepList& steps);

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const Rect&) const = default;
};
// Where item `index` of AccessibleProgress stands at `dpi`: the headline
// with the subtitle, or a step's whole line.
Rect AccessibleItemBox(std::size_t index, int dpi = kBaseDpi);

}  // namespace quillwave
