#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "office/package.h"
#include "support/cut_short_batch.h"
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

  TempDir dir, state;
  const StateHome home{state.path()};  // the program's journals of rename batches
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
  dir.Write("d/b c.txt", "b");  // a name the plan quotes as ls does
  dir.Write("d/a.txt", "a");
  dir.Write("d/10", "k");
  dir.MakeFolder("d/sub");
  EXPECT_EQ(Batch({"rename-files", "d", "--from", "9", "--suffix", "doc", "--pattern", "*.txt",
                   "--dry-run"}), (Result{0, "", "a.txt -> 9.doc\n'b c.txt' -> 10.doc\n"}));
  const auto status = [&](const std::vector<std::string>& args) { return Batch(args).status; };
  // 10 is taken.
  EXPECT_EQ(status({"rename-files", "d", "--from", "9", "--suffix", "", "--pattern", "*.txt"}), 1);
  EXPECT_EQ(status({"rename-files", "d", "--from", "7", "--digits", "2", "--pattern", "*.txt",
                    "--quiet"}), 0);
  EXPECT_EQ(Batch({"rename-folders", "d", "--from", "1", "--prefix", "s"}),
            (Result{0, "操作完成！\n"}));
  EXPECT_EQ(Tree(dir / "d"), (Paths{"07=a", "08=b", "10=k", "s1/"}));
}

TEST_F(CliTest, RecoverAndUndoRenameBatches) {
  dir.Write("d/1", "one");
  dir.Write("d/2", "two");
  const std::string d = dir / "d/";
  ASSERT_EQ(CutShortSwap(d), "");
  EXPECT_EQ(Batch({"rename-files", "d", "--from", "5"}),
            (Result{1, "“" + d + "”中上次的重命名被中断了（共 2 个项目），请先恢复它"
                       "（quorvane-batch recover）再重命名！\n"}));
  EXPECT_EQ(Batch({"recover"}),
            (Result{0, "已完成上次中断的重命名：“" + d + "”，共 2 个项目。\n"}));
  EXPECT_EQ(Tree(d), (Paths{"1=two", "2=one"}));
  EXPECT_EQ(Batch({"recover"}), (Result{0, "没有中断的重命名。\n"}));
  // The recovered batch is undone as a completed one, after the question.
  const std::string question = "是否撤销上次在“" + d + "”中的重命名（共 2 个文件）？";
  EXPECT_EQ(Batch({"undo", "d"}), (Result{1, question + " 否（需要确认时请加 --yes）\n"}));
  EXPECT_EQ(Tree(d), (Paths{"1=two", "2=one"}));
  EXPECT_EQ(Batch({"undo", "d", "--yes"}),
            (Result{0, question + " 是\n已撤销上次在“" + d + "”中的重命名，共 2 个文件。\n"}));
  EXPECT_EQ(Tree(d), (Paths{"1=one", "2=two"}));
  EXPECT_EQ(Batch({"undo", "d", "--yes"}), (Result{1, "“d”中没有可以撤销的重命名！\n"}));
  // Taken back instead: the old names, and nothing under a temporary name.
  ASSERT_EQ(CutShortSwap(d), "");
  EXPECT_EQ(Batch({"recover", "--undo"}),
            (Result{0, "已撤销上次中断的重命名：“" + d + "”，共 2 个项目。\n"}));
  EXPECT_EQ(Tree(d), (Paths{"1=one", "2=two"}));
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

TEST_F(CliTest, AFailedWriteToTheOutputIsAFailure) {
  dir.Write("d/a.txt", "x");
  const auto status = [&](const std::string& command) {
    const int raw = std::system(("cd " + Quoted(dir.path()) + " && " + Quoted(QUORVANE_BATCH) +
                                 " " + command + " </dev/null").c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  };
  EXPECT_EQ(status("rename-files d --from 1 --dry-run >/dev/full 2>/dev/null"), 2);
  EXPECT_EQ(status("rename-files d --from 1 --dry-run >/dev/null 2>/dev/null"), 0);
  EXPECT_EQ(status("create-files --help >/dev/full 2>/dev/null"), 2);
  // The question cannot be shown: it is not taken for answered, and nothing is made.
  EXPECT_EQ(status("create-files out --from 1 --to 2 --yes 2>/dev/full"), 2);
  EXPECT_EQ(Tree(dir.path()), (Paths{"d/", "d/a.txt=x"}));
  // A full disk for the messages alone: the run's work is done, but the status says 2.
  EXPECT_EQ(status("create-files d --from 1 --to 2 2>/dev/full"), 2);
  EXPECT_EQ(Tree(dir / "d"), (Paths{"1=", "2=", "a.txt=x"}));
}

// Starts quorvane-batch with `args` in the test folder, its output in files there.
pid_t Start(const TempDir& dir, const std::vector<std::string>& args) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const std::string out = dir / "stdout", err = dir / "stderr";
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> all = {QUORVANE_BATCH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(::posix_spawn(&pid, QUORVANE_BATCH, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

TEST_F(CliTest, ASignalStopsALongRunWhichCleansUpAndEndsWith128PlusItsNumber) {
  dir.Write("t", std::string(1 << 16, 't'));
  const struct { int signal; std::vector<std::string> template_option; } rows[] = {
      {SIGINT, {}}, {SIGTERM, {"--template", dir / "t"}}, {SIGHUP, {}}};
  for (const auto& r : rows) {
    std::filesystem::remove_all(dir / "out");
    dir.MakeFolder("out");
    std::vector<std::string> args = {"create-files", dir / "out", "--from", "1", "--to",
                                     "300000", "--yes"};
    args.insert(args.end(), r.template_option.begin(), r.template_option.end());
    const pid_t pid = Start(dir, args);
    // Once the first files are there the run is making them.
    while (std::filesystem::is_empty(dir / "out")) ::usleep(1000);
    ::kill(pid, r.signal);
    int raw = 0;
    ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
    ASSERT_TRUE(WIFEXITED(raw)) << r.signal;
    EXPECT_EQ(WEXITSTATUS(raw), 128 + r.signal);
    const std::string err = ReadAll(dir / "stderr");
    EXPECT_TRUE(err.starts_with("操作已停止：已完成 ")) << err;
    EXPECT_NE(err.find(" 个，共 300000 个。\n"), std::string::npos) << err;
    // Every file named in the report is there and whole, and nothing else is.
    const long done = std::stol(err.substr(std::string("操作已停止：已完成 ").size()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "out"), {}), done);
    for (const auto& entry : std::filesystem::directory_iterator(dir / "out")) {
      EXPECT_FALSE(entry.path().filename().native().starts_with(".quorvane-")) << entry.path();
      EXPECT_EQ(entry.file_size(), r.template_option.empty() ? 0u : 1u << 16) << entry.path();
    }
  }
}

TEST_F(CliTest, ASignalAnswersAQuestionAtTheTerminalWithNo) {
  int terminal = -1;
  const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const std::string folder = dir / "new";
    ::execl(QUORVANE_BATCH, QUORVANE_BATCH, "create-files", folder.c_str(), "--from", "1",
            "--to", "3", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::string shown;
  char buffer[256];
  while (shown.find("[y/N]") == std::string::npos) {
    const ssize_t got = ::read(terminal, buffer, sizeof buffer);
    ASSERT_GT(got, 0) << shown;
    shown.append(buffer, static_cast<size_t>(got));
  }
  ::kill(pid, SIGINT);
  int raw = 0;
  ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
  ::close(terminal);
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 130) << raw;
  EXPECT_EQ(ReadAll(dir / "new"), "<missing>");
  EXPECT_EQ(shown, "指定的路径不存在，是否要创建？ [y/N] ");
}

}  // namespace
}  // namespace quorvane
