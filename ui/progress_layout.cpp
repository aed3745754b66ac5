#include "ui/progress_layout.h"

#include <algorithm>

namespace quillwave {
namespace {

constexpr int kTextLeft = 16;
constexpr int kTextRight = 444;
constexpr int kFirstStepTop = 72;
constexpr int kStepPitch = 22;
constexpr int kRowPitch = 16;

// Long summaries are cut off below rather than pushing the window off screen.
int MaxWindowHeight(int screen_height) { return screen_height * 80 / 100; }

// `left_out` entries stand behind the list's last row, "… N more".
void AddSection(std::vector<TextRun>& runs, int& y, const wchar_t* heading, const std::vector<SummaryRow>& rows,
                std::size_t left_out) {
  const std::size_t entries = left_out > 0 ? rows.size() - 1 + left_out : rows.size();
  runs.push_back(
      {SectionHeading(heading, entries), FontRole::kSmall, kSecondaryTextColour, kTextLeft, y, kTextRight, y + 18});
  y += 18;
  for (const SummaryRow& row : rows) {
    runs.push_back(
        {row.label + L"  " + row.value, FontRole::kMono, kRowsColour, 18, y, kTextRight, y + 16, false, true});
    y += 16;
  }
}

}  // namespace

FontSpec FontFor(FontRole role) {
  switch (role) {
    case FontRole::kHeadline:
      return {L"Segoe UI", 20, 600, false};
    case FontRole::kStep:
      return {L"Segoe UI", 16, 400, false};
    case FontRole::kSmall:
      return {L"Segoe UI", 13, 400, false};
    case FontRole::kMono:
      break;
  }
  return {L"Consolas", 12, 400, true};
}

int RequestedWindowHeight(std::size_t override_rows, std::size_t switch_rows) {
  if (override_rows == 0 && switch_rows == 0) return 240;
  int height = 264;
  if (override_rows > 0) height += 18 + 16 * static_cast<int>(override_rows);
  if (switch_rows > 0) height += 18 + 16 * static_cast<int>(switch_rows);
  if (override_rows > 0 && switch_rows > 0) height += 6;
  return height;
}

WindowPlacement ProgressWindowPlacement(std::size_t override_rows, std::size_t switch_rows, int screen_width,
                                        int screen_height) {
  const int height = std::min(RequestedWindowHeight(override_rows, switch_rows), MaxWindowHeight(screen_height));
  return {(screen_width - kWindowWidth) / 2, (screen_height - height) / 2, kWindowWidth, height};
}

std::size_t SummaryRowsShown(int screen_height) {
  const int room = MaxWindowHeight(screen_height) - RequestedWindowHeight(1, 0);
  return 1 + static_cast<std::size_t>(std::max(0, room / kRowPitch));
}

StepMark MarkFor(const ProgressStep& step) {
  if (step.state == StepState::kFailed) return {L"\u00D7", kFailureColour};
  if (step.state == StepState::kDone) return {L"\u2713", kDoneColour};
  return {L"\u23F3", kPendingColour};
}

std::wstring SectionHeading(std::wstring_view heading, std::size_t count) {
  std::wstring text = std::wstring(heading) + L" (" + std::to_wstring(count) + L")";
  if (text.size() > 95) text.resize(95);  // the window's 96-unit buffer
  return text;
}

std::vector<TextRun> LayoutProgressWindow(const ProgressStepList& steps, const SettingsSummary& summary) {
  std::vector<TextRun> runs;
  runs.push_back({kHeadlineText, FontRole::kHeadline, kPrimaryTextColour, kTextLeft, 14, kTextRight, 40});
  runs.push_back({kSubtitleText, FontRole::kSmall, kSecondaryTextColour, kTextLeft, 38, kTextRight, 58});
  int y = kFirstStepTop;
  for (const ProgressStep& step : steps) {
    const StepMark mark = MarkFor(step);
    runs.push_back({mark.glyph, FontRole::kStep, mark.colour, 18, y, 38, y + 20});
    runs.push_back({step.label, FontRole::kStep, kPrimaryTextColour, 40, y, kTextRight, y + 20});
    if (!step.detail.empty()) {
      // Shares the label's line, right-aligned; a long detail may run over the label.
      runs.push_back({step.detail, FontRole::kSmall,
                      step.state == StepState::kFailed ? kFailureColour : kSecondaryTextColour, 40, y, kTextRight,
                      y + 20, true, true});
    }
    y += kStepPitch;
  }
  if (summary.overrides.empty() && summary.switches.empty()) return runs;
  y += 12;
  if (!summary.overrides.empty()) AddSection(runs, y, kOverridesHeading, summary.overrides, summary.overrides_left_out);
  if (!summary.switches.empty()) {
    if (!summary.overrides.empty()) y += 6;
    AddSection(runs, y, kSwitchesHeading, summary.switches, summary.switches_left_out);
  }
  return runs;
}

}  // namespace quillwave
