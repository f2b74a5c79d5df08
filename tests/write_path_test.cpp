// The write path: where a file is written, what it replaces, what it keeps, and what it
// leaves behind.
#include "common/write_path.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "support/faulty_filesystem.h"
#include "support/temp_dir.h"

namespace quorvane {
namespace {

using namespace testing;
using Paths = std::vector<std::string>;

// Each case runs on the system's file system as it is, and as it is where unnamed files are
// missing (every pending file bears a locked temporary name from the start).
class WritePathTest : public ::testing::TestWithParam<bool> {
 protected:
  WritePathTest()
      : named_(MakeSystemFileSystem({.unnamed_pending_files = false})),
        real(GetParam() ? *named_ : SystemFileSystem()) {}

  // Writes `bytes` for `target` through the write path.
  bool Put(const std::string& target, const std::string& bytes) { return Put(target, bytes, real); }
  bool Put(const std::string& target, const std::string& bytes, FileSystem& fs) {
    auto out = FileWrite::Begin(fs, target, &err);
    return out && out->file().Write(bytes.data(), bytes.size(), &err) && out->Commit(&err);
  }
  static unsigned Mode(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }

  const std::unique_ptr<FileSystem> named_;
  FileSystem& real;
  TempDir dir;
  std::string err;
};

TEST_P(WritePathTest, ANewFileHasTheUsualModeAReplacedOneKeepsItsOwn) {
  const mode_t mask = ::umask(027);
  EXPECT_TRUE(Put(dir / "new", "n")) << err;
  EXPECT_EQ(Mode(dir / "new"), 0640u);
  ::umask(mask);
  dir.Write("old", "old content");
  ::chmod((dir / "old").c_str(), 0604);
  EXPECT_TRUE(Put(dir / "old", "replaced")) << err;
  EXPECT_EQ(Mode(dir / "old"), 0604u);
  EXPECT_EQ(Tree(dir.path()), (Paths{"new=n", "old=replaced"}));
  // An empty file, such as a merge makes for a new destination, is swapped out and removed.
  dir.Write("empty", "");
  ::chmod((dir / "empty").c_str(), 0600);
  EXPECT_TRUE(Put(dir / "empty", "full")) << err;
  EXPECT_EQ(Mode(dir / "empty"), 0600u);
  EXPECT_EQ(Tree(dir.path()), (Paths{"empty=full", "new=n", "old=replaced"}));
}

TEST_P(WritePathTest, ALinkStaysAndTheFileItLeadsToIsReplacedInItsOwnFolder) {
  dir.Write("data/real.txt", "old");
  dir.MakeFolder("links");
  ::symlink("../data/real.txt", (dir / "links/relative").c_str());
  ::symlink((dir / "links/relative").c_str(), (dir / "links/absolute").c_str());
  ::symlink("../data/made.txt", (dir / "links/dangling").c_str());
  for (const char* target : {"links/relative", "links/absolute"}) {
    EXPECT_TRUE(Put(dir / target, target)) << err;
    EXPECT_EQ(ReadAll(dir / "data/real.txt"), target);
  }
  EXPECT_TRUE(Put(dir / "links/dangling", "made")) << err;
  EXPECT_EQ(Tree(dir.path()),
            (Paths{"data/", "data/made.txt=made", "data/real.txt=links/absolute", "links/",
                   "links/absolute -> " + dir / "links/relative",
                   "links/dangling -> ../data/made.txt", "links/relative -> ../data/real.txt"}));
  ::symlink("loop", (dir / "loop").c_str());
  EXPECT_FALSE(Put(dir / "loop", "x"));
  EXPECT_EQ(err, "无法写入文件“" + dir / "loop" + "”：符号链接层次太多");
  dir.MakeFolder("folder");
  EXPECT_FALSE(Put(dir / "folder", "x"));
  EXPECT_EQ(err, "无法写入文件“" + dir / "folder" + "”：是一个目录");
}

TEST_P(WritePathTest, TwoWritesIntoOneFileAtOnceEachLeaveAWholeResult) {
  dir.Write("all", "old");
  const std::string first(300'000, 'a'), second(200'000, 'b');
  auto a = FileWrite::Begin(real, dir / "all", &err);
  auto b = FileWrite::Begin(real, dir / "all", &err);
  ASSERT_TRUE(a && b) << err;
  for (int i = 0; i < 2; ++i) {  // interleaved halves
    ASSERT_TRUE(a->file().Write(first.data() + i * 150'000, 150'000, &err)) << err;
    ASSERT_TRUE(b->file().Write(second.data() + i * 100'000, 100'000, &err)) << err;
  }
  ASSERT_TRUE(b->Commit(&err)) << err;
  EXPECT_EQ(ReadAll(dir / "all"), second);
  ASSERT_TRUE(a->Commit(&err)) << err;
  EXPECT_EQ(ReadAll(dir / "all"), first);
  EXPECT_EQ(Tree(dir.path()).size(), 1u);
}

TEST_P(WritePathTest, AKilledRunsLeftoversGoButNothingElseAndNoRunningWritesFile) {
  // A killed run's file: under the reserved prefix and locked by no one.
  dir.Write(".quorvane-tmp-killed", "partial");
  // A write going on in another process: its file is locked through its own descriptor.
  dir.Write(".quorvane-tmp-running", "busy");
  const int held = ::open((dir / ".quorvane-tmp-running").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  // Names that only look alike, and a rename batch's temporary name, are not the write
  // path's to remove.
  dir.Write(".quorvane-tmp", "t");
  dir.Write(".quorvane-rename-0", "an item of a rename batch");
  dir.Write("quorvane-tmp-x", "visible");
  dir.MakeFolder(".quorvane-tmp-folder");
  // A link on its way into a copied folder, from a process that is gone, and from this one.
  ::symlink("x", (dir / ".quorvane-tmp-link-999999999-0").c_str());
  const std::string mine = ".quorvane-tmp-link-" + std::to_string(::getpid()) + "-0";
  ::symlink("x", (dir / mine).c_str());
  EXPECT_TRUE(Put(dir / "result", "r")) << err;
  EXPECT_EQ(Tree(dir.path()),
            (Paths{".quorvane-rename-0=an item of a rename batch", ".quorvane-tmp-folder/",
                   mine + " -> x", ".quorvane-tmp-running=busy", ".quorvane-tmp=t", "quorvane-tmp-x=visible",
                   "result=r"}));
  ::close(held);
}

TEST_P(WritePathTest, EachStepThatFailsLeavesTheOldFileAndNamesTheTarget) {
  using Op = FaultyFileSystem::Op;
  dir.MakeFolder("data");
  ::symlink("data/real", (dir / "link").c_str());
  const std::string shown = dir / "link";
  const struct { Op op; const char* part; std::string message; } rows[] = {
      {Op::OpenWrite, "link", "无法打开文件“" + shown + "”：磁盘空间不足"},
      {Op::Write, "link", "无法写入文件“" + shown + "”：磁盘空间不足"},
      {Op::Sync, "link", "无法写入文件“" + shown + "”：磁盘空间不足"},
      {Op::Rename, "real", "无法写入文件“" + shown + "”：无法改名为“" + dir / "data/real" +
                               "”：磁盘空间不足"},
  };
  for (const auto& r : rows) {
    dir.Write("data/real", "old");
    FaultyFileSystem faulty(real);
    faulty.FailWhen(r.op, r.part, ENOSPC);
    EXPECT_FALSE(Put(shown, "new", faulty));
    EXPECT_EQ(err, r.message);
    EXPECT_EQ(Tree(dir.path()), (Paths{"data/", "data/real=old", "link -> data/real"}));
    EXPECT_EQ(faulty.open_files, 0);
  }
}

// A folder left by a killed copy goes with everything in it, and only such a folder: one
// that a running copy holds, and folders of the user's that only look alike, stay.
TEST_P(WritePathTest, AKilledCopysFolderGoesWithItsContentAndNoOtherFolderDoes) {
  const auto mark = [&](const std::string& name) {
    dir.Write(name + "/inner/file", "partial");
    ::chmod((dir / name).c_str(), 01700);
  };
  mark(".quorvane-tmp-Ab12cd");                  // a killed copy's folder
  dir.MakeFolder(".quorvane-tmp-user01");         // the user's, unmarked
  mark(".quorvane-tmp-longer1");                  // not the shape of the name
  mark("quorvane-tmp-abcdef");                    // not the prefix
  auto held = real.OpenPendingFolder(dir.path() + "/", dir / "copy", &err);  // a running copy
  ASSERT_TRUE(held) << err;
  dir.Write(held->path().substr(dir.path().size() + 1) + "/inside", "being copied");
  const auto other = MakeSystemFileSystem({.unnamed_pending_files = !GetParam()});
  EXPECT_TRUE(Put(dir / "result", "r", *other)) << err;
  const std::string running = held->path().substr(dir.path().size() + 1);
  Paths stay = {running + "/", running + "/inside=being copied", ".quorvane-tmp-longer1/",
                ".quorvane-tmp-longer1/inner/", ".quorvane-tmp-longer1/inner/file=partial",
                ".quorvane-tmp-user01/", "quorvane-tmp-abcdef/", "quorvane-tmp-abcdef/inner/",
                "quorvane-tmp-abcdef/inner/file=partial", "result=r"};
  std::sort(stay.begin(), stay.end());
  EXPECT_EQ(Tree(dir.path()), stay);
  held.reset();  // given up: it goes with what is in it
  EXPECT_EQ(Tree(dir.path()).size(), 8u);
}

INSTANTIATE_TEST_SUITE_P(UnnamedAndNamed, WritePathTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

}  // namespace
}  // namespace quorvane
