// What the progress window shows, as plain data: its size and placement, its
// colours and every text run with its font, colour and rectangle. Both the
// Windows and the GTK window paint exactly this list.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/progress_steps.h"
#include "persona/settings_summary.h"

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
// Centred on the primary screen, at most 80 % of its height.
WindowPlacement ProgressWindowPlacement(std::size_t override_rows, std::size_t switch_rows, int screen_width,
                                        int screen_height);

// How many rows of one summary list a window on a screen this high shows
// (at least one): the summary is built with no more.
std::size_t SummaryRowsShown(int screen_height);

struct StepMark {
  const wchar_t* glyph;
  Rgb colour;
};
// A cross, a check mark or an hourglass.
StepMark MarkFor(const ProgressStep& step);

// "Heading (N)", cut to 95 characters.
std::wstring SectionHeading(std::wstring_view heading, std::size_t count);

// One single-line text in client coordinates; transparent background.
struct TextRun {
  std::wstring text;
  FontRole font = FontRole::kSmall;
  Rgb colour;
  int left = 0, top = 0, right = 0, bottom = 0;
  bool right_aligned = false;
  bool end_ellipsis = false;
};

// Every text of one paint pass, in drawing order (the background fill comes first).
std::vector<TextRun> LayoutProgressWindow(const ProgressStepList& steps, const SettingsSummary& summary);

}  // namespace quillwave
