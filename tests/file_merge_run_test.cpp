#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "filetasks/file_merge_run.h"
#include "support/faulty_filesystem.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quorvane {
namespace {

using testing::CaptionTo;
using testing::FaultyFileSystem;
using testing::FocusOn;
using testing::Msg;
using testing::Pointer;
using testing::ReadAll;
using testing::RecordingUi;
using testing::TempDir;
using testing::UiEvent;
using Events = std::vector<UiEvent>;
using Op = FaultyFileSystem::Op;

// Compares large contents without printing megabytes: sizes and the first differing offset.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                       << ", first difference at byte " << at;
}

const UiEvent kDone = Msg("操作完成！", Icon::Information);
const UiEvent kCreate = Msg("目标文件不存在！是否创建？", Icon::Question, Buttons::YesNo);

class FileMergeRunTest : public ::testing::Test {
 public:
  FileMergeRunTest() : ui("批合并文件"), faulty(SystemFileSystem()) {
    ui.texts["txtSourcePath"] = dir / "src";
    ui.texts["txtSourceName"] = "*.txt";
    ui.texts["txtDestinationPath"] = dir / "out/all.txt";
    ui.selections["cboType"] = 0;
    dir.MakeFolder("src");
  }

  RunOutcome Run() { return RunFileMerge(faulty, ui); }
  std::string Destination() { return ReadAll(ui.texts["txtDestinationPath"]); }
  void Binary() {
    ui.selections["cboType"] = 1;
    ui.texts["txtSourceName"] = "*.bin";
  }

  TempDir dir;
  RecordingUi ui;
  FaultyFileSystem faulty;
};

struct RefusalCase {
  const char* name;
  std::function<void(FileMergeRunTest&)> setup;
  Events expected;
};

TEST_F(FileMergeRunTest, RefusalsInCheckOrder) {
  const std::vector<RefusalCase> cases = {
      {"blank source", [](auto& t) { t.ui.texts["txtSourcePath"] = "  "; },
       {Msg("请输入源文件所在目录！", Icon::Warning), FocusOn("txtSourcePath")}},
      {"source with a leading blank",
       [](auto& t) { t.ui.texts["txtSourcePath"] = " " + t.dir.path(); },
       {Msg("源文件目录不存在！", Icon::Warning), FocusOn("txtSourcePath")}},
      {"blank destination", [](auto& t) { t.ui.texts["txtDestinationPath"] = " "; },
       {Msg("请输入目标文件完整的路径！", Icon::Warning), FocusOn("txtDestinationPath")}},
      {"missing destination, answered No", [](auto&) {},
       {kCreate, FocusOn("txtDestinationPath")}},
      {"word mode", [](auto& t) { t.ui.selections["cboType"] = 2; },
       {Msg("Word文档方式在本版本中尚不可用，没有合并任何文件。", Icon::Warning),
        FocusOn("cboType")}},
      {"excel mode", [](auto& t) { t.ui.selections["cboType"] = 3; },
       {Msg("Excel文件方式在本版本中尚不可用，没有合并任何文件。", Icon::Warning),
        FocusOn("cboType")}},
  };
  for (const auto& c : cases) {
    FileMergeRunTest& t = *this;
    t.ui.events.clear();
    t.ui.texts["txtSourcePath"] = dir / "src";
    t.ui.texts["txtDestinationPath"] = dir / "out/all.txt";
    t.ui.selections["cboType"] = 0;
    c.setup(t);
    EXPECT_EQ(Run(), RunOutcome::Refused) << c.name;
    EXPECT_EQ(ui.events, c.expected) << c.name;
    EXPECT_FALSE(SystemFileSystem().FolderExists(dir / "out")) << c.name;
  }
}

TEST_F(FileMergeRunTest, TooFewFilesLeaveTheCreatedDestinationEmpty) {
  ui.answers = {Answer::Yes};
  dir.Write("src/only.bin", "x");
  EXPECT_EQ(Run(), RunOutcome::Refused);
  EXPECT_EQ(ui.events,
            (Events{kCreate, Pointer(true), Pointer(false),
                    Msg("没有符合条件的文件存在，请重新设置文件类型和源文件名！", Icon::Warning)}));
  EXPECT_EQ(Destination(), "");

  ui.events.clear();
  dir.Write("src/a.txt", "a");
  EXPECT_EQ(Run(), RunOutcome::Refused);
  EXPECT_EQ(ui.events,
            (Events{Pointer(true), Pointer(false),
                    Msg("只有一个文件（a.txt）符合条件，不需要合并！", Icon::Warning)}));
  EXPECT_EQ(Destination(), "");
}

TEST_F(FileMergeRunTest, CreatesTheMissingDestinationAndShowsProgress) {
  ui.answers = {Answer::Yes};
  ui.texts["txtSourcePath"] = dir / "src/";  // a final separator is not doubled
  ui.texts["txtDestinationPath"] = dir / "new/deeper/all.txt";
  dir.Write("src/1.txt", "one\r\n");
  dir.Write("src/2.txt", "two\r\n");
  dir.Write("src/10.txt", "ten\r\n");
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(ui.events, (Events{kCreate, Pointer(true), CaptionTo("正在合并文件...0%"),
                               CaptionTo("正在合并文件...33%"), CaptionTo("正在合并文件...67%"),
                               CaptionTo("正在合并文件...100%"), Pointer(false), kDone,
                               CaptionTo("批合并文件")}));
  EXPECT_EQ(Destination(), "one\r\ntwo\r\nten\r\n");
  EXPECT_EQ(faulty.opened_for_reading(),
            (std::vector<std::string>{dir / "src/1.txt", dir / "src/2.txt", dir / "src/10.txt"}));
}

TEST_F(FileMergeRunTest, TextModeKeepsEveryLineByteForByte) {
  dir.Write("out/all.txt", std::string(5000, 'o'));  // an older, longer destination
  dir.Write("src/01 crlf.txt", "one,two\r\n  \"x, y\"\r\n");
  dir.Write("src/02 lf.txt", "lf line\n\nafter empty\n");
  dir.Write("src/03 empty.txt", "");
  dir.Write("src/04 no end.txt", "no final end");
  dir.Write("src/05 bom.txt", "\xEF\xBB\xBF第五\n");
  dir.Write("src/06 gbk\xd6\xd0.txt", "\xd6\xd0\xce\xc4\r\nlone\rcr\r");
  dir.Write("src/07 blank lines.txt", "\n\r\n");
  std::string longest = "08";  // a 255-byte name, the most a Linux file system allows
  for (int i = 0; i < 83; ++i) longest += "长";
  dir.Write("src/" + longest + ".txt", "255");
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(Destination(),
            "one,two\r\n  \"x, y\"\r\n"
            "lf line\r\n\r\nafter empty\r\n"
            "no final end\r\n"
            "第五\r\n"
            "\xd6\xd0\xce\xc4\r\nlone\rcr\r\r\n"
            "\r\n\r\n"
            "255\r\n");
}

TEST_F(FileMergeRunTest, TextModeKeepsTheFirstSourcesMarkAndHandlesLinesAcrossBlocks) {
  // Several megabytes, with a CR LF split over the 1 MiB read boundary and a 3 MB line.
  const std::string run((1 << 20) - 9, 'a');
  const std::string first = "\xEF\xBB\xBFhead\n" + run + "\r\nnext\n";  // CR ends block one
  const std::string long_line(3'000'000, 'z');
  dir.Write("out/all.txt", "");
  dir.Write("src/a.txt", first);
  dir.Write("src/b.txt", long_line);
  EXPECT_EQ(Run(), RunOutcome::Completed);
  std::string expected = "\xEF\xBB\xBFhead\r\n" + run + "\r\nnext\r\n";
  expected += long_line + "\r\n";
  EXPECT_TRUE(SameBytes(Destination(), expected));
}

TEST_F(FileMergeRunTest, BinaryModeAppendsExactBytesAndCutsAnOlderDestination) {
  Binary();
  std::mt19937 random(42);
  std::string big(5'000'000, 0);
  for (auto& c : big) c = static_cast<char>(random());
  dir.Write("out/all.txt", std::string(20'000'000, 'o'));
  dir.Write("src/1.bin", "abc");
  dir.Write("src/2.bin", "");
  dir.Write("src/3.bin", std::string("\0\r\n\xff\x1a", 5));
  dir.Write("src/4 大文件 \xb4\xf3.bin", big);  // a Chinese and a non-UTF-8 name
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_TRUE(SameBytes(Destination(), "abc" + std::string("\0\r\n\xff\x1a", 5) + big));
  EXPECT_EQ(ui.Captions().back(), "批合并文件");
}

TEST_F(FileMergeRunTest, TheDestinationIsNeverOneOfItsSources) {
  ui.texts["txtDestinationPath"] = dir / "src/./merged.txt";  // another text, the same file
  dir.Write("src/merged.txt", "old merge\n");
  dir.Write("src/a.txt", "a\n");
  dir.Write("src/b.txt", "b\n");
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(Destination(), "a\r\nb\r\n");

  // A second name for the destination is met when it is opened, and never read.
  ::symlink((dir / "src/merged.txt").c_str(), (dir / "src/link.txt").c_str());
  ::link((dir / "src/merged.txt").c_str(), (dir / "src/hard.txt").c_str());
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(Destination(), "a\r\nb\r\n");

  ui.events.clear();
  for (const char* name : {"src/b.txt", "src/link.txt", "src/hard.txt"})
    ::unlink((dir / name).c_str());
  EXPECT_EQ(Run(), RunOutcome::Refused);
  EXPECT_EQ(ui.Messages().back(),
            Msg("只有一个文件（a.txt）符合条件，不需要合并！", Icon::Warning));
}

TEST_F(FileMergeRunTest, APatternWithAFolderReadsTheFilesItListed) {
  dir.Write("out/all.txt", "");
  dir.Write("src/a.txt", "outer a\n");
  dir.Write("src/sub/a.txt", "inner a\n");
  dir.Write("src/sub/b.txt", "inner b\n");
  ui.texts["txtSourceName"] = "sub/*.txt";
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(Destination(), "inner a\r\ninner b\r\n");
}

struct FaultCase {
  const char* name;
  Op op;
  const char* path_part;
  int error_number;
  long long after_bytes;
  const char* expected_message;  // with %s for the test folder
  const char* expected_content;
};

TEST_F(FileMergeRunTest, FaultsAreReportedWithThePathAndCloseEverything) {
  dir.Write("out/all.txt", "");
  dir.Write("src/1.txt", "first\n");
  dir.Write("src/2.txt", "second\n");
  dir.Write("src/3.txt", "third\n");
  const std::vector<FaultCase> cases = {
      {"refused open", Op::OpenRead, "2.txt", EACCES, 0,
       "系统错误：无法打开文件“%s/src/2.txt”：权限不够", "first\r\n"},
      {"vanished source", Op::OpenRead, "3.txt", ENOENT, 0,
       "系统错误：无法打开文件“%s/src/3.txt”：没有那个文件或目录", "first\r\nsecond\r\n"},
      {"read fault", Op::Read, "2.txt", EIO, 3,
       "系统错误：无法读取文件“%s/src/2.txt”：输入/输出错误", "first\r\nsec"},
      {"disk full", Op::Write, "all.txt", ENOSPC, 4,
       "系统错误：无法写入文件“%s/out/all.txt”：磁盘空间不足", "firs"},
      {"destination refused", Op::OpenWrite, "all.txt", EROFS, 0,
       "系统错误：无法打开文件“%s/out/all.txt”：只读文件系统", "stale"},
      {"close fault", Op::Close, "all.txt", EIO, 0,
       "系统错误：无法写入文件“%s/out/all.txt”：输入/输出错误",
       "first\r\nsecond\r\nthird\r\n"},
  };
  for (int mode : {0, 1}) {
    for (const auto& c : cases) {
      FaultyFileSystem fs(SystemFileSystem());
      fs.FailWhen(c.op, c.path_part, c.error_number, c.after_bytes);
      RecordingUi run_ui("批合并文件");
      run_ui.texts = ui.texts;
      run_ui.selections["cboType"] = mode;
      dir.Write("out/all.txt", "stale");
      EXPECT_EQ(RunFileMerge(fs, run_ui), RunOutcome::Failed) << c.name;
      std::string message = c.expected_message;
      message.replace(message.find("%s"), 2, dir.path());
      EXPECT_EQ(run_ui.Messages(), (Events{Msg(message, Icon::Error)})) << c.name;
      EXPECT_EQ(fs.open_files(), 0) << c.name;
      EXPECT_EQ(run_ui.Captions().back(), "批合并文件") << c.name;
      EXPECT_EQ(run_ui.events[run_ui.events.size() - 3], Pointer(false)) << c.name;
      if (mode == 0) {
        EXPECT_EQ(Destination(), c.expected_content) << c.name;
      }
    }
  }
}

TEST_F(FileMergeRunTest, BinaryFaultKeepsWhatWasWritten) {
  Binary();
  dir.Write("out/all.txt", "");
  dir.Write("src/1.bin", "12345");
  dir.Write("src/2.bin", "67890");
  faulty.FailWhen(Op::Read, "2.bin", EIO, 2);
  EXPECT_EQ(Run(), RunOutcome::Failed);
  EXPECT_EQ(Destination(), "1234567");
  EXPECT_EQ(faulty.open_files(), 0);
}

TEST_F(FileMergeRunTest, ListAndCreationFailuresEndInTheErrorReport) {
  ui.answers = {Answer::Yes};
  faulty.FailWhen(Op::CreateTextFile, "all.txt", ENOSPC);
  EXPECT_EQ(Run(), RunOutcome::Failed);
  EXPECT_EQ(ui.Messages().back(),
            Msg("系统错误：无法创建文件“" + dir.path() + "/out/all.txt”：磁盘空间不足", Icon::Error));

  FaultyFileSystem list_fails(SystemFileSystem());
  list_fails.FailWhen(Op::MatchFiles, "src", EIO);
  dir.Write("out/all.txt", "kept");
  RecordingUi list_ui("批合并文件");
  list_ui.texts = ui.texts;
  list_ui.selections["cboType"] = 0;
  EXPECT_EQ(RunFileMerge(list_fails, list_ui), RunOutcome::Failed);
  EXPECT_EQ(list_ui.events,
            (Events{Pointer(true),
                    Msg("系统错误：无法读取目录“" + dir.path() + "/src/”：输入/输出错误", Icon::Error),
                    Pointer(false), Msg("系统错误：无法取得源文件列表", Icon::Error)}));
  EXPECT_EQ(Destination(), "kept");
}

}  // namespace
}  // namespace quorvane
