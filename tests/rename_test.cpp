#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <map>
#include <sstream>

#include "common/rename_plan.h"
#include "filetasks/file_rename_run.h"
#include "foldertasks/folder_rename_run.h"
#include "support/faulty_filesystem.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quorvane {
namespace {

using namespace testing;

// "a>b c>d" as items.
std::vector<RenameItem> Items(const std::string& text) {
  std::vector<RenameItem> items;
  std::istringstream in(text);
  for (std::string pair; in >> pair;)
    items.push_back({pair.substr(0, pair.find('>')), pair.substr(pair.find('>') + 1)});
  return items;
}

// The steps in order, "~" standing for the temporary name; or the refusal.
std::string Planned(const std::string& items, const std::vector<std::string>& others) {
  RenamePlan plan;
  const auto taken = [&](const std::string& name) { return std::ranges::count(others, name) > 0; };
  if (const auto refusal = PlanRename(Items(items), taken, &plan))
    return "refused " + std::to_string(static_cast<int>(refusal->kind)) + ":" + refusal->name;
  std::string steps;
  for (const auto& [i, kind] : plan.steps) {
    const auto& item = plan.items[i];
    steps += (kind == RenameStep::Kind::FromTemporary ? "~" : item.old_name) + ">" +
             (kind == RenameStep::Kind::ToTemporary ? "~" : item.new_name) + " ";
  }
  return steps;
}

TEST(RenamePlanTest, RenamesAreOrderedSoThatNothingIsReplaced) {
  const std::string long_name(256, 'n');
  const struct { std::string items; std::vector<std::string> taken; std::string steps; } rows[] = {
      {"1>2 2>3 3>4", {}, "3>4 2>3 1>2 "},  // shifts need no temporary name
      {"1>0 2>1 3>2", {}, "1>0 2>1 3>2 "},
      {"a>b b>a", {}, "a>~ b>a ~>b "},
      {"a>b b>c c>a x>y", {}, "x>y a>~ c>a b>c ~>b "},
      {"1>1 a.TXT>a.txt", {"A.txt"}, "a.TXT>a.txt "},
      {"照片>1 \xd5\xd5>2", {}, "照片>1 \xd5\xd5>2 "},
      {"a>x/1", {}, "refused 0:x/1"},
      {"a>" + long_name, {}, "refused 0:" + long_name},
      {"a>..", {}, "refused 0:.."},
      {"a>01 b>01", {}, "refused 1:01"},
      {"a>1 b>2", {"2"}, "refused 2:2"},
  };
  for (const auto& r : rows) EXPECT_EQ(Planned(r.items, r.taken), r.steps) << r.items;
}

TEST(RenamePlanTest, AFailedRenameLeavesEveryItemUnderItsOldOrNewName) {
  for (const std::string batch : {"1>2 2>3 3>4 4>5 5>6", "a>b b>c c>a"}) {
    for (int nth = 1;; ++nth) {
      TempDir dir;
      RenamePlan plan;
      ASSERT_FALSE(PlanRename(Items(batch), [](const std::string&) { return false; }, &plan));
      for (const auto& item : plan.items) dir.Write(item.old_name, item.old_name);
      FaultyFileSystem fs(SystemFileSystem());
      fs.FailAt(FaultyFileSystem::Op::Rename, nth, EIO);
      std::string err;
      RenameProgress progress;
      if (ApplyRename(fs, dir.path() + "/", plan, [](size_t) {}, {}, &progress, &err))
        break;  // past the last
      EXPECT_TRUE(progress.settled);
      std::map<std::string, std::string> content;  // each item's first name -> its name now
      for (const auto& entry : Tree(dir.path()))
        content[entry.substr(entry.find('=') + 1)] = entry.substr(0, entry.find('='));
      ASSERT_EQ(content.size(), plan.items.size()) << batch << " at " << nth;
      for (const auto& [old_name, new_name] : plan.items)
        EXPECT_TRUE(content[old_name] == old_name || content[old_name] == new_name);
      EXPECT_TRUE(err.starts_with("“" + dir.path() + "/")) << err;
      EXPECT_TRUE(err.ends_with("：输入/输出错误")) << err;
    }
  }
}

using Task = RunOutcome (*)(FileSystem&, TaskUi&);
const Task kFiles = RunFileRename, kFolders = RunFolderRename;

// A folder of files a.txt, b.txt, 2 and .3, folders 4 and .h, and the link l to 4; the
// window renames its .txt files from 5, then takes `fields`.
TEST(RenameRunTest, ChecksPlansAndRenamesInPlace) {
  const std::string taken = "已被占用，没有重命名任何文件！", done = "操作完成！";
  // `after` only where the run changed the folder.
  const struct { Task run; std::string fields, message, focus = "", after = "", captions = ""; }
      rows[] = {
      {kFiles, "txtPath= ", "请输入源文件路径！", "txtPath"},
      {kFiles, "txtPath=missing", "指定的路径不存在，是否要创建？", "txtPath"},
      {kFiles, "chkAddZero=1|txtDigits=0", "位数只能是正整数！", "txtDigits"},
      {kFiles, "txtSourceName=*.doc", "没有符合条件的文件存在，请重新设置源文件名！",
       "txtSourceName"},
      {kFiles, "txtFrom=1", "新名称“2”" + taken},  // by a file that does not match
      {kFiles, "chkPre=1|txtPre=.|txtFrom=3", "新名称“.3”" + taken},  // by a hidden one
      {kFiles, "txtFrom=3", "新名称“4”" + taken},                     // by a folder
      {kFiles, "txtFrom=2147483647",
       "系统错误：第 2 个文件的编号超出范围（-2147483648 到 2147483647）"},
      {kFiles, "txtFrom=2147483647|txtSourceName=b*", done, "",
       ".3=.|.h/|2147483647=b|2=2|4/|a.txt=a|l -> 4", " 0%"},
      {kFiles, "chkSuf=1|txtSuf=doc|chkAddZero=1|txtDigits=3", done, "",
       ".3=.|.h/|005.doc=a|006.doc=b|2=2|4/|l -> 4", " 0% 100%"},
      {kFolders, "txtPath=", "请输入源目录路径！", "txtPath"},
      {kFolders, "txtFrom=1", "新名称“2”已被占用，没有重命名任何目录！"},
      {kFolders, "txtStep=-1|txtFrom=4", done, "", ".3=.|2=2|3/|4/|a.txt=a|b.txt=b|l -> 4",
       " 0% 50%"},
  };
  for (const auto& r : rows) {
    TempDir dir;
    for (const char* file : {"a.txt", "b.txt", "2", ".3"}) dir.Write(file, std::string(file, 1));
    for (const char* folder : {"4", ".h"}) dir.MakeFolder(folder);
    ::symlink("4", (dir / "l").c_str());
    RecordingUi ui("批重命名");
    ui.Set("txtPath=" + dir.path() + "|txtSourceName=*.txt|txtFrom=5|txtStep=1");
    ui.Set(r.fields);
    r.run(SystemFileSystem(), ui);
    ASSERT_EQ(ui.messages.size(), 1u) << r.message;
    EXPECT_EQ(ui.messages[0].substr(ui.messages[0].find(": ") + 2), r.message);
    EXPECT_EQ(ui.events.back() == FocusOn(r.focus), !r.focus.empty()) << r.message;
    std::string after, captions;
    for (const auto& entry : Tree(dir.path())) after += (after.empty() ? "" : "|") + entry;
    for (const auto& caption : ui.captions)
      if (caption != "批重命名") captions += " " + caption.substr(caption.find("...") + 3);
    EXPECT_EQ(after, r.after.empty() ? ".3=.|.h/|2=2|4/|a.txt=a|b.txt=b|l -> 4" : r.after);
    EXPECT_EQ(captions, r.captions) << r.message;
  }
}

}  // namespace
}  // namespace quorvane
