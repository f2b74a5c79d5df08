#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "common/functions.h"
#include "common/natural_order.h"
#include "common/path.h"
#include "common/run_frame.h"
#include "support/recording_ui.h"

namespace quorvane {
namespace {

using testing::CaptionTo;
using testing::Msg;
using testing::Pointer;
using testing::RecordingUi;

TEST(PathTest, SeparatorRules) {
  EXPECT_EQ(path::WithSeparator("/data"), "/data/");
  EXPECT_EQ(path::WithSeparator("/data/"), "/data/");
  EXPECT_EQ(path::WithSeparator("/"), "/");
  EXPECT_EQ(path::WithSeparator(""), "/");
  EXPECT_EQ(path::FolderPart("/out/all.txt"), "/out/");
  EXPECT_EQ(path::FolderPart("all.txt"), "");
  EXPECT_EQ(path::NamePart("/out/all.txt"), "all.txt");
  EXPECT_EQ(path::NamePart("/out/"), "");
  EXPECT_EQ(path::Trimmed("  \t a b  "), "a b");
  EXPECT_TRUE(path::Trimmed("   ").empty());
}

TEST(NaturalOrderTest, OrdersAsFileManagersDo) {
  std::vector<std::string> names = {"page10.txt", "Page2.txt", "page1.txt", "page02.txt",
                                    "a",          "B",         "中文.txt",  "page2.txt",
                                    "x99999999999999999999999", "x100000000000000000000000"};
  std::shuffle(names.begin(), names.end(), std::mt19937(7));
  std::sort(names.begin(), names.end(), NaturalLess);
  const std::vector<std::string> expected = {
      "a", "B", "page1.txt", "Page2.txt", "page02.txt", "page2.txt", "page10.txt",
      "x99999999999999999999999", "x100000000000000000000000", "中文.txt"};
  EXPECT_EQ(names, expected);
}

TEST(NaturalOrderTest, IsATotalOrder) {
  // Names that the natural rules call equal still get one fixed order from their bytes.
  EXPECT_NE(NaturalCompare("a1", "A01"), 0);
  EXPECT_EQ(NaturalCompare("a1", "A01"), -NaturalCompare("A01", "a1"));
  EXPECT_EQ(NaturalCompare("same", "same"), 0);
  EXPECT_LT(NaturalCompare("a", "a0"), 0);
}

TEST(AddZeroTest, PadsToWidthWithoutCutting) {
  EXPECT_EQ(AddZero(7, 3), "007");
  EXPECT_EQ(AddZero(1234, 3), "1234");
  EXPECT_EQ(AddZero(-5, 4), "00-5");
  EXPECT_EQ(AddZero(5, 0), "5");
  EXPECT_EQ(AddZero(5, -2), "5");
  EXPECT_EQ(AddZero(0, 1), "0");
}

TEST(ProgressCaptionTest, WholePercentages) {
  EXPECT_EQ(ProgressCaption("正在合并文件...", 0, 3), "正在合并文件...0%");
  EXPECT_EQ(ProgressCaption("正在合并文件...", 1, 3), "正在合并文件...33%");
  EXPECT_EQ(ProgressCaption("正在合并文件...", 2, 3), "正在合并文件...67%");
  EXPECT_EQ(ProgressCaption("正在合并文件...", 3, 3), "正在合并文件...100%");
  EXPECT_EQ(ProgressCaption("x", 1, 200000), "x0%");
}

TEST(RunFrameTest, ErrorReportAndThrownFailuresLeaveTheWindowAsItWas) {
  RecordingUi ui("批合并文件");
  RunFrame frame(ui);
  const RunOutcome outcome = frame.Guard([&]() -> RunOutcome {
    frame.Begin();
    frame.Progress("p", 0, 2);
    throw std::runtime_error("boom");
  });
  EXPECT_EQ(outcome, RunOutcome::Failed);
  EXPECT_EQ(ui.events, (std::vector<testing::UiEvent>{
                           Pointer(true), CaptionTo("p0%"), Pointer(false),
                           CaptionTo("批合并文件"), Msg("系统错误：boom", Icon::Error)}));
}

}  // namespace
}  // namespace quorvane
