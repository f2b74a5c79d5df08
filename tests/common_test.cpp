// The routines the tasks share: file and folder lists, numbering, natural order, the run
// frame, and the file system's copies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <random>

#include "common/functions.h"
#include "common/natural_order.h"
#include "common/numbering.h"
#include "common/run_frame.h"
#include "support/deep_tree.h"
#include "support/faulty_filesystem.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quorvane {
namespace {

using namespace testing;
using Paths = std::vector<std::string>;
using Op = FaultyFileSystem::Op;

class FunctionsTest : public ::testing::Test {
 protected:
  TempDir dir;
  RecordingUi ui;
  FileSystem& fs = SystemFileSystem();
  FaultyFileSystem faulty{fs};
};

TEST_F(FunctionsTest, FileListHoldsOnlyNormalFilesThatMatchInNaturalOrder) {
  for (const char* name : {"b10.txt", "b9.txt", "B1.txt", ".hidden.txt", "note.md", "中文 名.txt",
                           "-leading.txt", "gbk\xd6\xd0.txt", "a1.TXT", "a22.txt", "中.txt"})
    dir.Write(name, "x");
  dir.MakeFolder("folder.txt");
  ::symlink((dir / "b9.txt").c_str(), (dir / "link.txt").c_str());
  ::symlink((dir / "gone").c_str(), (dir / "broken.txt").c_str());
  ::mkfifo((dir / "pipe.txt").c_str(), 0600);
  const struct { const char* pattern; Names names; } rows[] = {
      {"/*.txt",
       {"-leading.txt", "a22.txt", "B1.txt", "b9.txt", "b10.txt", "gbk\xd6\xd0.txt", "link.txt",
        "中.txt", "中文 名.txt"}},  // a name that is not UTF-8 is listed all the same
      {"/a?.*", {"a1.TXT"}},
      {"/?.txt", {"中.txt"}},
      {"/[ab][12]*", {"a1.TXT", "a22.txt", "b10.txt"}},
      {"/missing/*.txt", {}},
  };
  for (const auto& r : rows) EXPECT_EQ(*GetFileList(fs, ui, dir.path() + r.pattern), r.names);
  EXPECT_TRUE(ui.events.empty());  // (a failure to list is reported: see the merge runs)
}

TEST_F(FunctionsTest, FolderListIsLevelOrderAndReportsAFolderItCannotRead) {
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
  faulty.FailWhen(Op::SubFolders, "/C/", EACCES);
  EXPECT_EQ(GetFolderList(faulty, ui, a, false)->size(), 4u);  // C itself is not read
  EXPECT_TRUE(ui.events.empty());
  EXPECT_FALSE(GetFolderList(faulty, ui, a, true));  // a deep walk reports it as well
  EXPECT_FALSE(GetFolderList(faulty, ui, a + "/C", false));
  EXPECT_FALSE(GetFolderList(fs, ui, dir / "missing", true));
  const auto error = [](const std::string& text) {
    return Msg(text, Icon::Error, Buttons::Ok, "系统错误");
  };
  EXPECT_EQ(ui.messages,
            (Events{error("无法读取目录“" + a + "/C/”：权限不够"),
                    error("无法读取目录“" + a + "/C/”：权限不够"),
                    error("找不到目录“" + dir / "missing" + "”：没有那个文件或目录")}));
}

// An open folder answers as its path does, and names inside it reach only what a walk may
// take: a real subfolder, a normal file.
TEST_F(FunctionsTest, AnOpenFolderListsAndOpensWhatItsPathWould) {
  for (const char* name : {"b10.txt", "b9.txt", ".hidden.txt", "note"}) dir.Write(std::string("A/") + name, name);
  for (const char* sub : {"A/B", "A/.h", "A/C.txt"}) dir.MakeFolder(sub);
  const std::string a = dir / "A";
  ::symlink((a + "/b9.txt").c_str(), (a + "/link.txt").c_str());
  ::symlink((a + "/gone").c_str(), (a + "/broken.txt").c_str());
  ::symlink((a + "/B").c_str(), (a + "/loop").c_str());
  ::mkfifo((a + "/pipe.txt").c_str(), 0600);
  ::symlink(a.c_str(), (dir / "to-A").c_str());
  std::string err;
  const auto folder = fs.OpenFolder(dir / "to-A", &err);  // a path the user named may be a link
  ASSERT_TRUE(folder) << err;
  EXPECT_EQ(folder->path(), dir / "to-A/");
  EXPECT_EQ(folder->identity(), fs.Identify(a));
  for (const char* pattern : {"*.*", "*.txt", "b?.*"}) {
    Names by_path, by_handle;
    ASSERT_TRUE(fs.MatchFiles(a, pattern, &by_path, &err)) << err;
    ASSERT_TRUE(fs.MatchFilesIn(*folder, pattern, &by_handle, &err)) << err;
    by_path.SortNaturally();
    by_handle.SortNaturally();
    EXPECT_EQ(by_handle, by_path) << pattern;
  }
  for (int twice = 0; twice < 2; ++twice) {  // a listing leaves the handle as it found it
    std::vector<std::string> names;
    ASSERT_TRUE(fs.SubFoldersIn(*folder, &names, &err)) << err;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".h", "B", "C.txt"}));
  }
  const auto b = fs.OpenFolderIn(*folder, "B", &err);
  ASSERT_TRUE(b) << err;
  EXPECT_EQ(b->path(), dir / "to-A/B/");
  EXPECT_FALSE(fs.OpenFolderIn(*folder, "loop", &err));  // a link is never a subfolder
  EXPECT_TRUE(err.starts_with("无法读取目录“" + dir / "to-A/loop/" + "”：")) << err;
  EXPECT_FALSE(fs.OpenFolderIn(*folder, "b9.txt", &err));
  EXPECT_EQ(err, "无法读取目录“" + dir / "to-A/b9.txt/" + "”：路径中有一部分不是目录");

  std::string bytes(16, '\0');
  for (const char* name : {"b9.txt", "link.txt"}) {
    const auto file = fs.OpenReadIn(*folder, name, &err);
    ASSERT_TRUE(file) << err;
    EXPECT_EQ(file->Read(bytes.data(), bytes.size(), &err), 6);
    EXPECT_EQ(bytes.substr(0, 6), "b9.txt");
  }
  const struct { const char* name; std::string err; } refused[] = {
      {"pipe.txt", "无法打开文件“" + dir / "to-A/pipe.txt" + "”：不是普通文件"},  // at once
      {"C.txt", "无法打开文件“" + dir / "to-A/C.txt" + "”：不是普通文件"},
      {"broken.txt", "无法打开文件“" + dir / "to-A/broken.txt" + "”：没有那个文件或目录"},
  };
  for (const auto& r : refused) {
    EXPECT_FALSE(fs.OpenReadIn(*folder, r.name, &err));
    EXPECT_EQ(err, r.err);
  }
}

// A disk whose top folder holds more subfolders than a 16-bit counter can count.
class CrowdedFileSystem final : public FaultyFileSystem {
 public:
  using FaultyFileSystem::FaultyFileSystem;
  bool FolderExists(const std::string&) override { return true; }
  bool SubFolders(const std::string& folder, std::vector<std::string>* names,
                  std::string*) override {
    for (int i = 0; folder == "/top/" && i < 70000; ++i) names->push_back(std::to_string(i));
    return true;
  }
};

TEST_F(FunctionsTest, FolderListHasNoFixedLimit) {
  CrowdedFileSystem crowded(fs);
  const NameList list = GetFolderList(crowded, ui, "/top", true);
  ASSERT_EQ(list->size(), 70001u);
  EXPECT_EQ(list->back(), "/top/69999/");
}

TEST_F(FunctionsTest, CreatePathMakesEveryMissingLevelAndKeepsThemAfterAFailure) {
  std::string target = dir / "x/y";
  CreatePath(fs, ui, target);
  EXPECT_EQ(target, dir / "x/y/");
  EXPECT_TRUE(fs.FolderExists(dir / "x/y"));
  CreatePath(fs, ui, target);  // already there: nothing to do, nothing to say
  EXPECT_TRUE(ui.events.empty());

  faulty.FailWhen(Op::CreateFolder, "/b/", ENOSPC);
  target = dir / "a/b/c";
  CreatePath(faulty, ui, target);
  EXPECT_TRUE(fs.FolderExists(dir / "a"));
  EXPECT_FALSE(fs.FolderExists(dir / "a/b"));
  EXPECT_EQ(ui.messages, Events{SystemError("无法创建目录“" + dir / "a/b/" + "”：磁盘空间不足")});
}

TEST(NaturalOrderTest, OrdersAsFileManagersDoAndIsATotalOrder) {
  const Paths expected = {"a", "B", "page1.txt", "Page2.txt", "page02.txt", "page2.txt",
                          "page10.txt", "x99999999999999999999999", "x100000000000000000000000",
                          "中文.txt"};
  Paths names = expected;
  std::shuffle(names.begin(), names.end(), std::mt19937(7));
  std::sort(names.begin(), names.end(), NaturalLess);
  EXPECT_EQ(names, expected);
  // Names that the natural rules call equal still get one fixed order from their bytes.
  EXPECT_NE(NaturalCompare("a1", "A01"), 0);
  EXPECT_EQ(NaturalCompare("a1", "A01"), -NaturalCompare("A01", "a1"));
  EXPECT_EQ(NaturalCompare("same", "same"), 0);
  EXPECT_LT(NaturalCompare("a", "a0"), 0);
}

TEST(RunFrameTest, ErrorReportAndThrownFailuresLeaveTheWindowAsItWas) {
  RecordingUi ui("批合并文件");
  RunFrame frame(ui);
  const RunOutcome outcome = frame.Guard([&]() -> RunOutcome {
    frame.Begin();
    frame.Progress("p", 0, 2);
    throw std::runtime_error("boom");
  });
  EXPECT_EQ(outcome, RunOutcome::Failed);
  EXPECT_EQ(ui.events, (Events{Pointer(true), CaptionTo("p0%"), Pointer(false),
                               CaptionTo("批合并文件"), SystemError("boom")}));
}

constexpr auto kCreate = NumberingTask::Create;
constexpr auto kRename = NumberingTask::Rename;

TEST(NumberingTest, NumericTest) {
  for (const char* t : {"1", "-3", " 7 ", "+5", "007", "\t8"})
    EXPECT_TRUE(PassesNumericTest(t)) << t;
  for (const char* t : {"2.5", "1.0", "", "  ", "1e3", "&H10", "1,000", "- 3", "3-"})
    EXPECT_FALSE(PassesNumericTest(t)) << t;
}

TEST(NumberingTest, CheckOrderMessagesFocusAndWidth) {
  // A row without a message passes, with that width.
  const char* digits = "位数只能是正整数！";
  const struct { NumberingTask task; std::string fields; const char *message, *focus; int width; }
      rows[] = {
      {kCreate, "txtFrom=2.5|txtTo=5|txtStep=1", "请输入整数！", "txtFrom", 0},
      {kCreate, "txtFrom=1|txtTo= ", "请输入整数！", "txtTo", 0},
      {kCreate, "txtFrom=007|txtTo=20|txtStep=1|chkAddZero=1", "", "", 3},
      {kCreate, "txtFrom=-10|txtTo=10|txtStep=-1|chkAddZero=1", "", "", 3},
      {kRename, "txtFrom=1|txtStep=x|chkAddZero=1|txtDigits=0", digits, "txtDigits", 0},
      {kRename, "txtFrom=1|txtStep=1|chkAddZero=1|txtDigits=2.0", digits, "txtDigits", 0},
      {kRename, "txtFrom=1|txtStep=x|txtDigits=abc", "递增量只能是整数！", "", 0},
      {kRename, "txtFrom=1|txtStep= -00", "递增量不能为零！", "txtStep", 0},
      {kRename, "txtFrom=1|txtStep=-1|chkAddZero=1|txtDigits= 4", "", "", 4},
  };
  for (const auto& row : rows) {
    RecordingUi ui;
    ui.Set("txtPre= a |chkPre=1|txtSuf=txt|" + row.fields);
    RunFrame frame(ui);
    NumberingSettings s;
    const bool ended = CheckNumbering(frame, row.task, &s).has_value();
    Events expected;
    if (*row.message) expected.push_back(Msg(row.message, Icon::Warning));
    if (*row.focus) expected.push_back(FocusOn(row.focus));
    EXPECT_EQ(ui.events, expected) << row.fields;
    EXPECT_EQ(ended ? "" : s.prefix + "|" + s.suffix + "|" + std::to_string(s.width),
              ended ? "" : " a ||" + std::to_string(row.width));
  }
}

TEST(NumberingTest, RunsOfNumbersAndPercentages) {
  const struct { std::int32_t first, last, step; std::vector<std::int32_t> numbers;
                 std::vector<std::string> percentages; /* checked when given */ } rows[] = {
      {1, 10, 3, {1, 4, 7, 10}, {}},
      {1, 10, 4, {1, 5, 9}, {"0%", "44%", "89%"}},
      {10, 1, -1, {10, 9, 8, 7, 6, 5, 4, 3, 2, 1}, {}},
      {10, 1, -4, {10, 6, 2}, {}},
      {1, 10, -1, {}, {}},
      {10, 1, 1, {}, {}},
      {1, 10, 2, {1, 3, 5, 7, 9}, {"0%", "22%", "44%", "67%", "89%"}},
      {5, 5, 1, {5}, {"0%"}},
      {INT_MAX - 1, INT_MAX, 1, {INT_MAX - 1, INT_MAX}, {"0%", "100%"}},
  };
  for (const auto& row : rows) {
    NumberingSettings s;
    s.first = row.first, s.last = row.last, s.step = row.step;
    std::vector<std::int32_t> numbers;
    std::vector<std::string> percentages;
    for (long long i = 0; i < NumberCount(s); ++i) {
      numbers.push_back(NumberAt(s, i));
      percentages.push_back(ProgressPercentage(s, i));
    }
    EXPECT_EQ(numbers, row.numbers) << row.first << " to " << row.last << " by " << row.step;
    EXPECT_TRUE(row.percentages.empty() || percentages == row.percentages) << row.first;
  }
}

TEST(NumberingTest, NamesAndTheItemsTheyName) {
  NumberingSettings s;
  s.prefix = "a", s.suffix = "";  // a file name never ends in "."; a folder name keeps its dots
  EXPECT_EQ(MakeItemName(7, s, kFileNameSeparator) + MakeItemName(7, s, kFolderNameSeparator),
            "a7a7");
  s.suffix = "x..", s.zero_fill = true, s.width = 3;
  EXPECT_EQ(MakeItemName(-5, s, kFileNameSeparator), "a0-5.x");
  EXPECT_EQ(MakeItemName(-10, s, kFolderNameSeparator) + MakeItemName(5, s, kFolderNameSeparator),
            "a-10x..a005x..");

  // Which item a name in the folder is: 从 -10 到 10 by 5 gives a-10.x, a0-5.x, a000.x ...
  s.first = -10, s.last = 10, s.step = 5;
  for (const auto& [name, counter] : {std::pair{"a-10.x", 0}, {"a0-5.x", 1}, {"a000.x", 2},
                                      {"a010.x", 4}, {"a10.x", -1}, {"a001.x", -1}, {"a015.x", -1}})
    EXPECT_EQ(ItemCounter(name, s, kFileNameSeparator).value_or(-1), counter) << name;
}

class CopyTest : public ::testing::Test {
 protected:
  CopyTest() : source(dir.Write("src/a.bin", content)) {
    ::chmod(source.c_str(), 0640);
    const timespec times[2] = {{0, UTIME_OMIT}, {1'000'000'000, 123456789}};
    ::utimensat(AT_FDCWD, source.c_str(), times, 0);
  }

  const std::string content = std::string(3'000'000, 'c') + "end";  // several blocks
  TempDir dir;
  const std::string source;
  std::string err;
};

TEST_F(CopyTest, NeverCopiesOntoItselfAndAFailedCopyLeavesTheOldTargetWholeAndNoPartialFile) {
  ::link(source.c_str(), (dir / "src/hard.bin").c_str());
  EXPECT_FALSE(SystemFileSystem().CopyFile(source, dir / "src/hard.bin", &err));
  EXPECT_EQ(err, "无法复制到“" + dir / "src/hard.bin" + "”：与源文件是同一个文件");
  EXPECT_FALSE(SystemFileSystem().CopyFolder(dir / "src", dir / "src/", &err));
  EXPECT_EQ(err, "无法复制到“" + dir / "src/" + "”：与源目录是同一个目录");
  EXPECT_TRUE(ReadAll(source) == content);
  dir.Write("out/old.bin", "old");
  // Every step of the write path: the writing, the flush before a replacing rename, the
  // rename or link that names the file, and the close.
  for (const auto& [op, after] : {std::pair{Op::Write, 100'000}, {Op::Read, 5}, {Op::Rename, 0},
                                  {Op::Sync, 0}, {Op::OpenWrite, 0}}) {
    FaultyFileSystem fs(SystemFileSystem());
    fs.FailWhen(op, "/", ENOSPC, after);
    EXPECT_FALSE(fs.CopyFile(source, dir / "out/old.bin", &err));
    EXPECT_EQ(err.find(".quorvane"), std::string::npos) << err;  // the name the user gave
    // A new name has nothing to lose, so it is not flushed.
    EXPECT_EQ(fs.CopyFile(source, dir / "out/new.bin", &err), op == Op::Sync);
    ::unlink((dir / "out/new.bin").c_str());
    EXPECT_EQ(Tree(dir / "out"), Paths{"old.bin=old"});
    EXPECT_EQ(fs.open_files, 0);
  }
}

TEST_F(CopyTest, FolderCopyKeepsLinksHiddenEntriesModesAndTimesAndNeverEntersItsDestination) {
  dir.Write("src/.hidden", "h");
  dir.Write("src/sub/x", "x");
  ::symlink("/etc", (dir / "src/link").c_str());
  ::chmod((dir / "src/sub").c_str(), 0750);
  dir.Write("src/copy/.hidden", "old");  // the destination is there already, inside the source
  dir.Write("src/copy/mine", "kept");
  ::symlink("elsewhere", (dir / "src/copy/link").c_str());
  ASSERT_TRUE(SystemFileSystem().CopyFolder(dir / "src", dir / "src/copy", &err)) << err;
  EXPECT_EQ(Tree(dir / "src/copy"), (Paths{".hidden=h", "a.bin=" + content, "link -> /etc",
                                           "mine=kept", "sub/", "sub/x=x"}));
  struct stat st;
  EXPECT_EQ(::stat((dir / "src/copy/sub").c_str(), &st) == 0 ? st.st_mode & 0777 : 0, 0750u);
  EXPECT_EQ(::stat((dir / "src/copy/a.bin").c_str(), &st) == 0 ? st.st_mode & 07777 : 0, 0640u);
  EXPECT_EQ(st.st_mtim.tv_sec * 1'000'000'000 + st.st_mtim.tv_nsec, 1'000'000'000'123'456'789);
}

// The source's paths pass the longest the system takes while the copies' paths stay short:
// the source is read from open folders, one name at a time, and is removed the same way.
TEST_F(CopyTest, FolderCopyAndRemovalReachBelowThePathLimit) {
  dir.MakeFolder("deep");
  const Paths files = MakeDeepTree(dir / "deep", 23, {15, 23});
  ASSERT_GT(files.back().size(), 4096u);
  ASSERT_TRUE(SystemFileSystem().CopyFolder(DeepFolder(dir / "deep", 15), dir / "copy", &err))
      << err;
  std::string below = dir / "copy/";
  for (int level = 16; level <= 23; ++level) below += DeepName(level) + "/";
  EXPECT_EQ(ReadAll(dir / "copy/f15.txt") + "," + ReadAll(below + "f23.txt"), "15,23");

  ::symlink((dir / "copy").c_str(), (DeepFolder(dir / "deep", 15) + "link").c_str());
  ASSERT_TRUE(RemoveTree(SystemFileSystem(), dir / "deep", &err)) << err;
  EXPECT_EQ(SystemFileSystem().Kind(dir / "deep"), PathKind::Missing);
  EXPECT_EQ(ReadAll(below + "f23.txt"), "23");  // the link was removed, never followed
}

}  // namespace
}  // namespace quorvane
