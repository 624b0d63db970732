#include "ui/progress_display.hpp"

#include <gtest/gtest.h>

#include <string>

#include "ui/form.hpp"

namespace qmv {
namespace {

struct RoundRow {
  const char* name;
  double x;
  int64_t expected;
};

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  const RoundRow rows[] = {
      {"0.5 down to 0", 0.5, 0},
      {"1.5 up to 2", 1.5, 2},
      {"2.5 down to 2", 2.5, 2},
      {"12.5 down to 12", 12.5, 12},
      {"37.5 up to 38", 37.5, 38},
      {"62.5 down to 62", 62.5, 62},
      {"just below a half", 2.4999999, 2},
      {"just above a half", 2.5000001, 3},
      {"whole stays", 40.0, 40},
      {"-2.5 to -2", -2.5, -2},
      {"-1.5 to -2", -1.5, -2},
      {"-0.4 to 0", -0.4, 0},
      {"beyond 2^52 is whole", 9007199254740992.0, 9007199254740992},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(roundHalfEven(row.x), row.expected);
  }
}

struct PercentRow {
  const char* name;
  float value;
  float max;
  int64_t expected;
};

TEST(PercentOf, RoundsTheSinglePrecisionRatio) {
  const PercentRow rows[] = {
      {"1 of 8 is 12.5", 1, 8, 12},
      {"3 of 8 is 37.5", 3, 8, 38},
      {"3 of 5", 3, 5, 60},
      {"4 of 5", 4, 5, 80},
      {"all", 7, 7, 100},
      // 96346 * 100 / 131083 is 73.49999619 in double precision, but exactly 73.5 in
      // single precision, which rounds to the even 74; double arithmetic would give 73.
      {"single precision makes a half", 96346, 131083, 74},
      // 88.50000381 in double precision, 88.5 in single: the even 88, not 89.
      {"single precision makes a half below", 116012, 131087, 88},
      {"no maximum", 3, 0, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(percentOf(row.value, row.max), row.expected);
  }
}

TEST(PercentText, IsTheNumberFollowedBySpacePercent) {
  EXPECT_EQ(percentText(2, 5), u"40 %");
  EXPECT_EQ(percentText(1, 8), u"12 %");
  EXPECT_EQ(percentText(0, 5), u"0 %");
  EXPECT_EQ(percentText(5, 5), u"100 %");
}

class ProgressDisplayTest : public ::testing::Test {
 protected:
  Form form{"frmProgress"};
  Control& bar = form.add("ProgressBar1", ControlKind::ProgressBar);
  Control& label = form.add("lblPer", ControlKind::Label);
};

TEST_F(ProgressDisplayTest, ShowsTheStepAndItsPercentage) {
  ProgressDisplay progress(bar, label);
  progress.setMax(8);
  progress.show(3);
  EXPECT_FLOAT_EQ(bar.max(), 8);
  EXPECT_FLOAT_EQ(bar.value(), 3);
  EXPECT_EQ(label.caption(), u"38 %");
  progress.show(4);
  EXPECT_EQ(label.caption(), u"50 %");
}

TEST_F(ProgressDisplayTest, ShowsTheFullBarAtTheMaximum) {
  ProgressDisplay progress(bar, label);
  progress.setMax(4);
  progress.show(4);
  EXPECT_FLOAT_EQ(bar.value(), 4);
  EXPECT_EQ(label.caption(), u"100 %");
}

TEST_F(ProgressDisplayTest, RewritesALabelChangedBehindItsBack) {
  ProgressDisplay progress(bar, label);
  progress.setMax(5);
  progress.show(2);
  label.setCaption(u"0%");
  progress.show(2);
  EXPECT_EQ(label.caption(), u"40 %");
}

TEST_F(ProgressDisplayTest, ShowsThePercentageOfEveryStepAsWorkedOutAlone) {
  struct Row {
    const char* name;
    float max;
    float step;
  };
  const Row rows[] = {
      {"few cells", 7, 1},     {"two hundred", 200, 1}, {"an odd count", 65537, 1},
      {"half steps", 9, 0.5f}, {"a value run's", 3, 1}, {"past the maximum", 4, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ProgressDisplay progress(bar, label);
    progress.setMax(row.max);
    for (float value = 0; value <= row.max * 1.5f; value += row.step) {
      progress.show(value);
      ASSERT_EQ(label.caption(), percentText(value, row.max)) << value;
    }
    // A new maximum counts from the next step on.
    progress.setMax(row.max * 3);
    progress.show(row.max);
    EXPECT_EQ(label.caption(), percentText(row.max, row.max * 3));
  }
}

}  // namespace
}  // namespace qmv
