#include "ui/progress_layout.h"

#include <algorithm>
#include <initializer_list>

namespace quillwave {
namespace {

constexpr int kTextLeft = 16;
constexpr int kTextRight = 444;
constexpr int kMarkLeft = 18;
constexpr int kLabelLeft = 40;
constexpr int kFirstStepTop = 72;
constexpr int kStepPitch = 22;
constexpr int kRowPitch = 16;

// Long summaries are cut off below rather than pushing the window off screen.
int MaxWindowHeight(int screen_height) { return screen_height * 80 / 100; }

// The picture is laid out in 96-dpi lengths; `Add` scales each rectangle
// as a whole, so neighbouring boxes stay exactly adjacent at every dpi.
struct Painter {
  int dpi;
  ProgressPicture picture;

  int Px(int length) const { return ScaleForDpi(length, dpi); }

  void Add(std::wstring text, FontRole font, Rgb colour, int left, int top, int right, int bottom,
           bool right_aligned = false, bool end_ellipsis = false) {
    picture.texts.push_back(
        {std::move(text), font, colour, Px(left), Px(top), Px(right), Px(bottom), right_aligned, end_ellipsis});
  }

  // The marks' strokes, in 96-dpi offsets from the top left of a 20-pixel
  // box; each is about 10 pixels across, centred where a glyph of the step
  // font would stand.
  void AddMark(const StepMark& mark, int top) {
    MarkShape shape{mark.colour, Px(kMarkLeft), Px(top), Px(kMarkLeft + 20), Px(top + 20), {}};
    const auto stroke = [&](std::initializer_list<Point> offsets, int line_width) {
      MarkStroke scaled{{}, Px(line_width)};
      for (const Point& offset : offsets) scaled.points.push_back({Px(kMarkLeft + offset.x), Px(top + offset.y)});
      shape.strokes.push_back(std::move(scaled));
    };
    switch (mark.kind) {
      case MarkKind::kCross:
        stroke({{3, 5}, {11, 13}}, 2);
        stroke({{11, 5}, {3, 13}}, 2);
        break;
      case MarkKind::kCheck:
        stroke({{2, 9}, {6, 13}, {13, 5}}, 2);
        break;
      case MarkKind::kHourglass:
        stroke({{2, 3}, {12, 3}, {8, 9}, {12, 15}, {2, 15}, {6, 9}}, 0);
        break;
    }
    picture.marks.push_back(std::move(shape));
  }

  // `left_out` entries stand behind the list's last row, "… N more".
  void AddSection(int& y, const wchar_t* heading, const std::vector<SummaryRow>& rows, std::size_t left_out) {
    const std::size_t entries = left_out > 0 ? rows.size() - 1 + left_out : rows.size();
    Add(SectionHeading(heading, entries), FontRole::kSmall, kSecondaryTextColour, kTextLeft, y, kTextRight, y + 18);
    y += 18;
    for (const SummaryRow& row : rows) {
      Add(row.label + L"  " + row.value, FontRole::kMono, kRowsColour, kMarkLeft, y, kTextRight, y + kRowPitch, false,
          true);
      y += kRowPitch;
    }
  }
};

const wchar_t* StateWord(StepState state) {
  switch (state) {
    case StepState::kDone:
      return L"done";
    case StepState::kFailed:
      return L"failed";
    case StepState::kPending:
      break;
  }
  return L"pending";
}

}  // namespace

int ScaleForDpi(int length, int dpi) { return (length * dpi + kBaseDpi / 2) / kBaseDpi; }

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
                                        int screen_height, int dpi) {
  const int width = ScaleForDpi(kWindowWidth, dpi);
  const int height =
      std::min(ScaleForDpi(RequestedWindowHeight(override_rows, switch_rows), dpi), MaxWindowHeight(screen_height));
  return {(screen_width - width) / 2, (screen_height - height) / 2, width, height};
}

std::size_t SummaryRowsShown(int screen_height) {
  const int room = MaxWindowHeight(screen_height) - RequestedWindowHeight(1, 0);
  return 1 + static_cast<std::size_t>(std::max(0, room / kRowPitch));
}

StepMark MarkFor(const ProgressStep& step) {
  if (step.state == StepState::kFailed) return {MarkKind::kCross, kFailureColour};
  if (step.state == StepState::kDone) return {MarkKind::kCheck, kDoneColour};
  return {MarkKind::kHourglass, kPendingColour};
}

std::wstring SectionHeading(std::wstring_view heading, std::size_t count) {
  std::wstring text = std::wstring(heading) + L" (" + std::to_wstring(count) + L")";
  if (text.size() > 95) text.resize(95);  // the window's 96-unit buffer
  return text;
}

ProgressPicture LayoutProgressWindow(const ProgressStepList& steps, const SettingsSummary& summary,
                                     const TextMeasure& measure, int dpi) {
  Painter paint{dpi, {}};
  paint.Add(kHeadlineText, FontRole::kHeadline, kPrimaryTextColour, kTextLeft, 14, kTextRight, 40);
  paint.Add(kSubtitleText, FontRole::kSmall, kSecondaryTextColour, kTextLeft, 38, kTextRight, 58);
  int y = kFirstStepTop;
  for (const ProgressStep& step : steps) {
    paint.AddMark(MarkFor(step), y);
    paint.Add(step.label, FontRole::kStep, kPrimaryTextColour, kLabelLeft, y, kTextRight, y + 20);
    // The detail never covers its label: it gets the room right of the
    // label's end and the gap, and a long one is cut there.
    const int label_end = paint.Px(kLabelLeft) + std::max(0, measure(FontRole::kStep, step.label));
    const int detail_left = label_end + paint.Px(kDetailGap);
    if (!step.detail.empty() && detail_left < paint.Px(kTextRight)) {
      paint.picture.texts.push_back({step.detail, FontRole::kSmall,
                                     step.state == StepState::kFailed ? kFailureColour : kSecondaryTextColour,
                                     detail_left, paint.Px(y), paint.Px(kTextRight), paint.Px(y + 20), true, true});
    }
    y += kStepPitch;
  }
  if (summary.overrides.empty() && summary.switches.empty()) return std::move(paint.picture);
  y += 12;
  if (!summary.overrides.empty()) paint.AddSection(y, kOverridesHeading, summary.overrides, summary.overrides_left_out);
  if (!summary.switches.empty()) {
    if (!summary.overrides.empty()) y += 6;
    paint.AddSection(y, kSwitchesHeading, summary.switches, summary.switches_left_out);
  }
  return std::move(paint.picture);
}

std::vector<AccessibleItem> AccessibleProgress(const ProgressStepList& steps) {
  std::vector<AccessibleItem> items{{kHeadlineText, kSubtitleText}};
  for (const ProgressStep& step : steps) {
    std::wstring description = StateWord(step.state);
    if (!step.detail.empty()) description += L", " + step.detail;
    items.push_back({step.label, std::move(description)});
  }
  return items;
}

Rect AccessibleItemBox(std::size_t index, int dpi) {
  const auto scaled = [dpi](int left, int top, int right, int bottom) {
    return Rect{ScaleForDpi(left, dpi), ScaleForDpi(top, dpi), ScaleForDpi(right, dpi), ScaleForDpi(bottom, dpi)};
  };
  if (index == 0) return scaled(kTextLeft, 14, kTextRight, 58);
  const int top = kFirstStepTop + kStepPitch * static_cast<int>(index - 1);
  return scaled(kMarkLeft, top, kTextRight, top + 20);
}

}  // namespace quillwave
