#include "ui/progress_layout.h"

#include <gtest/gtest.h>

namespace quillwave {
namespace {

std::vector<SummaryRow> Rows(std::size_t count) { return std::vector<SummaryRow>(count, SummaryRow{L"key", L"value"}); }

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
}

TEST(ProgressWindowMarks, OneMarkPerState) {
  const auto mark = [](StepState state) { return MarkFor(ProgressStep{L"", L"", state}); };
  EXPECT_EQ(std::wstring(mark(StepState::kFailed).glyph), L"\u00D7");
  EXPECT_EQ(mark(StepState::kFailed).colour, kFailureColour);
  EXPECT_EQ(std::wstring(mark(StepState::kDone).glyph), L"\u2713");
  EXPECT_EQ(mark(StepState::kDone).colour, kDoneColour);
  EXPECT_EQ(std::wstring(mark(StepState::kPending).glyph), L"\u23F3");
  EXPECT_EQ(mark(StepState::kPending).colour, kPendingColour);
}

TEST(ProgressWindowLayout, SectionHeadingsCountTheirRowsAndFitTheBuffer) {
  EXPECT_EQ(SectionHeading(kOverridesHeading, 3), L"Active overrides (3)");
  EXPECT_EQ(SectionHeading(std::wstring(200, L'x'), 1).size(), 95u);
}

TEST(ProgressWindowLayout, WithoutSummaryOnlyHeadlineSubtitleAndSteps) {
  std::array<ProgressStep, 4> steps{};
  steps[1].detail = L"203.0.113.7";
  steps[1].state = StepState::kDone;
  const auto runs = LayoutProgressWindow(steps, SettingsSummary{});
  ASSERT_EQ(runs.size(), 2u + 8u + 1u);
  EXPECT_EQ(runs[0].text, L"Preparing Quill Wave");
  EXPECT_EQ(runs[1].text, L"Auto-detecting persona settings\u2026");
  const TextRun& detail = runs[6];  // headline, subtitle, mark+label of step 0, mark+label+detail of step 1
  EXPECT_EQ(detail.text, L"203.0.113.7");
  EXPECT_EQ(detail.colour, kSecondaryTextColour);
  EXPECT_EQ((std::array{detail.left, detail.top, detail.right, detail.bottom}), (std::array{40, 94, 444, 114}));
  EXPECT_TRUE(detail.right_aligned && detail.end_ellipsis);
  EXPECT_EQ(runs.back().top, 72 + 3 * 22);
}

TEST(ProgressWindowLayout, SectionsStartAt172WithSixPixelsBetweenThem) {
  std::array<ProgressStep, 4> steps{};
  steps[2].detail = L"failed";
  steps[2].state = StepState::kFailed;
  SettingsSummary summary{Rows(3), Rows(2)};
  summary.overrides[0] = {L"auto-lang", L"true"};
  const auto runs = LayoutProgressWindow(steps, summary);
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
  EXPECT_EQ(LayoutProgressWindow(steps, summary)[headings[1] - runs.data()].text, L"Raw Chromium switches (11)");
  EXPECT_EQ(headings[1]->top, 172 + 18 + 3 * 16 + 6);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0]->text, L"auto-lang  true");
  EXPECT_EQ((std::array{rows[0]->left, rows[0]->top, rows[0]->right, rows[0]->bottom}),
            (std::array{18, 190, 444, 206}));
  EXPECT_EQ(rows[0]->colour, kRowsColour);
  EXPECT_TRUE(rows[0]->end_ellipsis);
}

}  // namespace
}  // namespace quillwave
