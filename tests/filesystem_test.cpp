#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/filesystem.h"
#include "support/faulty_filesystem.h"
#include "support/temp_dir.h"

namespace quorvane {
namespace {

using testing::FaultyFileSystem;
using testing::ReadAll;
using testing::Tree;
using Names = std::vector<std::string>;

class CopyTest : public ::testing::Test {
 protected:
  CopyTest() : source(dir.Write("src/a.bin", content)) {
    ::chmod(source.c_str(), 0640);
    const timespec times[2] = {{0, UTIME_OMIT}, {1'000'000'000, 123456789}};
    ::utimensat(AT_FDCWD, source.c_str(), times, 0);
  }

  const std::string content = std::string(3'000'000, 'c') + "end";  // several blocks
  testing::TempDir dir;
  const std::string source;
  std::string err;
};

TEST_F(CopyTest, KernelCopyKeepsBytesModeAndTimeAndReplacesAnOldTarget) {
  dir.Write("out/old.bin", "old");
  ::chmod((dir / "out/old.bin").c_str(), 0444);
  for (const char* name : {"out/new.bin", "out/old.bin"}) {
    ASSERT_TRUE(SystemFileSystem().CopyFile(source, dir / name, &err)) << err;
    EXPECT_TRUE(ReadAll(dir / name) == content) << name;
    struct stat st;
    ::stat((dir / name).c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << name;
    EXPECT_EQ(st.st_mtim.tv_sec * 1'000'000'000 + st.st_mtim.tv_nsec, 1'000'000'000'123'456'789);
  }
  EXPECT_EQ(Tree(dir / "out").size(), 2u);  // no temporary left beside them
}

TEST_F(CopyTest, RefusesItselfAndAnythingButARegularFile) {
  ::link(source.c_str(), (dir / "src/hard.bin").c_str());
  ::symlink("/dev/zero", (dir / "zero").c_str());
  ::mkfifo((dir / "pipe").c_str(), 0600);
  const std::pair<std::string, std::string> cases[] = {
      {source, "无法复制到“" + dir / "src/hard.bin" + "”：与源文件是同一个文件"},
      {dir / "zero", "无法打开文件“" + dir / "zero" + "”：不是普通文件"},
      {dir / "pipe", "无法打开文件“" + dir / "pipe" + "”：不是普通文件"}};  // without waiting
  for (const auto& [from, message] : cases) {
    EXPECT_FALSE(SystemFileSystem().CopyFile(from, dir / "src/hard.bin", &err));
    EXPECT_EQ(err, message);
  }
  EXPECT_TRUE(ReadAll(source) == content);
}

TEST_F(CopyTest, AFailedCopyLeavesTheOldTargetWholeAndNoPartialFile) {
  dir.Write("out/old.bin", "old");
  using Op = FaultyFileSystem::Op;
  for (const auto& [op, after] : {std::pair{Op::Write, 100'000}, {Op::Read, 5}, {Op::Rename, 0}}) {
    FaultyFileSystem fs(SystemFileSystem());
    fs.FailWhen(op, "/", ENOSPC, after);
    EXPECT_FALSE(fs.CopyFile(source, dir / "out/old.bin", &err));
    // A new name is written directly; it needs no rename.
    EXPECT_EQ(fs.CopyFile(source, dir / "out/new.bin", &err), op == Op::Rename);
    ::unlink((dir / "out/new.bin").c_str());
    EXPECT_EQ(Tree(dir / "out"), Names{"old.bin=old"});
    EXPECT_EQ(fs.open_files(), 0);
  }
}

TEST_F(CopyTest, FolderCopyKeepsLinksAndHiddenEntriesMergesAndNeverEntersItsDestination) {
  dir.Write("src/.hidden", "h");
  dir.Write("src/sub/x", "x");
  ::symlink("/etc", (dir / "src/link").c_str());
  ::chmod((dir / "src/sub").c_str(), 0750);
  dir.Write("src/copy/.hidden", "old");  // the destination is there already, inside the source
  dir.Write("src/copy/mine", "kept");
  ::symlink("elsewhere", (dir / "src/copy/link").c_str());
  ASSERT_TRUE(SystemFileSystem().CopyFolder(dir / "src", dir / "src/copy", &err)) << err;
  EXPECT_EQ(Tree(dir / "src/copy"), (Names{".hidden=h", "a.bin=" + content, "link -> /etc",
                                           "mine=kept", "sub/", "sub/x=x"}));
  struct stat st;
  EXPECT_EQ(::stat((dir / "src/copy/sub").c_str(), &st) == 0 ? st.st_mode & 0777 : 0, 0750u);

  ::mkfifo((dir / "src/sub/pipe").c_str(), 0600);
  EXPECT_FALSE(SystemFileSystem().CopyFolder(dir / "src/sub", dir / "other", &err));
  EXPECT_EQ(err, "无法复制“" + dir / "src/sub/pipe" + "”：不是普通文件、目录或符号链接");
  EXPECT_FALSE(SystemFileSystem().CopyFolder(dir / "src", dir / "src/", &err));
  EXPECT_EQ(err, "无法复制到“" + dir / "src/" + "”：与源目录是同一个目录");
}

}  // namespace
}  // namespace quorvane
