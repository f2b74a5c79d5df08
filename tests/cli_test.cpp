#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "support/temp_dir.h"

namespace quorvane {
namespace {

using testing::ReadAll;
using testing::TempDir;

struct Result {
  int status;
  std::string err;
  std::string out;
};

std::string Quoted(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class CliTest : public ::testing::Test {
 protected:
  // Runs quorvane-batch as a script would, in the test folder, with no terminal on
  // standard input.
  Result Batch(const std::vector<std::string>& args) {
    std::string command = "cd " + Quoted(dir.path()) + " && " + Quoted(QUORVANE_BATCH);
    for (const auto& a : args) command += " " + Quoted(a);
    command += " </dev/null >" + Quoted(dir / "stdout") + " 2>" + Quoted(dir / "stderr");
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(dir / "stderr"), ReadAll(dir / "stdout")};
  }

  TempDir dir;
};

TEST_F(CliTest, MergesWithTheModesDefaultPattern) {
  dir.Write("src/2.bin", "BB");
  dir.Write("src/10.bin", "CC");
  dir.Write("src/1.bin", "AA");
  dir.Write("src/skip.txt", "no");
  const Result r = Batch({"merge-files", dir / "src", dir / "out/all.bin", "--mode", "binary",
                          "--yes"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadAll(dir / "out/all.bin"), "AABBCC");
  EXPECT_EQ(r.err, "目标文件不存在！是否创建？ 是\n操作完成！\n");
  EXPECT_EQ(r.out, "");
}

TEST_F(CliTest, ExitStatusesTellCompletedRefusedAndFailed) {
  dir.Write("src/a.txt", "a");
  dir.Write("src/b.txt", "b");
  // A question in a script is answered No.
  Result r = Batch({"merge-files", dir / "src", dir / "all.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("目标文件不存在！是否创建？"), std::string::npos);
  EXPECT_EQ(ReadAll(dir / "all.txt"), "<missing>");

  r = Batch({"merge-files", dir / "nowhere", dir / "all.txt", "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "源文件目录不存在！\n");

  r = Batch({"merge-files", dir / "src", dir / "all.txt", "--mode", "word", "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadAll(dir / "all.txt"), "<missing>");

  dir.MakeFolder("a folder");
  r = Batch({"merge-files", dir / "src", dir / "a folder", "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "“" + dir.path() + "/a folder”是一个目录，请输入目标文件完整的路径！\n");

  r = Batch({"merge-files", dir / "src", dir / "all.txt", "--pattern", "", "--yes"});
  EXPECT_EQ(r.status, 1);  // an empty pattern matches nothing, as the empty box does
  EXPECT_EQ(ReadAll(dir / "all.txt"), "");

  r = Batch({"merge-files", dir / "src", dir / "none/*.txt", "--pattern", "nosub/*.txt"});
  EXPECT_EQ(r.status, 1);

  r = Batch({"merge-files", dir / "src", dir / "all.txt", "--quiet", "--yes"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadAll(dir / "all.txt"), "a\r\nb\r\n");
}

TEST_F(CliTest, OptionsAndOddNames) {
  dir.Write("-src/x1.dat", "1\n");
  dir.Write("-src/x2.dat", "2\n");
  dir.Write("-src/y.txt", "y\n");
  // Relative paths are taken from the working folder; "--" lets a name begin with a dash.
  const Result r = Batch({"merge-files", "--pattern", "x?.dat", "--yes", "--quiet", "--",
                          "-src", "-out.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadAll(dir / "-out.txt"), "1\r\n2\r\n");

  EXPECT_EQ(Batch({"merge-files", dir.path()}).status, 1);  // a missing argument
  EXPECT_EQ(Batch({"merge-files", "a", "b", "--mode", "zip"}).status, 1);
  const Result help = Batch({"merge-files", "--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* option : {"--pattern", "--mode", "--yes", "--quiet", "SOURCE_DIR", "DESTINATION"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

TEST_F(CliTest, CreateFilesAndFolders) {
  Result r = Batch({"create-files", "out", "--from", "-1", "--to", "1", "--prefix", "", "--yes"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "指定的路径不存在，是否要创建？ 是\n操作完成！\n");
  EXPECT_EQ(testing::Tree(dir / "out"), (std::vector<std::string>{"-1=", "0=", "1="}));
  // An empty suffix is the ticked, empty box: the same names, which are there now.
  r = Batch({"create-files", "out", "--from=-1", "--to", "1", "--suffix", ""});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "有 3 个同名文件已存在，是否覆盖？ 否（需要确认时请加 --yes）\n");
  EXPECT_EQ(Batch({"create-files", "out", "--from", "1", "--to", "2", "--step", "0"}).status, 1);
  r = Batch({"create-folders", "out", "--from", "1", "--to", "2", "--template", "out"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "要建立的目录“1”与模板目录相同或互相包含，没有建立任何目录！\n");
  r = Batch({"create-folders", "out", "--from", "1", "--to", "2", "--quiet"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "系统错误：无法创建目录“out/1”：已经存在\n");
  const Result help = Batch({"create-folders", "--help"});
  for (const char* option : {"FOLDER", "--from", "--to", "--step", "--zero-fill", "--prefix",
                             "--suffix", "--template", "--yes", "--quiet"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

TEST_F(CliTest, RenameFilesAndFolders) {
  dir.Write("d/b.txt", "b");
  dir.Write("d/a.txt", "a");
  dir.Write("d/10", "k");
  dir.MakeFolder("d/sub");
  Result r = Batch({"rename-files", "d", "--from", "9", "--suffix", "doc", "--pattern", "*.txt", "--dry-run"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "a.txt -> 9.doc\nb.txt -> 10.doc\n");
  EXPECT_EQ(r.err, "");
  r = Batch({"rename-files", "d", "--from", "9", "--digits", "2", "--suffix", "", "--pattern", "*.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "新名称“10”已被占用，没有重命名任何文件！\n");
  r = Batch({"rename-files", "d", "--from", "7", "--digits", "2", "--pattern", "*.txt", "--quiet"});
  EXPECT_EQ(r.status, 0);
  r = Batch({"rename-folders", "d", "--from", "1", "--prefix", "s"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "操作完成！\n");
  EXPECT_EQ(testing::Tree(dir / "d"), (std::vector<std::string>{"07=a", "08=b", "10=k", "s1/"}));
  EXPECT_EQ(Batch({"rename-folders", "d", "--from", "1", "--step", "0"}).status, 1);
  const Result help = Batch({"rename-files", "--help"});
  for (const char* option : {"FOLDER", "--from", "--step", "--digits", "--prefix", "--suffix",
                             "--pattern", "--dry-run", "--yes", "--quiet"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

TEST_F(CliTest, MergeFoldersInTheOrderGiven) {
  dir.Write("a/1.txt", "a1");
  dir.Write("a/sub/deep/2.txt", "a2");
  dir.Write("b/1.txt", "b1");
  EXPECT_EQ(Batch({"merge-folders", "b", "a", "--target", "out"}).status, 1);  // No in a script
  Result r = Batch({"merge-folders", "b", "a", "--target", "out", "--yes"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "指定的目标目录不存在，是否创建？ 是\n操作完成！\n");
  EXPECT_EQ(testing::Tree(dir / "out"), std::vector<std::string>{"1.txt=a1"});
  EXPECT_EQ(Batch({"merge-folders", "a", "--target", "out", "--all-levels", "--quiet"}).status, 0);
  EXPECT_EQ(ReadAll(dir / "out/2.txt"), "a2");
  r = Batch({"merge-folders", "a", "gone", "--target", "out", "--quiet"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "系统错误：找不到目录“gone”：没有那个文件或目录\n");
  const Result help = Batch({"merge-folders", "--help"});
  for (const char* option : {"SOURCE_DIR", "--target", "--all-levels", "--yes", "--quiet"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace quorvane
