// A run killed at any point of its work leaves every final name with its old content or its
// complete new content, and the next run in the same folders leaves no temporary file.
//
// Each run goes in a child process that ends itself by SIGKILL just before its k-th
// file-system operation, for every k the run reaches.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "filetasks/file_build_run.h"
#include "filetasks/file_merge_run.h"
#include "foldertasks/folder_build_run.h"
#include "foldertasks/folder_merge_run.h"
#include "support/docx_samples.h"
#include "support/faulty_filesystem.h"
#include "support/package_check.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"
#include "support/xlsx_samples.h"

namespace quorvane {
namespace {

using namespace testing;

// One task to kill: what is on disk before, the run, and what each final name may hold
// after (its old or its new content; a missing name is "<missing>").
struct Scenario {
  std::function<void(const TempDir&)> prepare;
  std::function<RunOutcome(FileSystem&, const TempDir&)> run;
  std::map<std::string, std::set<std::string>> allowed;
  // For a result whose bytes differ from run to run (a package): checks it as a whole.
  std::function<bool(const std::string& path)> whole = nullptr;
  // Folders that are missing or a whole copy of another: name, and the folder copied.
  std::map<std::string, std::string> copies = {};
};

// Every scenario runs on the system's file system as it is, and as it is where unnamed files
// are missing: there a kill leaves a named temporary file, locked by the process it died with,
// for the next run to sweep.
class KillTest : public ::testing::TestWithParam<bool> {
 protected:
  KillTest()
      : named_(MakeSystemFileSystem({.unnamed_pending_files = false})),
        base_(GetParam() ? *named_ : SystemFileSystem()) {}

  void KillEverywhere(const Scenario& scenario);

  const std::unique_ptr<FileSystem> named_;
  FileSystem& base_;
};

// The operations a whole run makes, counted in a run that is not killed.
int CountOperations(const Scenario& scenario, FileSystem& base) {
  TempDir dir;
  scenario.prepare(dir);
  FaultyFileSystem counting(base);
  int calls = 0;
  counting.on_call = [&](FaultyFileSystem::Op, const std::string&) { ++calls; };
  EXPECT_EQ(scenario.run(counting, dir), RunOutcome::Completed);
  return calls;
}

// Runs the scenario in a child killed before its k-th operation; true when it was killed.
bool RunKilledAt(const Scenario& scenario, FileSystem& base, const TempDir& dir, int k) {
  const pid_t child = ::fork();
  if (child == 0) {
    FaultyFileSystem killing(base);
    int calls = 0;
    killing.on_call = [&](FaultyFileSystem::Op, const std::string&) {
      if (++calls == k) ::raise(SIGKILL);
    };
    scenario.run(killing, dir);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

// The temporary entries in `dir` that are not inside another one.
int Temporaries(const TempDir& dir) {
  int found = 0;
  for (const auto& entry : Tree(dir.path())) {
    const auto at = entry.find(kTemporaryPrefix);
    found += at != std::string::npos && entry.find(kTemporaryPrefix, at + 1) == std::string::npos &&
             entry.find('/', at) >= entry.size() - 1;
  }
  return found;
}

void KillTest::KillEverywhere(const Scenario& scenario) {
  const int operations = CountOperations(scenario, base_);
  ASSERT_GT(operations, 3);
  ::testing::Test::RecordProperty("operations", operations);
  int left = 0;  // kills that left a temporary behind
  for (int k = 1; k <= operations; ++k) {
    TempDir dir;
    scenario.prepare(dir);
    ASSERT_TRUE(RunKilledAt(scenario, base_, dir, k)) << "operation " << k;
    for (const auto& [name, contents] : scenario.allowed) {
      const std::string now = ReadAll(dir / name);
      const bool whole = contents.contains(now) ||
                         (scenario.whole && now != "<missing>" && scenario.whole(dir / name));
      EXPECT_TRUE(whole) << name << " after a kill at operation " << k << " of " << operations
                         << " holds " << now.size() << " bytes";
    }
    for (const auto& [name, source] : scenario.copies) {
      if (SystemFileSystem().Kind(dir / name) == PathKind::Missing) continue;
      EXPECT_EQ(Tree(dir / name), Tree(dir / source))
          << name << " after a kill at operation " << k << " of " << operations;
    }
    // One write or copy goes on at a time, so one temporary at most is left.
    const int temporaries = Temporaries(dir);
    EXPECT_LE(temporaries, 1) << "after a kill at " << k;
    left += temporaries;
    // The next run finishes the work and takes away what the killed one left.
    EXPECT_EQ(scenario.run(base_, dir), RunOutcome::Completed) << k;
    EXPECT_EQ(Temporaries(dir), 0) << "after the run that followed a kill at " << k;
  }
  // Without unnamed files a kill in the middle of a write leaves its named file.
  if (GetParam()) {
    EXPECT_GT(left, 0);
  }
}

// A prepare step that writes `files` (name, content).
std::function<void(const TempDir&)> Files(std::map<std::string, std::string> files) {
  return [files](const TempDir& dir) {
    for (const auto& [name, content] : files) dir.Write(name, content);
  };
}

// A run of `task` in a window holding `fields`, "%" standing for the test folder, that
// answers Yes to its questions.
std::function<RunOutcome(FileSystem&, const TempDir&)> RunOf(
    RunOutcome (*task)(FileSystem&, TaskUi&), const std::string& fields) {
  return [task, fields](FileSystem& fs, const TempDir& dir) {
    std::string set = fields;
    for (auto at = set.find('%'); at != std::string::npos; at = set.find('%', at))
      set.replace(at, 1, dir.path());
    RecordingUi ui;
    ui.Set(set);
    ui.answers = {Answer::Yes, Answer::Yes};
    return task(fs, ui);
  };
}

const std::string kTemplate(300'000, 't');

TEST_P(KillTest, CreateFilesFromATemplate) {
  KillEverywhere(
      {.prepare = Files({{"t.bin", kTemplate}, {"out/1.txt", "old"}, {"out/2.txt", "old"}}),
       .run = RunOf(RunFileBuild, "txtPath=%/out|txtFrom=1|txtTo=4|txtStep=1|txtSuf=txt|chkSuf=1|"
                                "chkMod=1|txtModPath=%/t.bin"),
       .allowed = {{"out/1.txt", {"old", kTemplate}}, {"out/2.txt", {"old", kTemplate}},
                   {"out/3.txt", {"<missing>", kTemplate}},
                   {"out/4.txt", {"<missing>", kTemplate}}}});
}

// Each numbered folder is missing or a whole copy of the template; a killed copy's folder is
// swept by the next run, which makes the missing ones and copies into those that are there.
TEST_P(KillTest, CreateFoldersFromATemplate) {
  KillEverywhere(
      {.prepare =
           [](const TempDir& dir) {
             dir.Write("tf/a.bin", kTemplate);
             dir.Write("tf/sub/b", "b");
             dir.Write("tf/sub/deeper/c.bin", kTemplate + "c");
             dir.Write("tf/.hidden", "");
             ::symlink("a.bin", (dir / "tf/link").c_str());
             dir.MakeFolder("out");
           },
       .run = RunOf(RunFolderBuild,
                    "txtPath=%/out|txtFrom=1|txtTo=3|txtStep=1|chkMod=1|txtModPath=%/tf"),
       .copies = {{"out/1", "tf"}, {"out/2", "tf"}, {"out/3", "tf"}}});
}

TEST_P(KillTest, MergeFolders) {
  KillEverywhere(
      {.prepare = Files({{"a/1", kTemplate + "a/1"}, {"a/2", kTemplate + "a/2"},
                         {"a/b/3", kTemplate + "a/b/3"}, {"target/1", "old"},
                         {"target/3", "old"}}),
       .run = [](FileSystem& fs, const TempDir& dir) {
         RecordingUi ui;
         ui.items["lstFolderList"] = {dir / "a"};
         ui.texts["txtDestinationPath"] = dir / "target";
         return RunFolderMerge(fs, ui);
       },
       .allowed = {{"target/1", {"old", kTemplate + "a/1"}},
                   {"target/2", {"<missing>", kTemplate + "a/2"}},
                   {"target/3", {"old", kTemplate + "a/b/3"}}}});
}

// The text and binary merges of three files over an older destination: one with content,
// or the empty one a merge makes for a new destination (swapped out, not renamed over).
TEST_P(KillTest, MergeTextAndBinary) {
  const std::string line = kTemplate + "\n";
  const struct { int mode; std::string old, merged; } rows[] = {
      {0, "old", kTemplate + "\r\n" + kTemplate + "\r\n" + kTemplate + "\r\n"},
      {1, "old", line + line + line},
      {1, "", line + line + line},
  };
  for (const auto& r : rows) {
    KillEverywhere(
        {.prepare = Files({{"src/1.txt", line}, {"src/2.txt", line}, {"src/3.txt", line},
                           {"out/all.txt", r.old}}),
         .run = RunOf(RunFileMerge, "txtSourcePath=%/src|txtSourceName=*.txt|cboType=" +
                                      std::to_string(r.mode) + "|txtDestinationPath=%/out/all.txt"),
         .allowed = {{"out/all.txt", {r.old, r.merged}}}});
  }
}

// The Word and Excel merges of two sources over an older destination: the result's bytes
// differ from run to run, so a result is whole when the package check finds no fault.
TEST_P(KillTest, MergeWordAndExcel) {
  for (const int mode : {2, 3}) {
    const bool workbook = mode == 3;
    const std::string extension = workbook ? ".xlsx" : ".docx";
    KillEverywhere(
        {.prepare =
             [=](const TempDir& dir) {
               std::string err;
               dir.MakeFolder("src");
               for (const std::string name : {"1", "2"}) {
                 const std::string path = dir / ("src/" + name + extension);
                 const XlsxBook book{.sheets = {{.name = "S" + name, .cells = {{"A1", 'n', "1"}}}}};
                 ASSERT_TRUE(workbook ? WriteXlsx(SystemFileSystem(), path, book, &err)
                                      : WriteDocx({.paragraphs = {"p" + name}}, path, &err))
                     << err;
               }
               dir.Write("out/all" + extension, "old");
             },
         .run = RunOf(RunFileMerge, "txtSourcePath=%/src|txtSourceName=*" + extension +
                                      "|cboType=" + std::to_string(mode) +
                                      "|txtDestinationPath=%/out/all" + extension),
         .allowed = {{"out/all" + extension, {"old"}}},
         .whole = [](const std::string& path) {
           std::vector<std::string> faults;
           return CheckPackage(path, &faults, [](const std::string&, pugi::xml_node) {}) &&
                  faults.empty();
         }});
  }
}

INSTANTIATE_TEST_SUITE_P(UnnamedAndNamed, KillTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

}  // namespace
}  // namespace quorvane
