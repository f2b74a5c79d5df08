#include "foldertasks/folder_merge_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "support/faulty_filesystem.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quorvane {
namespace {

using namespace testing;
using Paths = std::vector<std::string>;
const std::string kDone = Msg("操作完成！", Icon::Information);
const std::string kCreate = Msg("指定的目标目录不存在，是否创建？", Icon::Question, Buttons::YesNo);

// Source a: x.txt, Y, a hidden file, b/z.txt and b/c/w.txt; source e: another x.txt.
class FolderMergeRunTest : public ::testing::Test {
 protected:
  FolderMergeRunTest() {
    for (const char* file : {"a/x.txt", "a/Y", "a/.hidden", "a/b/z.txt", "a/b/c/w.txt", "e/x.txt"})
      dir.Write(file, file);
  }
  RunOutcome Run(const Paths& entries, bool all_levels, std::string target,
                 std::deque<Answer> answers = {}, FileSystem& fs = SystemFileSystem()) {
    ui = RecordingUi("批合并目录");
    for (const auto& entry : entries) ui.items["lstFolderList"].push_back(dir / entry);
    ui.checks["chkTotal"] = all_levels;
    ui.texts["txtDestinationPath"] = target;
    ui.answers = std::move(answers);
    return RunFolderMerge(fs, ui);
  }
  Paths Copied() {  // the sources named in the captions ("正在复制" + path), in order
    Paths copied;
    for (const auto& caption : ui.captions)
      if (caption.starts_with("正在复制")) copied.push_back(caption.substr(dir.path().size() + 13));
    return copied;
  }

  TempDir dir;
  RecordingUi ui;
};

TEST_F(FolderMergeRunTest, CopiesFlatInListThenLevelThenNaturalOrder) {
  const struct { Paths entries; bool all_levels; Paths copied, target; } rows[] = {
      {{"a", "e"}, false, {"a/x.txt", "a/Y", "a/b/z.txt", "e/x.txt"},
       {"Y=a/Y", "x.txt=e/x.txt", "z.txt=a/b/z.txt"}},
      {{"a"}, true, {"a/x.txt", "a/Y", "a/b/z.txt", "a/b/c/w.txt"},
       {"Y=a/Y", "w.txt=a/b/c/w.txt", "x.txt=a/x.txt", "z.txt=a/b/z.txt"}},
      {{"e", "e"}, false, {"e/x.txt", "e/x.txt"}, {"x.txt=e/x.txt"}},
  };
  for (const auto& r : rows) {
    TempDir out;
    EXPECT_EQ(Run(r.entries, r.all_levels, out / "t/u", {Answer::Yes}), RunOutcome::Completed);
    EXPECT_EQ(ui.messages, (Events{kCreate, kDone}));
    EXPECT_EQ(Copied(), r.copied);
    EXPECT_EQ(Tree(out / "t/u"), r.target);
  }
}

TEST_F(FolderMergeRunTest, RefusalsAndTheQuestionChangeNothing) {
  const std::string file = dir / "a/x.txt", missing = dir / "out";
  const std::string focus = FocusOn("txtDestinationPath");
  const struct { std::string target; Events events; } rows[] = {
      {" \t", {Msg("请输入目标目录！", Icon::Warning), focus}},
      {file, {Msg("“" + file + "”不是目录，请输入目标目录！", Icon::Warning), focus}},
      {missing, {kCreate}},  // answered No: no focus move either
  };
  for (const auto& r : rows) {
    EXPECT_EQ(Run({"a"}, false, r.target), RunOutcome::Refused);
    EXPECT_EQ(ui.events, r.events);
  }
  EXPECT_EQ(Run({}, false, missing, {Answer::Yes}), RunOutcome::Completed);  // an empty list
  EXPECT_EQ(ui.messages, (Events{kCreate, kDone}));
  EXPECT_EQ(Tree(missing), Paths{});
}

TEST_F(FolderMergeRunTest, TheTargetsOwnTreeAndFilesThatAreTargetFilesAreLeftAlone) {
  dir.Write("a/b/old/kept.txt", "kept");
  EXPECT_EQ(Run({"a/b"}, false, dir / "a/b"), RunOutcome::Completed);  // the target listed
  EXPECT_EQ(Copied(), Paths{});
  EXPECT_EQ(Run({"a"}, true, dir / "a/b/"), RunOutcome::Completed);  // inside a source's tree
  EXPECT_EQ(Copied(), (Paths{"a/x.txt", "a/Y"}));
  EXPECT_EQ(Tree(dir / "a/b"), (Paths{"Y=a/Y", "c/", "c/w.txt=a/b/c/w.txt", "old/",
                                      "old/kept.txt=kept", "x.txt=a/x.txt", "z.txt=a/b/z.txt"}));
  ::symlink(dir.Write("t/l.txt", "old").c_str(), (dir / "e/l.txt").c_str());
  EXPECT_EQ(Run({"e"}, false, dir / "t"), RunOutcome::Completed);  // a link to a target file
  EXPECT_EQ(Copied(), (Paths{"e/l.txt", "e/x.txt"}));
  EXPECT_EQ(ui.messages, Events{kDone});
  EXPECT_EQ(Tree(dir / "t"), (Paths{"l.txt=old", "x.txt=e/x.txt"}));
}

TEST_F(FolderMergeRunTest, AFaultEndsTheRunKeepingEarlierCopiesAndTheOldTargetFileWhole) {
  const std::string z = dir / "a/b/z.txt";
  FaultyFileSystem read_fault(SystemFileSystem()), vanishing(SystemFileSystem());
  read_fault.FailWhen(FaultyFileSystem::Op::Read, "z.txt", EIO, 2);  // the third copy
  vanishing.before_open = [&](const std::string& path) {  // between listing and copying
    if (path == z) std::remove(z.c_str());
  };
  const Paths earlier = {"Y=a/Y", "x.txt=a/x.txt", "z.txt=old"};
  const struct { FileSystem& fs; Paths entries; std::string message; Paths target; } rows[] = {
      {read_fault, {"a"}, "无法读取文件“" + z + "”：输入/输出错误", earlier},
      {vanishing, {"a"}, "无法打开文件“" + z + "”：没有那个文件或目录", earlier},
      {SystemFileSystem(), {"a", "gone"}, "找不到目录“" + dir / "gone" + "”：没有那个文件或目录",
       {"z.txt=old"}},
  };
  for (const auto& r : rows) {
    TempDir out;
    out.Write("z.txt", "old");
    EXPECT_EQ(Run(r.entries, true, out.path(), {}, r.fs), RunOutcome::Failed);
    EXPECT_EQ(ui.messages, Events{SystemError(r.message)});
    EXPECT_EQ(Tree(out.path()), r.target);  // no partial copy left beside them
    EXPECT_EQ(ui.Caption(), "批合并目录");
  }
}

}  // namespace
}  // namespace quorvane
