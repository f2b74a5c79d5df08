#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "common/functions.h"
#include "common/natural_order.h"
#include "common/run_frame.h"
#include "support/faulty_filesystem.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quorvane {
namespace {

using testing::CaptionTo;
using testing::FaultyFileSystem;
using testing::Msg;
using testing::Pointer;
using testing::RecordingUi;
using testing::TempDir;

class FunctionsTest : public ::testing::Test {
 protected:
  TempDir dir;
  RecordingUi ui;
  FileSystem& fs = SystemFileSystem();
};

TEST_F(FunctionsTest, FileListHoldsOnlyNormalFilesInNaturalOrder) {
  for (const char* name : {"b10.txt", "b9.txt", "B1.txt", ".hidden.txt", "note.md",
                           "中文 名.txt", "-leading.txt"})
    dir.Write(name, "x");
  dir.Write("gbk\xd6\xd0\xce\xc4.txt", "x");  // not UTF-8: listed all the same
  dir.MakeFolder("folder.txt");
  ::symlink((dir / "b9.txt").c_str(), (dir / "link.txt").c_str());
  ::symlink((dir / "gone").c_str(), (dir / "broken.txt").c_str());
  ::mkfifo((dir / "pipe.txt").c_str(), 0600);

  const NameList names = GetFileList(fs, ui, dir.path() + "/*.txt");
  ASSERT_TRUE(names);
  EXPECT_EQ(*names, (Names{"-leading.txt", "B1.txt", "b9.txt", "b10.txt",
                           "gbk\xd6\xd0\xce\xc4.txt", "link.txt", "中文 名.txt"}));
  EXPECT_TRUE(ui.events.empty());
}

TEST_F(FunctionsTest, FileListWildcards) {
  for (const char* name : {"a1.txt", "a22.txt", "中.txt", "a1.TXT"}) dir.Write(name, "");
  EXPECT_EQ(*GetFileList(fs, ui, dir.path() + "/a?.txt"), (Names{"a1.txt"}));
  EXPECT_EQ(*GetFileList(fs, ui, dir.path() + "/?.txt"), (Names{"中.txt"}));
  EXPECT_EQ(*GetFileList(fs, ui, dir.path() + "/a[12]*.txt"), (Names{"a1.txt", "a22.txt"}));
  EXPECT_TRUE(GetFileList(fs, ui, dir.path() + "/*.none")->empty());
}

TEST_F(FunctionsTest, FileListOfAMissingFolderIsEmptyAndAFailureIsReported) {
  EXPECT_EQ(GetFileList(fs, ui, dir.path() + "/missing/*.txt"), NameList(Names{}));
  EXPECT_TRUE(ui.events.empty());
  FaultyFileSystem faulty(fs);
  faulty.FailWhen(FaultyFileSystem::Op::MatchFiles, dir.path(), EIO);
  EXPECT_FALSE(GetFileList(faulty, ui, dir.path() + "/*.txt"));
  EXPECT_EQ(ui.Messages(), (std::vector<testing::UiEvent>{Msg(
                               "系统错误：无法读取目录“" + dir.path() + "/”：输入/输出错误",
                               Icon::Error)}));
}

TEST_F(FunctionsTest, FolderListIsLevelOrder) {
  for (const char* sub : {"A/B/D", "A/C/E", "A/.hidden"}) dir.MakeFolder(sub);
  dir.Write("A/file", "");
  ::symlink((dir / "A").c_str(), (dir / "A/C/loop").c_str());  // never followed
  const std::string a = dir / "A";
  EXPECT_EQ(*GetFolderList(fs, ui, a, true),
            (Names{a + "/", a + "/.hidden/", a + "/B/", a + "/C/", a + "/B/D/", a + "/C/E/"}));
  EXPECT_EQ(*GetFolderList(fs, ui, a + "/", false),
            (Names{a + "/", a + "/.hidden/", a + "/B/", a + "/C/"}));
  EXPECT_EQ(*GetFolderList(fs, ui, a + "/B/D", true), (Names{a + "/B/D/"}));
  EXPECT_EQ(GetFolderList(fs, ui, "/", false)->front(), "/");
  EXPECT_TRUE(ui.events.empty());
}

// A disk whose top folder holds more subfolders than a 16-bit counter can count.
class CrowdedFileSystem final : public FaultyFileSystem {
 public:
  using FaultyFileSystem::FaultyFileSystem;
  bool FolderExists(const std::string&) override { return true; }
  bool SubFolders(const std::string& folder, std::vector<std::string>* names,
                  std::string*) override {
    if (folder == "/top/")
      for (int i = 0; i < 70000; ++i) names->push_back(std::to_string(i));
    return true;
  }
};

TEST_F(FunctionsTest, FolderListHasNoFixedLimit) {
  CrowdedFileSystem crowded(fs);
  const NameList list = GetFolderList(crowded, ui, "/top", true);
  ASSERT_EQ(list->size(), 70001u);
  EXPECT_EQ(list->back(), "/top/69999/");
}

TEST_F(FunctionsTest, FolderListFailures) {
  EXPECT_FALSE(GetFolderList(fs, ui, dir / "missing", true));
  EXPECT_EQ(ui.Messages().back(),
            Msg("找不到目录“" + dir.path() + "/missing”：没有那个文件或目录", Icon::Error,
                Buttons::Ok, "系统错误"));

  dir.MakeFolder("top/locked/deep");
  FaultyFileSystem faulty(fs);
  faulty.FailWhen(FaultyFileSystem::Op::SubFolders, "locked", EACCES);
  // A deep walk leaves out what it cannot read; a shallow one reports it.
  EXPECT_EQ(GetFolderList(faulty, ui, dir / "top", true)->size(), 2u);
  EXPECT_EQ(ui.Messages().size(), 1u);
  EXPECT_FALSE(GetFolderList(faulty, ui, dir / "top/locked", false));
  EXPECT_EQ(ui.Messages().back().text, "无法读取目录“" + dir.path() + "/top/locked/”：权限不够");
  EXPECT_EQ(ui.Messages().back().title, "系统错误");
}

TEST_F(FunctionsTest, CreatePathMakesEveryMissingLevelAndKeepsThemAfterAFailure) {
  std::string target = dir / "x/y";
  CreatePath(fs, ui, target);
  EXPECT_EQ(target, dir / "x/y/");
  EXPECT_TRUE(fs.FolderExists(dir / "x/y"));
  CreatePath(fs, ui, target);  // already there: nothing to do, nothing to say
  EXPECT_TRUE(ui.events.empty());

  FaultyFileSystem faulty(fs);
  faulty.FailWhen(FaultyFileSystem::Op::CreateFolder, "/b/", ENOSPC);
  target = dir / "a/b/c";
  CreatePath(faulty, ui, target);
  EXPECT_TRUE(fs.FolderExists(dir / "a"));
  EXPECT_FALSE(fs.FolderExists(dir / "a/b"));
  EXPECT_EQ(ui.Messages(), (std::vector<testing::UiEvent>{Msg(
                               "系统错误：无法创建目录“" + dir / "a/b/" + "”：磁盘空间不足",
                               Icon::Error)}));
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
