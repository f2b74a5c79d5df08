#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <sstream>

#include "office/package.h"
#include "support/deep_tree.h"
#include "support/docx_samples.h"
#include "support/temp_dir.h"

namespace quorvane {
namespace {

using namespace testing;
using Paths = std::vector<std::string>;

// The exit status, then what the program wrote to standard error and to standard output.
struct Result {
  int status; std::string err, out = "";
  bool operator==(const Result&) const = default;
};
void PrintTo(const Result& r, std::ostream* os) {
  *os << r.status << " [" << r.err << "] [" << r.out << "]";
}

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
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(dir / "stderr"),
            ReadAll(dir / "stdout")};
  }

  TempDir dir;
};

TEST_F(CliTest, MergeFiles) {
  for (const char* name : {"2.bin", "10.bin", "1.bin", "skip.txt"}) dir.Write(name, name);
  EXPECT_EQ(Batch({"merge-files", ".", "all", "--mode", "binary"}),  // a question is answered No
            (Result{1, "目标文件不存在！是否创建？ 否（需要确认时请加 --yes）\n"}));
  EXPECT_EQ(ReadAll(dir / "all"), "<missing>");
  EXPECT_EQ(Batch({"merge-files", ".", "all", "--mode", "binary", "--yes"}),
            (Result{0, "目标文件不存在！是否创建？ 是\n操作完成！\n"}));
  EXPECT_EQ(ReadAll(dir / "all"), "1.bin2.bin10.bin");  // the mode's pattern, in natural order
  // An empty pattern matches nothing, as the empty box does.
  EXPECT_EQ(Batch({"merge-files", ".", "all", "--pattern", ""}),
            (Result{1, "没有符合条件的文件存在，请重新设置文件类型和源文件名！\n"}));
  EXPECT_EQ(Batch({"merge-files", "."}).status, 1);  // a missing argument
  EXPECT_EQ(Batch({"merge-files", ".", "b", "--mode", "zip"}).status, 1);
  // Relative paths are taken from the working folder; "--" lets a name begin with a dash.
  dir.Write("-src/x1.dat", "1\n");
  dir.Write("-src/x2.dat", "2\n");
  EXPECT_EQ(Batch({"merge-files", "--pattern", "x?.dat", "--yes", "--quiet", "--", "-src", "-out"}),
            (Result{0, ""}));
  EXPECT_EQ(ReadAll(dir / "-out"), "1\r\n2\r\n");
}

TEST_F(CliTest, MergeFilesAsWordDocuments) {
  dir.MakeFolder("src");
  std::string err;
  for (const std::string name : {"1", "2"})
    ASSERT_TRUE(WriteDocx({.paragraphs = {name}}, dir / ("src/" + name + ".docx"), &err)) << err;
  dir.Write("src/notes.txt", "not a document");  // the mode's pattern leaves it out
  EXPECT_EQ(Batch({"merge-files", "src", "all.docx", "--mode", "word", "--yes"}),
            (Result{0, "目标文件不存在！是否创建？ 是\n操作完成！\n"}));
  const auto joined = office::Package::Open(SystemFileSystem(), dir / "all.docx", &err);
  ASSERT_TRUE(joined) << err;
  EXPECT_EQ(joined->MainPart(), "/word/document.xml");
}

TEST_F(CliTest, CreateFilesAndFolders) {
  EXPECT_EQ(Batch({"create-files", "out", "--from", "-1", "--to", "1", "--prefix", "", "--yes"}),
            (Result{0, "指定的路径不存在，是否要创建？ 是\n操作完成！\n"}));
  EXPECT_EQ(Tree(dir / "out"), (Paths{"-1=", "0=", "1="}));
  // An empty suffix is the ticked, empty box: the same names, which are there now.
  EXPECT_EQ(Batch({"create-files", "out", "--from=-1", "--to", "1", "--suffix", ""}),
            (Result{1, "有 3 个同名文件已存在，是否覆盖？ 否（需要确认时请加 --yes）\n"}));
  // out/1 is a file.
  EXPECT_EQ(Batch({"create-folders", "out", "--from", "1", "--to", "2", "--quiet"}).status, 2);
}

TEST_F(CliTest, RenameFilesAndFolders) {
  dir.Write("d/b.txt", "b");
  dir.Write("d/a.txt", "a");
  dir.Write("d/10", "k");
  dir.MakeFolder("d/sub");
  EXPECT_EQ(Batch({"rename-files", "d", "--from", "9", "--suffix", "doc", "--pattern", "*.txt",
                   "--dry-run"}), (Result{0, "", "a.txt -> 9.doc\nb.txt -> 10.doc\n"}));
  const auto status = [&](const std::vector<std::string>& args) { return Batch(args).status; };
  // 10 is taken.
  EXPECT_EQ(status({"rename-files", "d", "--from", "9", "--suffix", "", "--pattern", "*.txt"}), 1);
  EXPECT_EQ(status({"rename-files", "d", "--from", "7", "--digits", "2", "--pattern", "*.txt",
                    "--quiet"}), 0);
  EXPECT_EQ(Batch({"rename-folders", "d", "--from", "1", "--prefix", "s"}),
            (Result{0, "操作完成！\n"}));
  EXPECT_EQ(Tree(dir / "d"), (Paths{"07=a", "08=b", "10=k", "s1/"}));
}

TEST_F(CliTest, MergeFoldersInTheOrderGiven) {
  dir.Write("a/1.txt", "a1");
  dir.Write("a/sub/deep/2.txt", "a2");
  dir.Write("b/1.txt", "b1");
  EXPECT_EQ(Batch({"merge-folders", "b", "a", "--target", "out", "--yes"}),
            (Result{0, "指定的目标目录不存在，是否创建？ 是\n操作完成！\n"}));
  EXPECT_EQ(Tree(dir / "out"), Paths{"1.txt=a1"});
  EXPECT_EQ(Batch({"merge-folders", "a", "--target", "out", "--all-levels", "--quiet"}).status, 0);
  EXPECT_EQ(Tree(dir / "out"), (Paths{"1.txt=a1", "2.txt=a2"}));
  EXPECT_EQ(Batch({"merge-folders", "a", "gone", "--target", "out", "--quiet"}),
            (Result{2, "系统错误：找不到目录“gone”：没有那个文件或目录\n"}));
}

// 40 folders of 200-byte names, twice as deep in path bytes as the system takes in one call.
TEST_F(CliTest, MergeFoldersReachesFilesBelowTheLongestPath) {
  dir.MakeFolder("deep");
  MakeDeepTree(dir / "deep", 40, {0, 20, 39, 40});
  EXPECT_EQ(Batch({"merge-folders", "deep", "--target", "out", "--all-levels", "--yes"}),
            (Result{0, "指定的目标目录不存在，是否创建？ 是\n操作完成！\n"}));
  EXPECT_EQ(Tree(dir / "out"), (Paths{"f0.txt=0", "f20.txt=20", "f39.txt=39", "f40.txt=40"}));
}

TEST_F(CliTest, HelpMentionsEveryOption) {
  const std::string numbering = "FOLDER --from --step --prefix --suffix --yes --quiet";
  const std::pair<const char*, std::string> commands[] = {
      {"merge-files", "SOURCE_DIR DESTINATION --pattern --mode --yes --quiet"},
      {"create-files", numbering + " --to --zero-fill --template"},
      {"create-folders", numbering + " --to --zero-fill --template"},
      {"rename-files", numbering + " --digits --pattern --dry-run"},
      {"rename-folders", numbering + " --digits --dry-run"},
      {"merge-folders", "SOURCE_DIR --target --all-levels --yes --quiet"},
  };
  for (const auto& [command, options] : commands) {
    const Result help = Batch({command, "--help"});
    EXPECT_EQ(help.status, 0);
    std::istringstream words(options);
    for (std::string option; words >> option;)
      EXPECT_NE(help.out.find(option), std::string::npos) << command << " " << option;
  }
}

}  // namespace
}  // namespace quorvane
