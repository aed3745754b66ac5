#include "ui/progress_layout.h"

#include <gtest/gtest.h>

namespace quillwave {
namespace {

std::vector<SummaryRow> Rows(std::size_t count) { return std::vector<SummaryRow>(count, SummaryRow{L"key", L"value"}); }

// A font in which every character is 7 pixels wide at 96 dpi.
TextMeasure SevenPixelsPerCharacter(int dpi) {
  return [dpi](FontRole, std::wstring_view text) { return ScaleForDpi(7 * static_cast<int>(text.size()), dpi); };
}

std::vector<TextRun> Texts(const ProgressStepList& steps, const SettingsSummary& summary) {
  return LayoutProgressWindow(steps, summary, SevenPixelsPerCharacter(kBaseDpi)).texts;
}

std::array<int, 4> Box(const TextRun& run) { return {run.left, run.top, run.right, run.bottom}; }

TEST(ProgressWindowGeometry, HeightFollowsTheSummaryAndIsCappedAtEightyPercent) {
  EXPECT_EQ(RequestedWindowHeight(0, 0), 240);
  EXPECT_EQ(RequestedWindowHeight(3, 0), 330);
  EXPECT_EQ(RequestedWindowHeight(0, 3), 330);
  EXPECT_EQ(RequestedWindowHeight(3, 2), 386);
  EXPECT_EQ(RequestedWindowHeight(60, 0), 1242);
  EXPECT_EQ(ProgressWindowPlacement(60, 0, 1920, 1080), (WindowPlacement{730, 108, 460, 864}));
  EXPECT_EQ(ProgressWindowPlacement(0, 0, 1920, 1080), (WindowPlacement{730, 420, 460, 240}));
  EXPECT_EQ(ProgressWindowPlacement(3, 2, 1366, 768), (WindowPlacement{453, 191, 460, 386}));
  // As many rows of one list as the capped height holds, and always one.
  EXPECT_EQ(SummaryRowsShown(1080), 36u);
  EXPECT_EQ(RequestedWindowHeight(36, 0), 858);
  EXPECT_EQ(SummaryRowsShown(300), 1u);
  // At 144 dpi the window is half as large again; the cap stays 80 % of the screen.
  EXPECT_EQ(ProgressWindowPlacement(3, 2, 2880, 1620, 144), (WindowPlacement{1095, 520, 690, 579}));
  EXPECT_EQ(ProgressWindowPlacement(60, 0, 3840, 2160, 192), (WindowPlacement{1460, 216, 920, 1728}));
}

TEST(ProgressWindowMarks, OneShapeInItsBoxPerState) {
  ProgressStepList steps{};
  steps[0].state = StepState::kFailed;
  steps[1].state = StepState::kDone;
  const struct {
    MarkKind kind;
    Rgb colour;
    std::size_t strokes;
  } kExpected[] = {{MarkKind::kCross, kFailureColour, 2},
                   {MarkKind::kCheck, kDoneColour, 1},
                   {MarkKind::kHourglass, kPendingColour, 1},
                   {MarkKind::kHourglass, kPendingColour, 1}};
  for (const int dpi : {96, 144, 192}) {
    const auto marks = LayoutProgressWindow(steps, {}, SevenPixelsPerCharacter(dpi), dpi).marks;
    ASSERT_EQ(marks.size(), 4u);
    for (std::size_t i = 0; i < marks.size(); ++i) {
      SCOPED_TRACE(testing::Message() << dpi << " dpi, step " << i);
      EXPECT_EQ(MarkFor(steps[i]).kind, kExpected[i].kind);
      EXPECT_EQ(marks[i].colour, kExpected[i].colour);
      const int top = 72 + 22 * static_cast<int>(i);
      EXPECT_EQ(
          (std::array{marks[i].left, marks[i].top, marks[i].right, marks[i].bottom}),
          (std::array{ScaleForDpi(18, dpi), ScaleForDpi(top, dpi), ScaleForDpi(38, dpi), ScaleForDpi(top + 20, dpi)}));
      ASSERT_EQ(marks[i].strokes.size(), kExpected[i].strokes);
      for (const MarkStroke& stroke : marks[i].strokes) {
        // Lines keep their width's half inside the box too.
        EXPECT_EQ(stroke.line_width, kExpected[i].kind == MarkKind::kHourglass ? 0 : ScaleForDpi(2, dpi));
        for (const Point& point : stroke.points) {
          EXPECT_GE(point.x - stroke.line_width / 2, marks[i].left);
          EXPECT_LE(point.x + stroke.line_width / 2, marks[i].right);
          EXPECT_GE(point.y - stroke.line_width / 2, marks[i].top);
          EXPECT_LE(point.y + stroke.line_width / 2, marks[i].bottom);
        }
      }
    }
  }
}

TEST(ProgressWindowLayout, SectionHeadingsCountTheirRowsAndFitTheBuffer) {
  EXPECT_EQ(SectionHeading(kOverridesHeading, 3), L"Active overrides (3)");
  EXPECT_EQ(SectionHeading(std::wstring(200, L'x'), 1).size(), 95u);
}

TEST(ProgressWindowLayout, WithoutSummaryOnlyHeadlineSubtitleAndSteps) {
  std::array<ProgressStep, 4> steps{};
  steps[1].detail = L"203.0.113.7";
  steps[1].state = StepState::kDone;
  steps[1].label = L"Discovering proxy egress IP";
  const auto runs = Texts(steps, SettingsSummary{});
  ASSERT_EQ(runs.size(), 2u + 4u + 1u);
  EXPECT_EQ(runs[0].text, L"Preparing Quill Wave");
  EXPECT_EQ(runs[1].text, L"Auto-detecting persona settings\u2026");
  const TextRun& detail = runs[4];  // headline, subtitle, label of step 0, label+detail of step 1
  EXPECT_EQ(detail.text, L"203.0.113.7");
  EXPECT_EQ(detail.colour, kSecondaryTextColour);
  // Right of the label's end (27 characters of 7 pixels) and the 12-pixel gap.
  EXPECT_EQ(Box(detail), (std::array{40 + 27 * 7 + 12, 94, 444, 114}));
  EXPECT_TRUE(detail.right_aligned && detail.end_ellipsis);
  EXPECT_EQ(runs.back().top, 72 + 3 * 22);
}

TEST(ProgressWindowLayout, SectionsStartAt172WithSixPixelsBetweenThem) {
  std::array<ProgressStep, 4> steps{};
  steps[2].detail = L"failed";
  steps[2].state = StepState::kFailed;
  SettingsSummary summary{Rows(3), Rows(2)};
  summary.overrides[0] = {L"auto-lang", L"true"};
  const auto runs = Texts(steps, summary);
  std::vector<const TextRun*> headings, rows;
  for (const auto& run : runs) {
    if (run.text.starts_with(L"Active") || run.text.starts_with(L"Raw")) headings.push_back(&run);
    if (run.font == FontRole::kMono) rows.push_back(&run);
    if (run.text == L"failed") {
      EXPECT_EQ(run.colour, kFailureColour);
    }
  }
  ASSERT_EQ(headings.size(), 2u);
  EXPECT_EQ(headings[0]->text, L"Active overrides (3)");
  EXPECT_EQ(headings[0]->top, 172);
  EXPECT_EQ(headings[1]->text, L"Raw Chromium switches (2)");
  // A last row "… N more" stands for N entries.
  summary.switches_left_out = 10;
  EXPECT_EQ(Texts(steps, summary)[headings[1] - runs.data()].text, L"Raw Chromium switches (11)");
  EXPECT_EQ(headings[1]->top, 172 + 18 + 3 * 16 + 6);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0]->text, L"auto-lang  true");
  EXPECT_EQ(Box(*rows[0]), (std::array{18, 190, 444, 206}));
  EXPECT_EQ(rows[0]->colour, kRowsColour);
  EXPECT_TRUE(rows[0]->end_ellipsis);
}

// A detail never covers its label: it keeps the room right of the label's
// end and the gap, the same right edge, and is cut there; with no room left
// it is not drawn.
TEST(ProgressWindowLayout, DetailKeepsRightOfItsLabel) {
  ProgressStepList steps{};
  for (std::size_t i = 0; i < steps.size(); ++i) steps[i].label = kProgressStepLabels[i];
  steps[1].detail = L"geo.primary.example failed \u2014 trying geoip.secondary.example\u2026";
  steps[1].state = StepState::kPending;
  steps[2].label = std::wstring(60, L'x');  // 420 pixels: ends past the gap's room
  steps[2].detail = L"none (passthrough)";
  const auto runs = Texts(steps, {});
  ASSERT_EQ(runs.size(), 2u + 4u + 1u);
  const TextRun& label = runs[3];
  const TextRun& detail = runs[4];
  EXPECT_EQ(detail.text, steps[1].detail);
  EXPECT_EQ(detail.left, label.left + 27 * 7 + kDetailGap);
  EXPECT_EQ(detail.right, 444);
  EXPECT_TRUE(detail.right_aligned && detail.end_ellipsis);
  EXPECT_EQ(runs[5].text, steps[2].label);
  EXPECT_EQ(runs[6].text, steps[3].label);
}

// Every rectangle of the 96-dpi layout, scaled; the measured label ends too.
TEST(ProgressWindowLayout, ScalesEveryRectangleWithTheDpi) {
  ProgressStepList steps{};
  for (std::size_t i = 0; i < steps.size(); ++i) steps[i].label = kProgressStepLabels[i];
  steps[1].detail = L"203.0.113.7";
  steps[2].detail = L"ip=203.0.113.7 tz=Europe/Berlin";
  const SettingsSummary summary{Rows(3), Rows(2)};
  const auto at_96 = Texts(steps, summary);
  for (const int dpi : {144, 192}) {
    SCOPED_TRACE(dpi);
    const auto scaled = LayoutProgressWindow(steps, summary, SevenPixelsPerCharacter(dpi), dpi).texts;
    ASSERT_EQ(scaled.size(), at_96.size());
    for (std::size_t i = 0; i < scaled.size(); ++i) {
      EXPECT_EQ(scaled[i].text, at_96[i].text);
      EXPECT_EQ(Box(scaled[i]), (std::array{ScaleForDpi(at_96[i].left, dpi), ScaleForDpi(at_96[i].top, dpi),
                                            ScaleForDpi(at_96[i].right, dpi), ScaleForDpi(at_96[i].bottom, dpi)}))
          << i;
    }
  }
}

TEST(ProgressWindowAccessibility, HeadlineThenEachStepWithStateAndDetail) {
  ProgressStepList steps{};
  for (std::size_t i = 0; i < steps.size(); ++i) steps[i].label = kProgressStepLabels[i];
  steps[0] = {steps[0].label, L"socks5://127.0.0.1:1080", StepState::kDone};
  steps[1] = {steps[1].label, L"BLOCKED: PROXY_TIMEOUT", StepState::kFailed};
  EXPECT_EQ(AccessibleProgress(steps),
            (std::vector<AccessibleItem>{{L"Preparing Quill Wave", L"Auto-detecting persona settings\u2026"},
                                         {L"Loading persona overlay", L"done, socks5://127.0.0.1:1080"},
                                         {L"Discovering proxy egress IP", L"failed, BLOCKED: PROXY_TIMEOUT"},
                                         {L"Applying anti-detect overrides", L"pending"},
                                         {L"Launching chrome.exe", L"pending"}}));
}

}  // namespace
}  // namespace quillwave
