#include "foldertasks/folder_merge_run.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "support/deep_tree.h"
#include "support/faulty_filesystem.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quorvane {
namespace {

using namespace testing;
using Paths = std::vector<std::string>;
using Op = FaultyFileSystem::Op;
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

// 40 folders of 200-byte names: the deepest paths are twice as long as the system takes in
// one call.
class DeepFolderMergeTest : public FolderMergeRunTest {
 protected:
  DeepFolderMergeTest() {
    dir.MakeFolder("deep");
    files = MakeDeepTree(dir / "deep", 40, {0, 1, 20, 40});
    for (auto& file : files) file.erase(0, dir.path().size() + 1);
  }
  Paths Files(std::initializer_list<int> indices) {
    Paths picked;
    for (const int i : indices) picked.push_back(files[i]);
    return picked;
  }
  Paths files;  // at levels 0, 1, 20 and 40, as the captions name them
};

// Every folder and file is listed before the first copy, so a folder that cannot be opened or
// listed, at any depth, ends the run with nothing copied; a file that cannot be opened later
// ends it keeping the copies before it. Either way the report names it and no completion
// follows.
TEST_F(DeepFolderMergeTest, WhatCannotBeReadIsNamedAndTheRunFails) {
  const std::string level1 = DeepFolder(dir / "deep", 1), level30 = DeepFolder(dir / "deep", 30);
  const std::string unreadable = "无法读取目录“" + level30 + "”：权限不够";
  const struct { Op op; std::string part; bool all_levels; std::string message;
                 Paths copied, target; } rows[] = {
      {Op::OpenFolder, DeepName(30) + "/", true, unreadable, {}, {}},
      {Op::SubFolders, DeepName(30) + "/", true, unreadable, {}, {}},
      {Op::MatchFiles, DeepName(30) + "/", true, unreadable, {}, {}},
      {Op::OpenFolder, DeepName(1) + "/", false, "无法读取目录“" + level1 + "”：权限不够", {}, {}},
      {Op::OpenFolder, "/deep/", true, "无法读取目录“" + dir / "deep/" + "”：权限不够", {}, {}},
      {Op::OpenRead, "/f40.txt", true, "无法打开文件“" + dir / files[3] + "”：权限不够",
       Files({0, 1, 2, 3}), {"f0.txt=0", "f1.txt=1", "f20.txt=20"}},
  };
  for (const auto& r : rows) {
    FaultyFileSystem faulty(SystemFileSystem());
    faulty.FailWhen(r.op, r.part, EACCES);
    TempDir out;
    EXPECT_EQ(Run({"deep"}, r.all_levels, out.path(), {}, faulty), RunOutcome::Failed);
    EXPECT_EQ(ui.messages, Events{SystemError(r.message)});
    EXPECT_EQ(Copied(), r.copied);
    EXPECT_EQ(Tree(out.path()), r.target);
    EXPECT_EQ(faulty.open_folders, 0);
    EXPECT_EQ(faulty.open_files, 0);
  }
}

// The descriptors this process has open.
Paths OpenDescriptors() {
  Paths fds;
  DIR* listing = ::opendir("/proc/self/fd");
  const std::string own = listing ? std::to_string(::dirfd(listing)) : "";
  while (const dirent* entry = listing ? ::readdir(listing) : nullptr)
    if (entry->d_name[0] != '.' && entry->d_name != own) fds.push_back(entry->d_name);
  if (listing) ::closedir(listing);
  std::sort(fds.begin(), fds.end());
  return fds;
}

// 2,000 folders, 80 of them nested one in another: a walk that held each folder, or each
// level, open would run out of descriptors under the limit the child runs with.
TEST_F(FolderMergeRunTest, TheFoldersOpenAtATimeDoNotGrowWithTheTree) {
  for (int i = 0; i < 19; ++i) {
    const std::string group = "wide/g" + std::to_string(i);
    dir.Write(group + "/f" + std::to_string(i), "");
    for (int j = 0; j < 100; ++j) dir.MakeFolder(group + "/h" + std::to_string(j));
  }
  std::string chain = "wide/z";
  for (int level = 1; level < 80; ++level) chain += "/" + std::to_string(level);
  dir.Write(chain + "/deepest", "80");
  const Paths before = OpenDescriptors();

  FaultyFileSystem counting(SystemFileSystem());
  EXPECT_EQ(Run({"wide"}, true, dir / "out1", {Answer::Yes}, counting), RunOutcome::Completed);
  EXPECT_EQ(Tree(dir / "out1").size(), 20u);
  EXPECT_LE(counting.most_open_folders, 3);
  EXPECT_EQ(counting.open_folders, 0);
  EXPECT_EQ(OpenDescriptors(), before);

  dir.MakeFolder("out2");
  const pid_t child = ::fork();
  if (child == 0) {
    ::closefrom(3);  // the child's own copies: standard input, output and error are left
    const rlimit limit{16, 16};
    const bool ran = ::setrlimit(RLIMIT_NOFILE, &limit) == 0 &&
                     Run({"wide"}, true, dir / "out2") == RunOutcome::Completed;
    ::_exit(ran ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(Tree(dir / "out2").size(), 20u);
}

}  // namespace
}  // namespace quorvane
