#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>

#include "common/rename_journal.h"
#include "filetasks/file_rename_run.h"
#include "foldertasks/folder_rename_run.h"
#include "support/cut_short_batch.h"
#include "support/faulty_filesystem.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quorvane {
namespace {

using namespace testing;
namespace stdfs = std::filesystem;

// Where the kill test's folders go: tmpfs where the machine has one, as it makes a great
// many renames.
const std::string kScratch =
    ::access("/dev/shm", W_OK) == 0 && stdfs::is_directory("/dev/shm") ? "/dev/shm" : "";

// The journals of the test go to a folder of its own for its life.
class JournalTest : public ::testing::Test {
 protected:
  std::vector<std::string> JournalNames() {
    std::vector<std::string> names;
    if (!stdfs::is_directory(state / "quorvane")) return names;
    for (const auto& e : stdfs::directory_iterator(state / "quorvane"))
      names.push_back(e.path().filename().native());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir state;
  const StateHome home{state.path()};
};

ino_t Inode(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Every entry of `folder` by inode: the inode -> the name it bears.
std::map<ino_t, std::string> ByInode(const std::string& folder) {
  std::map<ino_t, std::string> names;
  for (const auto& e : stdfs::directory_iterator(folder))
    names[Inode(e.path().native())] = e.path().filename().native();
  return names;
}

RecordingUi RenameUi(const std::string& folder, const std::string& fields) {
  RecordingUi ui("批重命名");
  ui.Set("txtPath=" + folder + "|txtSourceName=*|txtStep=1");
  ui.Set(fields);
  return ui;
}

// Answers Yes to every question.
RecordingUi YesUi() {
  RecordingUi ui;
  for (int i = 0; i < 8; ++i) ui.answers.push_back(Answer::Yes);
  return ui;
}

TEST_F(JournalTest, ThePlanIsWrittenBeforeTheFirstRenameAndAnyNameReadsBack) {
  TempDir dir;
  // Names with a newline, blanks, a colon, digits that look like a length, bytes that are no
  // UTF-8, and a long one.
  const std::vector<std::string> names = {"a\nb", " lead and trail ", "3:abc", "\xff\xfe",
                                          std::string(255, 'x'), "plain"};
  std::vector<RenameItem> items;
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::ofstream(dir / names[i]) << i;
    items.push_back({names[i], names[(i + 1) % names.size()]});  // one cycle of them all
  }
  items.push_back({"same", "same"});  // keeps its name: nothing to record
  std::ofstream(dir / "same");
  const std::string id = NewBatchId();
  RenamePlan plan;
  ASSERT_FALSE(PlanRename(items, [](const std::string&) { return false; }, &plan,
                          TemporaryStem(id)));
  std::vector<FileIdentity> identities;
  std::string err;
  ASSERT_TRUE(IdentifyItems(SystemFileSystem(), dir.path() + "/", plan, &identities, &err)) << err;
  {
    RenameJournal journal;
    ASSERT_TRUE(journal.Begin(SystemFileSystem(), id, BatchKind::Folders, "", dir.path() + "/",
                              plan, identities, &err))
        << err;
    EXPECT_EQ(JournalNames(), std::vector<std::string>{id + ".journal"});
    // While the batch runs, its journal is held: nobody takes it for one cut short.
    std::vector<BatchRecord> open;
    ASSERT_TRUE(InterruptedBatches(SystemFileSystem(), &open, &err)) << err;
    EXPECT_TRUE(open.empty());
    journal.Abandon();
  }
  std::vector<BatchRecord> open;
  ASSERT_TRUE(InterruptedBatches(SystemFileSystem(), &open, &err)) << err;
  ASSERT_EQ(open.size(), 1u);
  const BatchRecord& b = open[0];
  EXPECT_EQ(b.id, id);
  EXPECT_EQ(b.kind, BatchKind::Folders);
  EXPECT_EQ(b.folder, dir.path() + "/");
  EXPECT_EQ(b.state, BatchState::Open);
  ASSERT_EQ(b.items.size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(b.items[i].old_name, names[i]);
    EXPECT_EQ(b.items[i].new_name, names[(i + 1) % names.size()]);
    EXPECT_EQ(b.identities[i].inode, Inode(dir / names[i]));
  }
  EXPECT_EQ(b.temporaries[0], ".quorvane-rename-" + id + "-0");  // the cycle's first item
  // Finished now: every item under its new name.
  ASSERT_TRUE(RecoverBatch(SystemFileSystem(), b, false, &err)) << err;
  for (std::size_t i = 0; i < names.size(); ++i)
    EXPECT_EQ(Inode(dir / names[(i + 1) % names.size()]), b.identities[i].inode) << i;
  EXPECT_EQ(JournalNames(), std::vector<std::string>{id + ".done"});
}

// A journal that cannot be written or named refuses the batch before anything is renamed.
TEST_F(JournalTest, AJournalThatCannotBeWrittenRefusesTheBatch) {
  using Op = FaultyFileSystem::Op;
  const struct { Op op; std::string part; int error; std::string message; } rows[] = {
      {Op::OpenWrite, "quorvane/", ENOSPC, "无法打开文件"},
      {Op::Write, "quorvane/", ENOSPC, "无法写入文件"},
      {Op::Rename, ".journal", EIO, "无法改名为"},
  };
  for (const auto& r : rows) {
    TempDir dir;
    for (const char* name : {"1", "2", "3"}) std::ofstream(dir / name) << name;
    const auto before = ByInode(dir.path());
    FaultyFileSystem fs(SystemFileSystem());
    fs.FailWhen(r.op, r.part, r.error);
    RecordingUi ui = RenameUi(dir.path(), "txtFrom=3|txtStep=-1");
    EXPECT_EQ(RunFileRename(fs, ui), RunOutcome::Failed);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.messages[0].starts_with(SystemError(r.message))) << ui.messages[0];
    EXPECT_EQ(ui.messages[0].find(".quorvane-"), std::string::npos) << ui.messages[0];
    EXPECT_EQ(ByInode(dir.path()), before) << r.message;
    for (const auto& name : JournalNames()) EXPECT_FALSE(name.ends_with(".journal")) << name;
  }
}

// Stopped at each point between items: no item ever waits under a temporary name, the run
// says how far it got, and the undo brings back exactly what was renamed.
TEST_F(JournalTest, AStoppedBatchEndsBetweenItemsAndUndoesExactly) {
  // Six files numbered 5 4 3 2 1 0: 6 goes to the free name 0, 1 and 5 trade names in a
  // cycle, so do 2 and 4, and 3 keeps its name.
  for (int stop_after = 0; stop_after <= 6; ++stop_after) {
    TempDir dir;
    for (const char* name : {"1", "2", "3", "4", "5", "6"}) std::ofstream(dir / name) << name;
    const auto before = ByInode(dir.path());
    RecordingUi ui = RenameUi(dir.path(), "txtFrom=5|txtStep=-1");
    ui.stop_after = stop_after;
    const RunOutcome outcome = RunFileRename(SystemFileSystem(), ui);
    const auto after = ByInode(dir.path());
    ASSERT_EQ(after.size(), 6u);
    std::size_t renamed = 0;
    for (const auto& [inode, name] : after) {
      EXPECT_FALSE(name.starts_with(".quorvane")) << name;
      renamed += before.at(inode) != name || name == "3";
    }
    if (outcome == RunOutcome::Stopped) {
      EXPECT_EQ(ui.messages.back(), Msg("操作已停止：已完成 " + std::to_string(renamed) +
                                            " 个，共 6 个。",
                                        Icon::Information))
          << stop_after;
    } else {
      EXPECT_EQ(outcome, RunOutcome::Completed) << stop_after;
      EXPECT_EQ(renamed, 6u);
    }
    RecordingUi yes = YesUi();
    const RunOutcome undone = UndoLastRename(SystemFileSystem(), yes, dir.path(), {});
    if (renamed == 1) {  // only the file that keeps its name: nothing to undo
      EXPECT_EQ(undone, RunOutcome::Refused);
    } else {
      EXPECT_EQ(undone, RunOutcome::Completed) << yes.messages.back();
      EXPECT_EQ(yes.messages.back(),
                Msg("已撤销上次在“" + dir.path() + "/”中的重命名，共 " +
                        std::to_string(renamed - 1) + " 个文件。",
                    Icon::Information));
    }
    EXPECT_EQ(ByInode(dir.path()), before) << stop_after;
  }
}

// (The undo itself, its question and its refusal once done: the stop test and the CLI's.)
TEST_F(JournalTest, UndoRefusesWithNothingChangedWhenTheFolderChanged) {
  // Each row renames 1..4 to 2..5 (a chain) and then changes the folder before the undo.
  const struct {
    std::string change;  // "mv a b" or "touch a"
    std::string refusal;
  } rows[] = {
      {"mv 3 x", "“%/3”已被移动或改名，没有撤销任何重命名！"},
      {"touch 1", "原来的名称“%/1”已被占用，没有撤销任何重命名！"},
  };
  for (const auto& r : rows) {
    TempDir dir;
    for (const char* name : {"1", "2", "3", "4"}) std::ofstream(dir / name) << name;
    RecordingUi ui = RenameUi(dir.path(), "txtFrom=2");
    ASSERT_EQ(RunFileRename(SystemFileSystem(), ui), RunOutcome::Completed);
    if (r.change.starts_with("mv ")) stdfs::rename(dir / "3", dir / "x");
    if (r.change.starts_with("touch ")) std::ofstream(dir / "1");
    const auto changed = ByInode(dir.path());
    RecordingUi yes = YesUi();
    std::string refusal = r.refusal;
    refusal.replace(refusal.find('%'), 1, dir.path());
    EXPECT_EQ(UndoLastRename(SystemFileSystem(), yes, dir.path(), {}), RunOutcome::Refused);
    EXPECT_EQ(yes.messages, Events{Msg(refusal, Icon::Warning)});
    EXPECT_EQ(ByInode(dir.path()), changed);
  }
}

TEST_F(JournalTest, UndoFollowsTheKindAndAnswerNo) {
  TempDir dir;
  std::ofstream(dir / "a");
  stdfs::create_directory(dir / "d");
  RecordingUi files = RenameUi(dir.path(), "txtFrom=1|chkPre=1|txtPre=f");
  ASSERT_EQ(RunFileRename(SystemFileSystem(), files), RunOutcome::Completed);
  RecordingUi folders = RenameUi(dir.path(), "txtFrom=1|chkPre=1|txtPre=g");
  ASSERT_EQ(RunFolderRename(SystemFileSystem(), folders), RunOutcome::Completed);
  EXPECT_TRUE(stdfs::is_regular_file(dir / "f1") && stdfs::is_directory(dir / "g1"));
  RecordingUi no;  // answers No
  EXPECT_EQ(UndoLastRename(SystemFileSystem(), no, "", BatchKind::Files), RunOutcome::Refused);
  EXPECT_TRUE(stdfs::is_regular_file(dir / "f1"));
  RecordingUi yes = YesUi();
  EXPECT_EQ(UndoLastRename(SystemFileSystem(), yes, "", BatchKind::Files), RunOutcome::Completed);
  EXPECT_TRUE(stdfs::is_regular_file(dir / "a") && stdfs::is_directory(dir / "g1"));
  RecordingUi none = YesUi();
  EXPECT_EQ(UndoLastRename(SystemFileSystem(), none, "", BatchKind::Files), RunOutcome::Refused);
  EXPECT_EQ(none.messages, Events{Msg("没有可以撤销的文件重命名！", Icon::Warning)});
}

// A FileSystem that kills its process at the k-th of the batch's journal write, the flush
// after its naming, and the renames, as a power cut or `kill -9` would.
class KillingFileSystem final : public FaultyFileSystem {
 public:
  KillingFileSystem(FileSystem& real, int kill_at) : FaultyFileSystem(real), kill_at_(kill_at) {}
  std::unique_ptr<PendingFile> OpenPending(const std::string& folder, const std::string& shown,
                                           std::string* err) override {
    Count();
    return FaultyFileSystem::OpenPending(folder, shown, err);
  }
  // Flushed once the journal has its name: a kill here leaves a whole plan.
  bool SyncFolder(const std::string& folder, std::string* err) override {
    Count();
    return FaultyFileSystem::SyncFolder(folder, err);
  }
  bool Rename(const std::string& from, const std::string& to, std::string* err) override {
    Count();
    return FaultyFileSystem::Rename(from, to, err);
  }
  bool RenameNoReplace(const std::string& from, const std::string& to, std::string* err) override {
    Count();
    return FaultyFileSystem::RenameNoReplace(from, to, err);
  }

 private:
  void Count() {
    if (++calls_ == kill_at_) ::raise(SIGKILL);
  }
  int kill_at_;
  int calls_ = 0;
};

// The batch of one shape over files "1".."n": shift (one chain), reverse (cycles of two),
// or mixed (chains and cycles of many lengths in one batch).
std::vector<RenameItem> Shape(const std::string& shape, int n) {
  std::vector<RenameItem> items;
  if (shape == "mixed") {
    // Groups of growing length, every other one a cycle; a chain ends at a free name.
    int at = 1, length = 1;
    for (bool cycle = false; at <= n; cycle = !cycle, ++length) {
      const int end = std::min(n, at + length - 1);
      for (int i = at; i <= end; ++i) {
        const int next = i < end ? i + 1 : cycle ? at : n + i;
        items.push_back({std::to_string(i), std::to_string(next)});
      }
      at = end + 1;
    }
    return items;
  }
  for (int i = 1; i <= n; ++i)
    items.push_back({std::to_string(i), std::to_string(shape == "shift" ? i + 1 : n + 1 - i)});
  return items;
}

// The child's batch: the shift and the reverse through the rename run itself, the mixed one
// through the journalled applier.
void RunBatch(FileSystem& fs, const std::string& shape, const std::string& folder, int n) {
  if (shape == "mixed") {
    const std::string id = NewBatchId();
    RenamePlan plan;
    PlanRename(Shape(shape, n), [](const std::string&) { return false; }, &plan,
               TemporaryStem(id));
    RenameProgress progress;
    std::string err;
    ApplyJournalledRename(fs, id, BatchKind::Files, "", folder + "/", plan, [](std::size_t) {},
                          {}, &progress, &err);
    return;
  }
  RecordingUi ui = RenameUi(folder, shape == "shift" ? "txtFrom=2"
                                                      : "txtFrom=" + std::to_string(n) +
                                                            "|txtStep=-1");
  RunFileRename(fs, ui);
}

// Killed at about seventy points spread over each of three batches of 5,000 files: the
// recovery leaves every item under its new name (or, taking back, its old one), by inode,
// and none under a temporary name; the undo or the taking back restores every old name.
TEST_F(JournalTest, ABatchKilledAnywhereIsFinishedOrTakenBack) {
  constexpr int kItems = 5000, kPoints = 70;
  int kills = 0;
  for (const std::string shape : {"shift", "reverse", "mixed"}) {
    TempDir dir(kScratch);
    for (int i = 1; i <= kItems; ++i) std::ofstream(dir / std::to_string(i));
    std::map<std::string, ino_t> inode, new_inode;  // old name -> inode; new name -> inode
    for (int i = 1; i <= kItems; ++i) inode[std::to_string(i)] = Inode(dir / std::to_string(i));
    const auto items = Shape(shape, kItems);
    for (const auto& item : items) new_inode[item.new_name] = inode[item.old_name];
    std::size_t cycles = 0;
    RenamePlan plan;
    PlanRename(items, [](const std::string&) { return false; }, &plan);
    cycles = plan.temporaries.size();
    // The journal's write and name, every rename, and the journal's completed name.
    const int events = 2 + static_cast<int>(plan.steps.size()) + 1;
    for (int point = 0; point < kPoints; ++point) {
      const int kill_at = 1 + point * (events - 1) / (kPoints - 1);
      const bool back = point % 2 == 1;
      const pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        KillingFileSystem fs(SystemFileSystem(), kill_at);
        RunBatch(fs, shape, dir.path(), kItems);
        ::_exit(0);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << shape << " " << kill_at;
      ++kills;

      RecordingUi ui;
      ASSERT_EQ(RecoverInterrupted(SystemFileSystem(), ui, back, false), RunOutcome::Completed)
          << (ui.messages.empty() ? "" : ui.messages.back());
      const bool journalled = kill_at > 2;  // the journal had its name
      const bool complete = kill_at == events;  // only the journal's completed name missing
      if (journalled && !complete)
        EXPECT_EQ(ui.messages, Events{Msg(std::string(back ? "已撤销" : "已完成") +
                                              "上次中断的重命名：“" + dir.path() + "/”，共 " +
                                              std::to_string(kItems) + " 个项目。",
                                          Icon::Information)});
      else
        EXPECT_TRUE(ui.messages.empty()) << ui.messages[0];
      const auto entries = std::distance(stdfs::directory_iterator(dir.path()), {});
      ASSERT_EQ(entries, kItems) << shape << " " << kill_at;  // none under a temporary name
      const bool forward = journalled && (!back || complete);
      for (const auto& [name, node] : forward ? new_inode : inode)
        ASSERT_EQ(Inode(dir / name), node) << shape << " " << kill_at << " " << name;
      if (forward) {
        RecordingUi yes = YesUi();
        ASSERT_EQ(UndoLastRename(SystemFileSystem(), yes, dir.path(), BatchKind::Files),
                  RunOutcome::Completed)
            << yes.messages.back();
        for (const auto& [name, node] : inode)
          ASSERT_EQ(Inode(dir / name), node) << shape << " " << kill_at << " " << name;
      }
      std::vector<BatchRecord> open;
      std::string err;
      ASSERT_TRUE(InterruptedBatches(SystemFileSystem(), &open, &err)) << err;
      EXPECT_TRUE(open.empty());
    }
    EXPECT_EQ(cycles > 0, shape != "shift");
  }
  EXPECT_EQ(kills, 3 * kPoints);
  EXPECT_EQ(JournalNames().size(), 10u);  // only the last ten batches' journals are kept
}

// A batch cut short holds its folder until it is recovered; the question may take it back.
TEST_F(JournalTest, ARunOnAFolderWithABatchCutShortIsRefusedUntilItIsRecovered) {
  TempDir dir;
  dir.Write("1", "one");
  dir.Write("2", "two");
  ASSERT_EQ(CutShortSwap(dir.path() + "/"), "");
  RecordingUi ui = RenameUi(dir.path(), "txtFrom=1");
  EXPECT_EQ(RunFileRename(SystemFileSystem(), ui), RunOutcome::Refused);
  EXPECT_EQ(ui.messages,
            Events{Msg("“" + dir.path() + "/”中上次的重命名被中断了（共 2 个项目），请先恢复它"
                       "（quorvane-batch recover）再重命名！",
                       Icon::Warning)});
  RecordingUi ask;  // answers No: take it back
  EXPECT_EQ(RecoverInterrupted(SystemFileSystem(), ask, std::nullopt, true),
            RunOutcome::Completed);
  ASSERT_EQ(ask.messages.size(), 2u);
  EXPECT_EQ(ask.messages[0],
            Msg("上次在“" + dir.path() + "/”中的重命名被中断了（共 2 个项目）。是否完成它？"
                "选“是”完成重命名，选“否”恢复原来的名称。",
                Icon::Question, Buttons::YesNo));
  EXPECT_EQ(Tree(dir.path()), (std::vector<std::string>{"1=one", "2=two"}));
}

}  // namespace
}  // namespace quorvane
