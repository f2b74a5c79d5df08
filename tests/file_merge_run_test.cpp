#include <gtest/gtest.h>
#include <sys/stat.h>
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

TEST_F(FileMergeRunTest, RefusalsInCheckOrderChangeNothing) {
  ::mkfifo((dir / "pipe").c_str(), 0600);
  const auto warn = [](const std::string& text, const char* field) {
    return Events{Msg(text, Icon::Warning), FocusOn(field)};
  };
  const std::string src = dir / "src", out = dir / "out/", pipe = dir / "pipe";
  const struct {
    const char* field;
    std::string value;
    Events expected;
  } cases[] = {
      {"txtSourcePath", "  ", warn("请输入源文件所在目录！", "txtSourcePath")},
      {"txtSourcePath", " " + src, warn("源文件目录不存在！", "txtSourcePath")},
      {"txtDestinationPath", " ", warn("请输入目标文件完整的路径！", "txtDestinationPath")},
      {"txtDestinationPath", out,
       warn("目标文件路径“" + out + "”没有文件名，请输入目标文件完整的路径！", "txtDestinationPath")},
      {"txtDestinationPath", src,
       warn("“" + src + "”是一个目录，请输入目标文件完整的路径！", "txtDestinationPath")},
      {"txtDestinationPath", pipe,
       warn("“" + pipe + "”不是普通文件，不能作为目标文件！", "txtDestinationPath")},
      {"cboType", "2",
       warn("Word文档方式在本版本中尚不可用，没有合并任何文件。", "cboType")},
      {"cboType", "3",
       warn("Excel文件方式在本版本中尚不可用，没有合并任何文件。", "cboType")},
      {"txtSourceName", "*.txt", {kCreate, FocusOn("txtDestinationPath")}},  // answered No
  };
  for (const auto& c : cases) {
    RecordingUi fresh("批合并文件");
    fresh.texts = ui.texts;
    fresh.selections = ui.selections;
    if (c.field == std::string("cboType"))
      fresh.selections[c.field] = std::stoi(c.value);
    else
      fresh.texts[c.field] = c.value;
    EXPECT_EQ(RunFileMerge(faulty, fresh), RunOutcome::Refused) << c.value;
    EXPECT_EQ(fresh.events, c.expected) << c.value;
    EXPECT_FALSE(SystemFileSystem().FolderExists(dir / "out")) << c.value;
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
  EXPECT_EQ(faulty.kernel_appends(), 4);  // the production copy, not the test's block copy
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

TEST_F(FileMergeRunTest, EmptyMatchesAndPatternsEndingInDotStar) {
  dir.Write("out/all.txt", "");
  for (const char* pattern : {"nosub/*.txt", ""}) {  // a missing subfolder, an empty box
    ui.events.clear();
    ui.texts["txtSourceName"] = pattern;
    EXPECT_EQ(Run(), RunOutcome::Refused) << pattern;
    EXPECT_EQ(ui.Messages(), (Events{Msg("没有符合条件的文件存在，请重新设置文件类型和源文件名！",
                                         Icon::Warning)}))
        << pattern;
  }
  for (const char* name : {"README", "photo", "photo.jpg", "x.y.z", ".hidden"})
    dir.Write(std::string("src/") + name, std::string(name, 1) + "\n");
  ui.texts["txtSourceName"] = "*.*";  // every normal file, names without a dot too
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(Destination(), "p\r\np\r\nR\r\nx\r\n");
  ui.texts["txtSourceName"] = "photo.*";
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(Destination(), "p\r\np\r\n");
}

TEST_F(FileMergeRunTest, ASourceSwappedAfterTheListingIsRefusedNotFollowed) {
  dir.Write("out/all.txt", "");
  dir.Write("src/1.txt", "1\n");
  const std::string second = dir / "src/2.txt";
  const std::vector<std::function<void()>> swaps = {
      [&] { ::mkfifo(second.c_str(), 0600); },          // an open would wait for a writer
      [&] { ::symlink("/dev/zero", second.c_str()); },  // a read would never end
  };
  for (const auto& swap : swaps) {
    dir.Write("src/2.txt", "2\n");
    faulty.before_open = [&](const std::string& path) {
      if (path != second) return;
      ::unlink(second.c_str());
      swap();
    };
    ui.events.clear();
    EXPECT_EQ(Run(), RunOutcome::Failed);
    EXPECT_EQ(ui.Messages(),
              (Events{Msg("系统错误：无法打开文件“" + second + "”：不是普通文件", Icon::Error)}));
    EXPECT_EQ(Destination(), "1\r\n");
    ::unlink(second.c_str());
  }
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

TEST_F(FileMergeRunTest, FaultsAreReportedWithThePathKeepWhatWasWrittenAndCloseEverything) {
  // Lines that already end in CR LF come out the same in both modes.
  dir.Write("src/1.txt", "first\r\n");
  dir.Write("src/2.txt", "second\r\n");
  dir.Write("src/3.txt", "third\r\n");
  const struct {
    Op op;
    const char* path_part;
    int error_number;
    long long after_bytes;
    std::string message;
    const char* kept;
  } cases[] = {
      {Op::OpenRead, "2.txt", EACCES, 0, "无法打开文件“" + dir / "src/2.txt" + "”：权限不够", "first\r\n"},
      {Op::OpenRead, "3.txt", ENOENT, 0, "无法打开文件“" + dir / "src/3.txt" + "”：没有那个文件或目录",
       "first\r\nsecond\r\n"},
      {Op::Read, "2.txt", EIO, 3, "无法读取文件“" + dir / "src/2.txt" + "”：输入/输出错误", "first\r\nsec"},
      {Op::Write, "all.txt", ENOSPC, 4, "无法写入文件“" + dir / "out/all.txt" + "”：磁盘空间不足", "firs"},
      {Op::OpenWrite, "all.txt", EROFS, 0, "无法打开文件“" + dir / "out/all.txt" + "”：只读文件系统", "stale"},
      {Op::Close, "all.txt", EIO, 0, "无法写入文件“" + dir / "out/all.txt" + "”：输入/输出错误",
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
      EXPECT_EQ(RunFileMerge(fs, run_ui), RunOutcome::Failed) << c.message;
      EXPECT_EQ(run_ui.Messages(), (Events{Msg("系统错误：" + c.message, Icon::Error)}));
      EXPECT_EQ(Destination(), c.kept) << c.message << " mode " << mode;
      EXPECT_EQ(fs.open_files(), 0) << c.message;
      EXPECT_EQ(run_ui.Captions().back(), "批合并文件") << c.message;
    }
  }
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
