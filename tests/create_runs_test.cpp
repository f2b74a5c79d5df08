#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>

#include <cerrno>
#include <deque>
#include <filesystem>

#include "filetasks/file_build_run.h"
#include "foldertasks/folder_build_run.h"
#include "support/deep_tree.h"
#include "support/faulty_filesystem.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quorvane {
namespace {

using namespace testing;
using Names = std::vector<std::string>;
using Task = RunOutcome (*)(FileSystem&, TaskUi&);
using Op = FaultyFileSystem::Op;
const Task kFiles = RunFileBuild, kFolders = RunFolderBuild;
const std::string kDone = Msg("操作完成！", Icon::Information);

class CreateRunTest : public ::testing::Test {
 protected:
  CreateRunTest() { dir.MakeFolder("out"); }

  // Runs `run` in a fresh window that holds 从 1 到 3 for the folder out, then `fields`.
  RunOutcome Start(Task run, const std::string& fields = "", std::deque<Answer> answers = {},
                   FileSystem& fs = SystemFileSystem()) {
    ui = RecordingUi(run == kFiles ? "批建立文件" : "批建立目录");
    ui.Set("txtPath=" + dir / "out" + "|txtFrom=1|txtTo=3|txtStep=1|txtModPath=" + dir / "t");
    ui.Set(fields);
    ui.answers = std::move(answers);
    return run(fs, ui);
  }
  Names Out() const { return Tree(dir / "out"); }

  TempDir dir;
  RecordingUi ui;
};

TEST_F(CreateRunTest, RefusalsInCheckOrderChangeNothing) {
  const Icon warn = Icon::Warning, ask = Icon::Question, error = Icon::Error;
  const std::string to_new = "txtPath=" + dir / "out/new", mod = "chkMod=1|txtModPath=";
  const struct { Task run; std::string fields; const char *message, *focus; Icon icon; } rows[] = {
      {kFiles, "txtPath= \t", "请输入文件路径！", "txtPath", warn},
      {kFiles, mod + " ", "请输入模板文件！", "txtModPath", warn},
      {kFiles, to_new, "指定的路径不存在，是否要创建？", "txtPath", ask},
      {kFiles, "chkMod=1", "指定的文件不存在！", "txtModPath", error},
      {kFiles, mod + dir / "out", "指定的文件不存在！", "txtModPath", error},
      {kFiles, "txtStep=0", "递增量不能为零！", "txtStep", warn},
      {kFolders, "txtPath=", "请输入目录路径！", "txtPath", warn},
      {kFolders, mod + "  ", "请输入模板目录！", "txtModPath", warn},
      {kFolders, to_new, "指定的目录不存在，是否要创建？", "txtPath", ask},
      {kFolders, mod + dir.Write("f", ""), "指定的模板不存在！", "txtModPath", warn},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(Start(r.run, r.fields), RunOutcome::Refused) << r.message;
    const Buttons buttons = r.icon == ask ? Buttons::YesNo : Buttons::Ok;
    EXPECT_EQ(ui.events, (Events{Msg(r.message, r.icon, buttons), FocusOn(r.focus)}));
    EXPECT_EQ(Out(), Names{});
  }
  // Yes creates the folder; a field refused after that still makes nothing in it.
  Start(kFiles, to_new + "|txtFrom=x", {Answer::Yes});
  EXPECT_EQ(Out(), Names{"new/"});
}

TEST_F(CreateRunTest, WorkedExamplesWithTheirProgress) {
  EXPECT_EQ(Start(kFiles, "txtTo=12|chkPre=1|txtPre=img|chkSuf=1|txtSuf=txt|chkAddZero=1"),
            RunOutcome::Completed);
  EXPECT_EQ(Out().size(), 12u);
  EXPECT_EQ(Out().front() + Out().back(), "img01.txt=img12.txt=");
  EXPECT_EQ(ui.messages, Events{kDone});
  std::filesystem::remove_all(dir / "out");
  EXPECT_EQ(Start(kFolders, "chkPre=1|txtPre=第|chkSuf=1|txtSuf=章", {Answer::Yes}),
            RunOutcome::Completed);
  const std::string p = "正在建立目录...";
  EXPECT_EQ(ui.captions, (Names{p + "0%", p + "50%", p + "100%", p + "100%", "批建立目录"}));
  Start(kFolders, "txtStep=-1");  // pointing away from 到: nothing to make
  EXPECT_EQ(ui.captions, (Names{p + "100%", "批建立目录"}));
  // The last number of the 32-bit range ends a run that reaches it.
  EXPECT_EQ(Start(kFiles, "txtFrom=2147483646|txtTo=2147483647"), RunOutcome::Completed);
  EXPECT_EQ(Out(), (Names{"2147483646=", "2147483647=", "第1章/", "第2章/", "第3章/"}));
}

TEST_F(CreateRunTest, FilesThatAreThereAreReplacedOnlyAfterYes) {
  for (const std::string name : {"2", "3"}) dir.Write("out/" + name, "old " + name);
  const std::string ask = Msg("有 2 个同名文件已存在，是否覆盖？", Icon::Question, Buttons::YesNo);
  EXPECT_EQ(Start(kFiles), RunOutcome::Refused);
  EXPECT_EQ(ui.events, (Events{Pointer(true), Pointer(false), ask, FocusOn("txtPath")}));
  EXPECT_EQ(Out(), (Names{"2=old 2", "3=old 3"}));
  dir.Write("t", "new");
  EXPECT_EQ(Start(kFiles, "chkMod=1", {Answer::Yes}), RunOutcome::Completed);
  EXPECT_EQ(Events(ui.events.begin(), ui.events.begin() + 4),
            (Events{Pointer(true), Pointer(false), ask, Pointer(true)}));
  EXPECT_EQ(Out(), (Names{"1=new", "2=new", "3=new"}));
}

TEST_F(CreateRunTest, ABatchThatCannotBeMadeWholeIsRefusedBeforeTheFirstItem) {
  ::link(dir.Write("t", "t").c_str(), (dir / "out/2").c_str());
  dir.MakeFolder("out/3.txt/in");
  const std::string suffix(253, 's');  // 1.sss... is 255 bytes long, 10.sss... one too many
  const std::string none = "，没有建立任何文件！";
  const std::string overlap = "”与模板目录相同或互相包含，没有建立任何目录！";
  const std::string txt = "chkSuf=1|txtSuf=.txt|chkMod=1|txtModPath=" + dir / "out/3.txt";
  const struct { Task run; std::string fields, message; } rows[] = {
      {kFiles, "chkPre=1|txtPre=a/b", "名称“a/b1”不合法" + none},
      {kFiles, "chkSuf=1|txtTo=10|txtSuf=" + suffix, "名称“10." + suffix + "”不合法" + none},
      {kFiles, "chkMod=1", "要建立的文件“2”就是模板文件" + none},
      {kFiles, "chkSuf=1|txtSuf=txt",
       "系统错误：无法创建文件“" + dir / "out/3.txt" + "”：是一个目录"},
      {kFiles, "txtFrom=-3000000000",
       "系统错误：数字“-3000000000”超出范围（-2147483648 到 2147483647）"},
      {kFolders, "", "系统错误：无法创建目录“" + dir / "out/2" + "”：已经存在"},
      {kFolders, "chkSuf=1|txtSuf=/..", "名称“1/..”不合法，没有建立任何目录！"},
      {kFolders, "txtPath=" + dir / "out/3.txt|" + "chkMod=1|txtModPath=" + dir / "out",
       "要建立的目录“1" + overlap},
      {kFolders, txt, "要建立的目录“3.txt" + overlap},  // the template is a target
      {kFolders, txt + "/in/", "要建立的目录“3.txt" + overlap},  // or inside one
  };
  for (const auto& r : rows) {
    EXPECT_NE(Start(r.run, r.fields), RunOutcome::Completed) << r.message;
    const Icon icon = r.message.starts_with("系统错误") ? Icon::Error : Icon::Warning;
    EXPECT_EQ(ui.messages, Events{Msg(r.message, icon)});
    EXPECT_EQ(Out(), (Names{"2=t", "3.txt/", "3.txt/in/"}));
  }
}

TEST_F(CreateRunTest, AFaultAtTheThirdItemKeepsTheFirstTwoAndMakesNoMore) {
  dir.Write("t", "t");
  dir.Write("tf/a", "a");
  const std::string third = dir / "out/3";
  const struct { Task run; Op op; std::string fields; Names made; std::string action; } rows[] = {
      {kFiles, Op::CreateTextFile, "", {"1=", "2="}, "无法创建文件"},
      {kFiles, Op::CopyFile, "chkMod=1", {"1=t", "2=t"}, "无法复制到"},
      {kFolders, Op::CreateFolder, "", {"1/", "2/"}, "无法创建目录"},
      {kFolders, Op::CopyFolder, "chkMod=1|txtModPath=" + dir / "tf",
       {"1/", "1/a=a", "2/", "2/a=a"}, "无法复制到"},
  };
  for (const auto& r : rows) {
    FaultyFileSystem faulty(SystemFileSystem());
    faulty.FailAt(r.op, 3, EIO);
    EXPECT_EQ(Start(r.run, "txtTo=5|" + r.fields, {}, faulty), RunOutcome::Failed);
    EXPECT_EQ(Out(), r.made);
    EXPECT_EQ(ui.messages, Events{SystemError(r.action + "“" + third + "”：输入/输出错误")});
    EXPECT_EQ(ui.captions.back(), r.run == kFiles ? "批建立文件" : "批建立目录");
    std::filesystem::remove_all(dir / "out");
    dir.MakeFolder("out");
  }
}

// A folder made from a template appears whole or not at all: a copy that fails at any file of
// the tree, or at the rename that names the folder, leaves nothing of that folder, keeps the
// folders made before it, and names what the user asked for.
TEST_F(CreateRunTest, AFolderWhoseCopyFailsInsideItsTreeLeavesNothingOfIt) {
  dir.Write("tf/a", "a");
  dir.Write("tf/sub/b", "b");
  dir.Write("tf/sub/deeper/c", "c");
  const std::string mod = "chkMod=1|txtModPath=" + dir / "tf";
  const Names first = {"1/", "1/a=a", "1/sub/", "1/sub/b=b", "1/sub/deeper/", "1/sub/deeper/c=c"};
  for (int k = 1; k <= 3; ++k) {  // the k-th file of the second folder's tree
    FaultyFileSystem faulty(SystemFileSystem());
    std::vector<std::string> writes;
    faulty.on_call = [&](Op op, const std::string& path) {
      if (op == Op::OpenWrite) writes.push_back(path);
    };
    faulty.FailAt(Op::OpenWrite, 3 + k, EIO);
    EXPECT_EQ(Start(kFolders, mod, {}, faulty), RunOutcome::Failed);
    EXPECT_EQ(Out(), first) << k;
    ASSERT_EQ(writes.size(), 3u + k);
    const std::string file = writes.back().substr(writes.back().find('/', (dir / "out/").size()));
    EXPECT_EQ(ui.messages, Events{SystemError("无法打开文件“" + dir / "out/2" + file +
                                              "”：输入/输出错误")});
    EXPECT_EQ(faulty.open_files + faulty.open_folders, 0);
    std::filesystem::remove_all(dir / "out/1");
  }
  // The rename that names the finished copy fails, or finds the name taken meanwhile: what
  // took it stays as it was.
  FaultyFileSystem faulty(SystemFileSystem());
  faulty.FailWhen(Op::Rename, "out/2", EIO);
  EXPECT_EQ(Start(kFolders, mod, {}, faulty), RunOutcome::Failed);
  EXPECT_EQ(ui.messages, Events{SystemError("无法改名为“" + dir / "out/2" + "”：输入/输出错误")});
  EXPECT_EQ(Out(), first);
  std::filesystem::remove_all(dir / "out/1");
  FaultyFileSystem racing(SystemFileSystem());
  racing.on_call = [&](Op op, const std::string& path) {
    if (op == Op::Rename && path == dir / "out/2") dir.Write("out/2/theirs", "theirs");
  };
  EXPECT_EQ(Start(kFolders, mod, {}, racing), RunOutcome::Failed);
  EXPECT_EQ(ui.messages, Events{SystemError("无法创建目录“" + dir / "out/2" + "”：已经存在")});
  Names made = first;
  made.insert(made.end(), {"2/", "2/theirs=theirs"});
  EXPECT_EQ(Out(), made);
}

// A path that is too long under its final name is refused as before, by that name, however
// long the temporary name the copy is made under; nothing of the folder stays.
TEST_F(CreateRunTest, ATemplatePathTooLongUnderItsFinalNameIsRefusedByThatName) {
  dir.MakeFolder("tf");
  MakeDeepTree(dir / "tf", 21, {21});
  const std::string suffix(60, 's');  // longer than a temporary name
  std::string expected = dir / "out/1" + suffix;
  for (int level = 1; expected.size() < PATH_MAX; ++level) expected += "/" + DeepName(level);
  EXPECT_EQ(Start(kFolders, "chkMod=1|txtModPath=" + dir / "tf" + "|chkSuf=1|txtSuf=" + suffix),
            RunOutcome::Failed);
  EXPECT_EQ(ui.messages, Events{SystemError("无法访问“" + expected + "”：名称太长")});
  EXPECT_EQ(Out(), Names{});
}

}  // namespace
}  // namespace quorvane
