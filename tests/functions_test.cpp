#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "common/functions.h"
#include "support/faulty_filesystem.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quorvane {
namespace {

using testing::FaultyFileSystem;
using testing::Msg;
using testing::RecordingUi;
using testing::TempDir;
using Names = std::vector<std::string>;

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

TEST_F(FunctionsTest, CreatePathMakesEveryMissingLevel) {
  std::string target = dir / "x/y";
  CreatePath(fs, ui, target);
  EXPECT_EQ(target, dir / "x/y/");
  EXPECT_TRUE(fs.FolderExists(dir / "x/y"));
  CreatePath(fs, ui, target);  // already there: nothing to do, nothing to say
  EXPECT_TRUE(ui.events.empty());
}

TEST_F(FunctionsTest, CreatePathFailureKeepsWhatWasMade) {
  FaultyFileSystem faulty(fs);
  faulty.FailWhen(FaultyFileSystem::Op::CreateFolder, "/b/", ENOSPC);
  std::string target = dir / "a/b/c";
  CreatePath(faulty, ui, target);
  EXPECT_TRUE(fs.FolderExists(dir / "a"));
  EXPECT_FALSE(fs.FolderExists(dir / "a/b"));
  EXPECT_EQ(ui.Messages(),
            (std::vector<testing::UiEvent>{Msg(
                "系统错误：无法创建目录“" + dir.path() + "/a/b/”：磁盘空间不足", Icon::Error)}));
}

TEST_F(FunctionsTest, TempFolderHasNoLengthLimit) {
  const std::string deep = dir.path() + "/" + std::string(200, 't');
  dir.MakeFolder(std::string(200, 't'));
  const char* old = ::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  ::setenv("TMPDIR", deep.c_str(), 1);
  const std::string folder = GetTempFolder(fs, ui);
  old ? ::setenv("TMPDIR", saved.c_str(), 1) : ::unsetenv("TMPDIR");
  EXPECT_EQ(folder, deep + "/");
}

}  // namespace
}  // namespace quorvane
