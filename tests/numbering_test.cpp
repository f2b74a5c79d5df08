#include <gtest/gtest.h>

#include <climits>

#include "common/numbering.h"
#include "support/recording_ui.h"

namespace quorvane {
namespace {

using testing::FocusOn;
using testing::Msg;
constexpr auto kCreate = NumberingTask::Create;
constexpr auto kRename = NumberingTask::Rename;

TEST(NumberingTest, NumericTest) {
  for (const char* t : {"1", "-3", " 7 ", "+5", "007", "\t8"})
    EXPECT_TRUE(PassesNumericTest(t)) << t;
  for (const char* t : {"2.5", "1.0", "", "  ", "1e3", "&H10", "1,000", "- 3", "3-"})
    EXPECT_FALSE(PassesNumericTest(t)) << t;
}

TEST(NumberingTest, CheckOrderMessagesFocusAndWidth) {
  // A row without a message passes, with that width.
  const struct { NumberingTask task; const char *from, *to, *step; bool zero_fill;
                 const char *digits, *message, *focus; int width; } rows[] = {
      {kCreate, "2.5", "5", "1", false, "", "请输入整数！", "txtFrom", 0},
      {kCreate, "1", " ", "", false, "", "请输入整数！", "txtTo", 0},
      {kCreate, "007", "20", "1", true, "", "", "", 3},
      {kCreate, "-10", "10", "-1", true, "", "", "", 3},
      {kRename, "1", "", "x", true, "0", "位数只能是正整数！", "txtDigits", 0},
      {kRename, "1", "", "1", true, "2.0", "位数只能是正整数！", "txtDigits", 0},
      {kRename, "1", "", "x", false, "abc", "递增量只能是整数！", "", 0},
      {kRename, "1", "", " -00", false, "", "递增量不能为零！", "txtStep", 0},
      {kRename, "1", "", "-1", true, " 4", "", "", 4},
  };
  for (const auto& row : rows) {
    testing::RecordingUi ui;
    ui.texts = {{"txtFrom", row.from}, {"txtTo", row.to}, {"txtStep", row.step},
                {"txtDigits", row.digits}, {"txtPre", " a "}, {"txtSuf", "txt"}};
    ui.checks = {{"chkAddZero", row.zero_fill}, {"chkPre", true}};
    RunFrame frame(ui);
    NumberingSettings s;
    const bool ended = CheckNumbering(frame, row.task, &s).has_value();
    std::vector<testing::UiEvent> expected;
    if (*row.message) expected.push_back(Msg(row.message, Icon::Warning));
    if (*row.focus) expected.push_back(FocusOn(row.focus));
    EXPECT_EQ(ui.events, expected) << row.from << "|" << row.to << "|" << row.step;
    EXPECT_EQ(ended ? "" : s.prefix + "|" + s.suffix + "|" + std::to_string(s.width),
              ended ? "" : " a ||" + std::to_string(row.width));
  }
}

TEST(NumberingTest, RunsOfNumbersAndPercentages) {
  const struct { std::int32_t first, last, step; std::vector<std::int32_t> numbers;
                 std::vector<std::string> percentages; /* checked when given */ } rows[] = {
      {1, 10, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {}},
      {1, 10, 3, {1, 4, 7, 10}, {}},
      {1, 10, 4, {1, 5, 9}, {"0%", "44%", "89%"}},
      {10, 1, -1, {10, 9, 8, 7, 6, 5, 4, 3, 2, 1}, {}},
      {10, 1, -4, {10, 6, 2}, {}},
      {1, 10, -1, {}, {}},
      {10, 1, 1, {}, {}},
      {1, 10, 2, {1, 3, 5, 7, 9}, {"0%", "22%", "44%", "67%", "89%"}},
      {5, 5, 1, {5}, {"0%"}},
      {INT_MAX - 1, INT_MAX, 1, {INT_MAX - 1, INT_MAX}, {"0%", "100%"}},
  };
  for (const auto& row : rows) {
    NumberingSettings s;
    s.first = row.first, s.last = row.last, s.step = row.step;
    std::vector<std::int32_t> numbers;
    std::vector<std::string> percentages;
    for (long long i = 0; i < NumberCount(s); ++i) {
      numbers.push_back(NumberAt(s, i));
      percentages.push_back(ProgressPercentage(s, i));
    }
    EXPECT_EQ(numbers, row.numbers) << row.first << " to " << row.last << " by " << row.step;
    EXPECT_TRUE(row.percentages.empty() || percentages == row.percentages) << row.first;
  }
}

TEST(NumberingTest, NamesAndTheItemsTheyName) {
  NumberingSettings s;
  s.prefix = "a", s.suffix = "";  // a file name never ends in "."; a folder name keeps its dots
  EXPECT_EQ(MakeItemName(7, s, kFileNameSeparator) + MakeItemName(7, s, kFolderNameSeparator),
            "a7a7");
  s.suffix = "x..", s.zero_fill = true, s.width = 3;
  EXPECT_EQ(MakeItemName(-5, s, kFileNameSeparator), "a0-5.x");
  EXPECT_EQ(MakeItemName(-10, s, kFolderNameSeparator) + MakeItemName(5, s, kFolderNameSeparator),
            "a-10x..a005x..");

  // Which item a name in the folder is: 从 -10 到 10 by 5 gives a-10.x, a0-5.x, a000.x ...
  s.first = -10, s.last = 10, s.step = 5;
  for (const auto& [name, counter] : {std::pair{"a-10.x", 0}, {"a0-5.x", 1}, {"a000.x", 2},
                                      {"a010.x", 4}, {"a10.x", -1}, {"a001.x", -1}, {"a015.x", -1}})
    EXPECT_EQ(ItemCounter(name, s, kFileNameSeparator).value_or(-1), counter) << name;
}

}  // namespace
}  // namespace quorvane
