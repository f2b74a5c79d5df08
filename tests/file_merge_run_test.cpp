#include "filetasks/file_merge_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "support/faulty_filesystem.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quorvane {
namespace {

using namespace testing;
using Op = FaultyFileSystem::Op;

const std::string kDone = Msg("操作完成！", Icon::Information);
const std::string kCreate = Msg("目标文件不存在！是否创建？", Icon::Question, Buttons::YesNo);

class FileMergeRunTest : public ::testing::Test {
 protected:
  FileMergeRunTest() {
    ui.Set("txtSourcePath=" + dir / "src" + "|txtSourceName=*.txt|cboType=0");
    ui.Set("txtDestinationPath=" + dir / "out/all.txt");
    dir.MakeFolder("src");
  }

  // Runs in `last`: a fresh copy of the window as set so far, then `fields`.
  RunOutcome Run(const std::string& fields = "", FileSystem& fs = SystemFileSystem()) {
    last = ui;
    last.Set(fields);
    return RunFileMerge(fs, last);
  }
  std::string Destination() { return ReadAll(ui.texts["txtDestinationPath"]); }

  TempDir dir;
  RecordingUi ui{"批合并文件"}, last;
};

TEST_F(FileMergeRunTest, RefusalsInCheckOrderChangeNothing) {
  ::mkfifo((dir / "pipe").c_str(), 0600);
  const std::string src = dir / "src", out = dir / "out/", pipe = dir / "pipe";
  const std::string to = "txtDestinationPath", whole = "，请输入目标文件完整的路径！";
  const struct { std::string fields, message, focus; } rows[] = {
      {"txtSourcePath=  ", "请输入源文件所在目录！", "txtSourcePath"},
      {"txtSourcePath= " + src, "源文件目录不存在！", "txtSourcePath"},
      {to + "= ", "请输入目标文件完整的路径！", to},
      {to + "=" + out, "目标文件路径“" + out + "”没有文件名" + whole, to},
      {to + "=" + src, "“" + src + "”是一个目录" + whole, to},
      {to + "=" + pipe, "“" + pipe + "”不是普通文件，不能作为目标文件！", to},
      {"", "", to},  // the question to create it, answered No
  };
  for (const auto& r : rows) {
    EXPECT_EQ(Run(r.fields), RunOutcome::Refused) << r.fields;
    const std::string message = r.message.empty() ? kCreate : Msg(r.message, Icon::Warning);
    EXPECT_EQ(last.events, (Events{message, FocusOn(r.focus)}));
    EXPECT_FALSE(SystemFileSystem().FolderExists(dir / "out"));
  }
}

TEST_F(FileMergeRunTest, WhatAPatternMatchesAndTooFewMatches) {
  for (const std::string name :
       {"a.txt", "README", "photo", "photo.jpg", "x.y.z", ".hidden", "sub/a.txt", "sub/b.txt"})
    dir.Write("src/" + name, name + "\n");
  const std::string none = "没有符合条件的文件存在，请重新设置文件类型和源文件名！";
  const struct { std::string pattern, merged, warning; } rows[] = {
      {"nosub/*.txt", "", none},  // a missing subfolder
      {"", "", none},             // the empty box
      {"x.*", "", "只有一个文件（x.y.z）符合条件，不需要合并！"},
      {"*.*", "a.txt\r\nphoto\r\nphoto.jpg\r\nREADME\r\nx.y.z\r\n", ""},  // names without dots
      {"photo.*", "photo\r\nphoto.jpg\r\n", ""},
      {"sub/*.txt", "sub/a.txt\r\nsub/b.txt\r\n", ""},  // what was listed there, not a.txt here
  };
  for (const auto& r : rows) {
    std::filesystem::remove_all(dir / "out");
    ui.answers = {Answer::Yes};
    EXPECT_EQ(Run("txtSourceName=" + r.pattern),
              r.warning.empty() ? RunOutcome::Completed : RunOutcome::Refused);
    const std::string end = r.warning.empty() ? kDone : Msg(r.warning, Icon::Warning);
    EXPECT_EQ(last.messages, (Events{kCreate, end})) << r.pattern;
    EXPECT_EQ(Destination(), r.merged) << r.pattern;  // too few: created, and left empty
  }
}

TEST_F(FileMergeRunTest, CreatesTheMissingDestinationAndShowsProgress) {
  ui.answers = {Answer::Yes};
  ui.Set("txtDestinationPath=" + dir / "new/deeper/all.txt");
  for (const std::string name : {"1", "2", "10"}) dir.Write("src/" + name + ".txt", name + "\r\n");
  // A source folder with a final separator: it is not doubled. Binary mode appends by the
  // production copy, not the test's block copy.
  FaultyFileSystem faulty(SystemFileSystem());
  EXPECT_EQ(Run("cboType=1|txtSourcePath=" + dir / "src/", faulty), RunOutcome::Completed);
  EXPECT_EQ(faulty.kernel_appends, 3);
  const std::string p = "正在合并文件...";
  EXPECT_EQ(last.events, (Events{kCreate, Pointer(true), CaptionTo(p + "0%"), CaptionTo(p + "33%"),
                                 CaptionTo(p + "67%"), CaptionTo(p + "100%"), Pointer(false),
                                 kDone, CaptionTo("批合并文件")}));
  EXPECT_EQ(Destination(), "1\r\n2\r\n10\r\n");
}

TEST_F(FileMergeRunTest, TextModeKeepsEveryLineByteForByte) {
  // Megabytes: a CR LF split over the 1 MiB read boundary, and a 3 MB line.
  const std::string run((1 << 20) - 9, 'a'), long_line(3'000'000, 'z');
  std::string longest = "09";  // a 255-byte name, the most a Linux file system allows
  for (int i = 0; i < 83; ++i) longest += "长";
  dir.Write("out/all.txt", "");
  dir.Write("src/01 big.txt", "\xEF\xBB\xBFhead\n" + run + "\r\nnext\n");  // CR ends block one
  dir.Write("src/02 crlf.txt", "one,two\r\n  \"x, y\"\r\n");
  dir.Write("src/03 lf.txt", "lf line\n\nafter empty\n");
  dir.Write("src/04 empty.txt", "");
  dir.Write("src/05 no end.txt", "no final end");
  dir.Write("src/06 bom.txt", "\xEF\xBB\xBF第六\n");  // only the first source keeps its mark
  dir.Write("src/07 gbk\xd6\xd0.txt", "\xd6\xd0\xce\xc4\r\nlone\rcr\r");
  dir.Write("src/08 blank lines.txt", "\n\r\n");
  dir.Write("src/" + longest + ".txt", long_line);
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_TRUE(Destination() == "\xEF\xBB\xBFhead\r\n" + run + "\r\nnext\r\n" +
                                "one,two\r\n  \"x, y\"\r\nlf line\r\n\r\nafter empty\r\n"
                                "no final end\r\n第六\r\n\xd6\xd0\xce\xc4\r\nlone\rcr\r\r\n\r\n\r\n" +
                                long_line + "\r\n");
}

TEST_F(FileMergeRunTest, TheDestinationIsNeverOneOfItsSources) {
  ui.Set("txtDestinationPath=" + dir / "src/./merged.txt");  // another text, the same file
  dir.Write("src/merged.txt", "old merge\n");
  dir.Write("src/a.txt", "a\n");
  EXPECT_EQ(Run(), RunOutcome::Refused);
  EXPECT_EQ(last.messages,
            Events{Msg("只有一个文件（a.txt）符合条件，不需要合并！", Icon::Warning)});
  // A source that is the destination under another name is refused, naming both, before
  // anything is written: the merge would empty it.
  dir.Write("src/b.txt", "b\n");
  for (const auto make : {+[](const char* to, const char* from) { return ::symlink(to, from); },
                          +[](const char* to, const char* from) { return ::link(to, from); }}) {
    ASSERT_EQ(make((dir / "src/merged.txt").c_str(), (dir / "src/other.txt").c_str()), 0);
    EXPECT_EQ(Run(), RunOutcome::Refused);
    EXPECT_EQ(last.messages, Events{Msg("目标文件“" + dir / "src/./merged.txt" + "”就是源文件“" +
                                            dir / "src/other.txt" +
                                            "”（同一个文件的另一个名称），没有合并任何文件！",
                                        Icon::Warning)});
    EXPECT_EQ(Destination(), "old merge\n");
    ::unlink((dir / "src/other.txt").c_str());
  }
  // The destination as a link to a source, from outside the source folder.
  ui.Set("txtDestinationPath=" + dir / "out/all.txt");
  ::symlink((dir / "src/a.txt").c_str(), (dir / "out/all.txt").c_str());
  EXPECT_EQ(Run(), RunOutcome::Refused);
  EXPECT_EQ(ReadAll(dir / "src/a.txt"), "a\n");
  ::unlink((dir / "out/all.txt").c_str());
  ui.Set("txtDestinationPath=" + dir / "src/./merged.txt");
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(Destination(), "a\r\nb\r\n");
}

TEST_F(FileMergeRunTest, AFaultAnywhereLeavesTheOldDestinationWholeAndNothingTemporary) {
  // Lines that already end in CR LF come out the same in both modes.
  for (const std::string name : {"1", "2", "3"}) dir.Write("src/" + name + ".txt", name + "\r\n");
  const std::string two = dir / "src/2.txt", all = dir / "out/all.txt", stale = "stale, longer";
  const struct { Op op; const char* part; int error, after; std::string message, kept; } rows[] = {
      {Op::OpenRead, "2.txt", EACCES, 0, "无法打开文件“" + two + "”：权限不够", stale},
      {Op::OpenRead, "3.txt", ENOENT, 0,  // vanished since the listing
       "无法打开文件“" + dir / "src/3.txt" + "”：没有那个文件或目录", stale},
      {Op::Read, "2.txt", EIO, 1, "无法读取文件“" + two + "”：输入/输出错误", stale},
      {Op::Write, "all.txt", ENOSPC, 4, "无法写入文件“" + all + "”：磁盘空间不足", stale},
      {Op::OpenWrite, "all.txt", EROFS, 0, "无法打开文件“" + all + "”：只读文件系统", stale},
      {Op::Sync, "all.txt", EIO, 0, "无法写入文件“" + all + "”：输入/输出错误", stale},
      {Op::Rename, "all.txt", EIO, 0, "无法改名为“" + all + "”：输入/输出错误", stale},
      // A failure after the rename: the result is whole, but the run must not say so.
      {Op::SyncFolder, "out/", EIO, 0, "无法写入目录“" + dir / "out/" + "”：输入/输出错误",
       "1\r\n2\r\n3\r\n"},
  };
  for (const std::string mode : {"0", "1"}) {
    for (const auto& r : rows) {
      FaultyFileSystem faulty(SystemFileSystem());
      faulty.FailWhen(r.op, r.part, r.error, r.after);
      dir.Write("out/all.txt", stale);
      EXPECT_EQ(Run("cboType=" + mode, faulty), RunOutcome::Failed);
      EXPECT_EQ(last.messages, Events{SystemError(r.message)});
      EXPECT_EQ(Destination(), r.kept) << r.message << " in mode " << mode;
      EXPECT_EQ(Tree(dir / "out"), std::vector<std::string>{"all.txt=" + r.kept}) << r.message;
      EXPECT_EQ(faulty.open_files, 0) << r.message;
      EXPECT_EQ(last.captions.back(), "批合并文件") << r.message;
    }
  }
}

TEST_F(FileMergeRunTest, ListAndCreationFailuresEndInTheErrorReport) {
  FaultyFileSystem faulty(SystemFileSystem());
  faulty.FailWhen(Op::CreateTextFile, "all.txt", ENOSPC);
  faulty.FailWhen(Op::MatchFiles, "src", EIO);
  ui.answers = {Answer::Yes};
  EXPECT_EQ(Run("", faulty), RunOutcome::Failed);
  EXPECT_EQ(last.messages.back(),
            SystemError("无法创建文件“" + dir / "out/all.txt" + "”：磁盘空间不足"));
  dir.Write("out/all.txt", "kept");
  EXPECT_EQ(Run("", faulty), RunOutcome::Failed);
  const std::string unreadable = "无法读取目录“" + dir / "src/" + "”：输入/输出错误";
  EXPECT_EQ(last.events, (Events{Pointer(true), SystemError(unreadable), Pointer(false),
                                 SystemError("无法取得源文件列表")}));
  EXPECT_EQ(Destination(), "kept");
}

}  // namespace
}  // namespace quorvane
