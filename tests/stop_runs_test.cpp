// Every run stops at its next point between items when its window asks: what was done stays
// whole, nothing temporary is left, and the run reports how far it came.
#include <algorithm>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "common/run_frame.h"
#include "filetasks/file_build_run.h"
#include "filetasks/file_merge_run.h"
#include "foldertasks/folder_build_run.h"
#include "foldertasks/folder_merge_run.h"
#include "office/converter.h"
#include "support/docx_samples.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quorvane {
namespace {

using namespace testing;
using Paths = std::vector<std::string>;

std::string StoppedMsg(int done, int total) {
  return Msg("操作已停止：已完成 " + std::to_string(done) + " 个，共 " + std::to_string(total) +
                 " 个。",
             Icon::Information);
}

class StopRunTest : public ::testing::Test {
 protected:
  TempDir dir;
  // The temporary-files folder of the runs, to see what they leave.
  const ScopedEnv tmpdir{"TMPDIR", dir.MakeFolder("tmp")};
  RecordingUi ui{"window"};
};

TEST_F(StopRunTest, CreateRunsStopBetweenItemsWithWhatIsMadeWhole) {
  dir.Write("t.txt", std::string(100000, 'x'));
  dir.Write("tf/a/b.txt", "b");
  for (const char* name : {"tf3/x", "tf3/y/z", "tf3/y/w"}) dir.Write(name, name);
  const std::string copy = "=" + std::string(100000, 'x');
  // A copy also asks between its blocks, so an item made from a template counts two checks.
  const struct { RunOutcome (*run)(FileSystem&, TaskUi&); std::string fields; int stop_after;
                 Paths out; } rows[] = {
      {RunFileBuild, "", 2, {"1=", "2="}},
      {RunFileBuild, "chkMod=1|txtModPath=" + dir / "t.txt", 6, {"1" + copy, "2" + copy, "3" + copy}},
      {RunFileBuild, "chkMod=1|txtModPath=" + dir / "t.txt", 5, {"1" + copy, "2" + copy}},
      {RunFileBuild, "", 0, {}},  // asked before the first item: nothing is made
      {RunFolderBuild, "", 1, {"1/"}},
      {RunFolderBuild, "chkMod=1|txtModPath=" + dir / "tf", 4,
       {"1/", "1/a/", "1/a/b.txt=b", "2/", "2/a/", "2/a/b.txt=b"}},
      // Stopped between the files of the second folder's tree: that folder is not there.
      {RunFolderBuild, "chkMod=1|txtModPath=" + dir / "tf3", 6,
       {"1/", "1/x=tf3/x", "1/y/", "1/y/w=tf3/y/w", "1/y/z=tf3/y/z"}},
  };
  for (const auto& r : rows) {
    std::filesystem::remove_all(dir / "out");
    dir.MakeFolder("out");
    ui = RecordingUi("批建立");
    ui.Set("txtPath=" + dir / "out" + "|txtFrom=1|txtTo=5|txtStep=1|" + r.fields);
    ui.stop_after = r.stop_after;
    EXPECT_EQ(r.run(SystemFileSystem(), ui), RunOutcome::Stopped) << r.fields;
    const auto folders = std::count_if(r.out.begin(), r.out.end(),
                                       [](const std::string& p) { return p.size() == 2; });
    const long long done = r.run == RunFileBuild ? r.out.size() : folders;
    EXPECT_EQ(ui.messages, Events{StoppedMsg(done, 5)});
    EXPECT_EQ(Tree(dir / "out"), r.out) << r.fields;
    EXPECT_EQ(ui.events.back(), ui.messages.back());  // the pointer and caption came back first
    EXPECT_EQ(ui.Caption(), "批建立");
    EXPECT_EQ(Tree(dir / "tmp"), Paths{});
  }
}

// A binary source is copied by blocks, and a copy asks between them: two checks a source. A
// Word source is checked (3 points), then joined (3 more), and the result saved (1).
TEST_F(StopRunTest, FileMergeStopsBetweenSourcesAndBeforeTheSaveLeavingTheDestination) {
  for (const std::string n : {"1", "2", "3", "4"}) dir.Write("src/" + n + ".txt", n + "\n" + n);
  std::string err;
  for (const std::string n : {"1", "2", "3"})
    ASSERT_TRUE(WriteDocx({.paragraphs = {n}}, dir / ("src/" + n + ".docx"), &err)) << err;
  const struct { int mode, stop_after, done, total; } rows[] = {
      {0, 2, 2, 4}, {1, 6, 3, 4}, {1, 5, 2, 4}, {1, 0, 0, 4},
      {2, 1, 0, 3}, {2, 4, 1, 3}, {2, 6, 3, 3}, {2, 7, -1, 3},  // -1: never reached, completes
  };
  for (const auto& r : rows) {
    const std::string destination = dir / (r.mode == 2 ? "all.docx" : "all.out");
    dir.Write(destination.substr(dir.path().size() + 1), "older merge");
    ui = RecordingUi("批合并文件");
    ui.Set("txtSourcePath=" + dir / "src" + "|txtSourceName=*." + (r.mode == 2 ? "docx" : "txt") +
           "|txtDestinationPath=" + destination + "|cboType=" + std::to_string(r.mode));
    ui.stop_after = r.stop_after;
    EXPECT_EQ(RunFileMerge(SystemFileSystem(), ui),
              r.done < 0 ? RunOutcome::Completed : RunOutcome::Stopped);
    EXPECT_EQ(ui.messages, Events{r.done < 0 ? Msg("操作完成！", Icon::Information)
                                             : StoppedMsg(r.done, r.total)})
        << r.mode << " " << r.stop_after;
    if (r.done >= 0) EXPECT_EQ(ReadAll(destination), "older merge") << r.mode;
    for (const auto& entry : Tree(dir.path()))
      EXPECT_EQ(entry.find(kTemporaryPrefix), std::string::npos) << entry;
    EXPECT_EQ(Tree(dir / "src").size(), 7u);
    EXPECT_EQ(Tree(dir / "tmp"), Paths{});
  }
}

TEST_F(StopRunTest, FolderMergeStopsBetweenFiles) {
  for (const char* file : {"a/1", "a/2", "a/3", "b/4"}) dir.Write(file, std::string(50000, *file));
  ui = RecordingUi("批合并目录");
  ui.items["lstFolderList"] = {dir / "a", dir / "b"};
  ui.texts["txtDestinationPath"] = dir / "out";
  dir.MakeFolder("out");
  ui.stop_after = 4;  // each file: the check before it and the copy's own
  EXPECT_EQ(RunFolderMerge(SystemFileSystem(), ui), RunOutcome::Stopped);
  EXPECT_EQ(ui.messages, Events{StoppedMsg(2, 4)});
  EXPECT_EQ(Tree(dir / "out"),
            (Paths{"1=" + std::string(50000, 'a'), "2=" + std::string(50000, 'a')}));
}

// Whether the process whose number is in `pid_file` still runs, once a kill sent to it has
// had its effect (a process ended but not yet reaped by its new parent does not run).
bool Alive(const std::string& pid_file) {
  const std::string stat = "/proc/" + ReadAll(pid_file).substr(0, ReadAll(pid_file).find('\n')) + "/stat";
  for (int i = 0; i < 500; ++i) {
    const std::string line = ReadAll(stat);
    const auto state = line.rfind(") ");
    if (line == "<missing>" || (state != std::string::npos && line[state + 2] == 'Z')) return false;
    ::usleep(10000);
  }
  return true;
}

TEST_F(StopRunTest, AStopEndsAConversionInProgressWithItsHelpers) {
  // A stand-in for soffice that never finishes, with a helper of its own in its group.
  const std::string bin = dir / "bin";
  dir.Write("bin/soffice",
            "#!/bin/sh\nsleep 600 &\necho $! > " + dir / "helper.tmp" + "\nmv " +
                dir / "helper.tmp" + " " + dir / "helper" + "\nwait\n");
  std::filesystem::permissions(bin + "/soffice", std::filesystem::perms::owner_all);
  const ScopedEnv path("PATH", bin + ":" + std::getenv("PATH"));
  dir.Write("in.doc", "legacy");
  dir.MakeFolder("conv");
  // The stand-in converter is running once its helper has written its number.
  ui.stop_when = [&] { return std::filesystem::exists(dir / "helper"); };
  std::string produced, err;
  RunFrame frame(ui);
  EXPECT_FALSE(
      office::SystemConverter().Convert(dir / "in.doc", "docx", dir / "conv", &produced, &err));
  EXPECT_EQ(err, "无法转换文件“" + dir / "in.doc" + "”：操作已停止");
  EXPECT_FALSE(Alive(dir / "helper"));  // the whole group was ended and reaped
  EXPECT_EQ(Tree(dir / "conv"), Paths{});
}

}  // namespace
}  // namespace quorvane
