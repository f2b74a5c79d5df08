// The main window and the task windows inside it, driven as a user drives them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QDeadlineTimer>
#include <QCheckBox>
#include <QComboBox>
#include <QMdiArea>
#include <QMessageBox>
#include <QTextBrowser>
#include <QToolBar>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

#include "filetasks/file_merge_run.h"
#include "filetasks/file_rename_run.h"
#include "support/cut_short_batch.h"
#include "support/faulty_filesystem.h"
#include "gui_support.h"
#include "support/temp_dir.h"

namespace quorvane::gui {
namespace {

using namespace testing;
const std::string kDone = Msg("操作完成！", Icon::Information);
const std::string kStopQuestion = Msg("是否停止当前操作？", Icon::Question, Buttons::YesNo);
const std::string kUndoRefused = Msg("批处理正在进行，请等它完成后再撤销重命名。", Icon::Warning);

std::string Stopped(long done, long total) {
  return Msg("操作已停止：已完成 " + std::to_string(done) + " 个，共 " + std::to_string(total) +
                 " 个。",
             Icon::Information);
}
// The question a batch cut short in `folder` asks, and the report once it is finished or
// taken back.
std::string Interrupted(const std::string& folder, int items) {
  return Msg("上次在“" + folder + "/”中的重命名被中断了（共 " + std::to_string(items) +
                 " 个项目）。是否完成它？选“是”完成重命名，选“否”恢复原来的名称。",
             Icon::Question, Buttons::YesNo);
}
std::string Recovered(bool finished, const std::string& folder, int items) {
  return Msg(std::string(finished ? "已完成" : "已撤销") + "上次中断的重命名：“" + folder +
                 "/”，共 " + std::to_string(items) + " 个项目。",
             Icon::Information);
}

TEST_F(MainWindowTest, OneFixedWindowPerTaskWhateverTheToolThatOpensIt) {
  QWidget* form = Open("miFileMerge");
  ASSERT_TRUE(form);
  EXPECT_EQ(QApplication::focusWidget(), Box("txtSourceName"));  // the focus in its first field
  Box("txtSourcePath")->setText("/typed");
  QTest::mouseClick(Find<QToolBar>("barTool")->widgetForAction(Find<QAction>("miFileMerge")),
                    Qt::LeftButton);
  for (const char* name : {"mnuFile", "mnuFolder", "MIFILEMERGE"}) main.Dispatch(name);  // none
  EXPECT_EQ(main.mdi()->subWindowList().size(), 1);
  EXPECT_EQ(Box("txtSourcePath")->text(), "/typed");
  Find<QAction>("miExit")->trigger();  // answered No: everything stays
  EXPECT_EQ(services_.messages,
            Events{Msg("您是否确定退出本系统？", Icon::Question, Buttons::YesNo)});
  EXPECT_TRUE(main.isVisible());
  CloseTask("miFileMerge");
  EXPECT_FALSE(main.TaskWindow("miFileMerge"));
  Open("miFileMerge");
  EXPECT_TRUE(Box("txtSourcePath")->text().isEmpty());  // reopened fresh, with no size buttons
  EXPECT_FALSE(main.TaskWindow("miFileMerge")->windowFlags() &
               (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint));
}

TEST_F(MainWindowTest, HelpGoesToTheDesktopOrToAWindowOfOurOwn) {
  Find<QAction>("miHelp")->trigger();
  EXPECT_EQ(services_.opened_pages,
            std::vector{QCoreApplication::applicationDirPath() + "/help.htm"});
  EXPECT_FALSE(Find<QDialog>("frmHelp"));
  services_.page_opens = false;  // a machine without a program for web pages
  Find<QAction>("miHelp")->trigger();
  auto* help = Find<QDialog>("frmHelp");
  ASSERT_TRUE(help && help->isVisible());
  EXPECT_TRUE(help->findChild<QTextBrowser*>()->toPlainText().contains("批合并文件"));
  help->close();
}

TEST(MessageBoxTest, IsWideEnoughForItsWholeTitle) {
  const QString title = "Quorvane";
  const auto box = MakeMessageBox(nullptr, "OK", Icon::Information, Buttons::Ok, title);
  EXPECT_GT(box->sizeHint().width(), box->fontMetrics().horizontalAdvance(title) + 100);
}

TEST_F(MainWindowTest, MergeWindowModesAndPickersTakeOrKeep) {
  Open("miFileMerge");
  for (const int mode : {1, 1, 2, 3}) {  // the same entry again still rewrites
    Box("txtSourceName")->setText("*.dat");
    emit Find<QComboBox>("cboType")->activated(mode);
    EXPECT_EQ(Box("txtSourceName")->text(), MergeModePattern(mode));
  }
  Box("txtSourcePath")->setText("/kept");
  Box("txtDestinationPath")->setText("/kept.txt");
  Click("cmdBrowseSource");
  Click("cmdBrowseDestination");  // cancelled pickers change nothing
  EXPECT_EQ(Box("txtSourcePath")->text() + Box("txtDestinationPath")->text(), "/kept/kept.txt");
  services_.file_pick = QString::fromUtf8("/输出/all.txt");
  Click("cmdBrowseDestination");
  EXPECT_EQ(Box("txtDestinationPath")->text(), services_.file_pick);
}

TEST_F(MainWindowTest, MergeRunsOnAWorkerAndTheExitNoticeNeverOutlivesIt) {
  TempDir dir;
  for (const std::string n : {"1", "2", "3"}) dir.Write("in/" + n + ".txt", n);
  QWidget* form = Open("miFileMerge");
  Box("txtSourcePath")->setText(QString::fromStdString(dir / "in"));
  Box("txtDestinationPath")->setText(QString::fromStdString(dir / "out/all.txt"));
  services_.answer = Answer::Yes;
  QPointer<QMessageBox> notice;
  bool notice_shown = false, notice_gone = false, ok_enabled = true;
  QString caption;
  services_.during_message = [&] {
    if (services_.messages.size() == 1) {  // the run waits on its question
      Find<QAction>("miExit")->trigger();
      notice = Find<QMessageBox>("msgRunGoesOn");
      notice_shown = notice && notice->isVisible();
      return;
    }
    notice_gone = !notice || !notice->isVisible();  // under "操作完成！"
    QCoreApplication::processEvents();              // the posted captions arrive
    ok_enabled = Find<QPushButton>("cmdOK")->isEnabled();
    caption = form->windowTitle();
  };
  RunAndWait(form);
  EXPECT_EQ(services_.messages,
            (Events{Msg("目标文件不存在！是否创建？", Icon::Question, Buttons::YesNo), kDone}));
  // The notice came and went with the run, and 确定 stayed off while it ran.
  EXPECT_EQ(std::tuple(notice_shown, notice_gone, ok_enabled), std::tuple(true, true, false));
  EXPECT_EQ(caption, QString::fromUtf8("正在合并文件...100%"));
  EXPECT_EQ(ReadAll(dir / "out/all.txt"), "1\r\n2\r\n3\r\n");
  QCoreApplication::processEvents();
  EXPECT_EQ(form->windowTitle(), QString::fromUtf8("批合并文件"));
  EXPECT_TRUE(Find<QPushButton>("cmdOK")->isEnabled());
}

TEST_F(MainWindowTest, NumberingWindowsShowTheirOptionalFieldsAndRunOnAWorker) {
  // Each check box shows the field `shown`, typed into first; the picked folder holds a, b and
  // c/, then what is `after` the run.
  const struct { const char *tool, *check, *shown, *value; std::vector<std::string> after; }
      windows[] = {
      {"miFileBuild", "chkPre", "txtPre", "p", {"a=a", "b=b", "c/", "p1=", "p2="}},
      {"miFolderBuild", "chkSuf", "txtSuf", "s", {"1s/", "2s/", "a=a", "b=b", "c/"}},
      {"miFileRename", "chkAddZero", "txtDigits", "2", {"01=a", "02=b", "c/"}},
      {"miFolderRename", "chkAddZero", "txtDigits", "2", {"01/", "a=a", "b=b"}},
  };
  for (const auto& w : windows) {
    TempDir dir;
    const std::string gbk = "\xd5\xd5\xc6\xac";  // not UTF-8: the run gets the bytes
    for (const std::string name : {"a", "b"}) dir.Write(gbk + "/" + name, name);
    dir.MakeFolder(gbk + "/c");
    services_.messages.clear();
    QWidget* form = Open(w.tool);
    ASSERT_TRUE(form);
    const QString title = form->windowTitle();
    for (const char* hidden : {"txtPre", "txtSuf", w.shown})
      EXPECT_FALSE(Box(hidden)->isVisible()) << w.tool << " " << hidden;
    Box(w.shown)->setText(w.value);
    for (const bool shown : {true, false, true}) {  // hidden again, it keeps its text
      Find<QCheckBox>(w.check)->click();
      EXPECT_EQ(Box(w.shown)->isVisible(), shown) << w.tool;
    }
    EXPECT_EQ(QApplication::focusWidget(), Box(w.shown));  // shown, it takes the focus
    services_.folder_pick = dir / gbk;
    Click("cmdBrowse");
    Box("txtFrom")->setText("1");
    if (QLineEdit* to = Box("txtTo")) to->setText("2");
    RunAndWait(form);
    EXPECT_EQ(services_.messages, Events{kDone}) << w.tool;
    EXPECT_EQ(Tree(dir / gbk), w.after);
    QCoreApplication::processEvents();
    EXPECT_EQ(form->windowTitle(), title);
    CloseTask(w.tool);
  }
}

// The merge-folders window.
using Layout = std::map<std::string, QRect>;

// Left, top, width and height of the controls on `form`, in twips.
Layout Twips(const QWidget* form) {
  Layout twips;
  for (const QWidget* w : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    twips[w->objectName().toStdString()] = QRect(w->pos() * 15, w->size() * 15);
  return twips;
}

// `actual` (or how far it moved and grew from `from`) is `expected` to within a pixel.
void ExpectNear(const QRect& actual, const QRect& expected, const char* name, QRect from = {}) {
  const QRect a(actual.topLeft() - from.topLeft(), actual.size() - from.size());
  for (auto [x, y] : {std::pair{a.x(), expected.x()}, {a.y(), expected.y()},
                      {a.width(), expected.width()}, {a.height(), expected.height()}})
    EXPECT_LE(std::abs(x - y), 15) << name << ": " << x << " for " << y;
}

TEST_F(MainWindowTest, FolderMergeWindowResizesByItsRulesAndSkipsTheRefusedOnes) {
  QWidget* form = Open("miFolderMerge");
  QMdiSubWindow* frame = main.TaskWindow("miFolderMerge");
  EXPECT_EQ(form->size(), QSize(465, 320));  // 6975 x 4800 twips
  EXPECT_EQ(QApplication::focusWidget(), Find("lstFolderList"));
  EXPECT_TRUE(frame->windowFlags().testFlags(Qt::WindowMinimizeButtonHint |
                                             Qt::WindowMaximizeButtonHint));
  const Layout designed = Twips(form);
  frame->resize(frame->size() + QSize(20, 0));  // 300 twips wider
  const Layout wider = Twips(form);
  frame->resize(frame->size() + QSize(0, 20));  // then 300 taller
  const Layout taller = Twips(form);
  // The directory list settles on whole rows (270 twips here) short of its 2840 (or its 300
  // more), and the source list's bottom and the rows under them follow it.
  const int row = 270, d = designed.at("Dir").height(), l = 720 + d + 560;
  const int g = taller.at("Dir").height() - wider.at("Dir").height();
  EXPECT_TRUE(d <= 2840 && d > 2840 - row) << d;
  EXPECT_TRUE(g > 300 - row && g < 300 + row) << g;
  const QRect right(200, 0, 0, 0), lists(200, 0, 100, 0), half(150, 0, 0, 0);
  const QRect down(0, 150, 0, 0), under(0, g, 0, 0), longer(0, 0, 0, g);
  // Each control's place, then how far it moves and grows as the window grows.
  const struct { const char* name; QRect designed, wider, taller; } rows[] = {
      {"lstFolderList", {120, 720, 3650, d + 360}, {0, 0, 200, 0}, longer},
      {"cmdAdd", {3870, 1660, 1000, 300}, right, down},
      {"cmdDelete", {3870, 2160, 1000, 300}, right, down},
      {"cmdClear", {3870, 2660, 1000, 300}, right, down},
      {"Drv", {4970, 720, 1905, 300}, lists, {}},
      {"Dir", {4970, 1080, 1905, d}, lists, longer},
      {"labDestinationPath", {120, l, 735, 255}, {}, under},
      {"txtDestinationPath", {960, l - 45, 4775, 300}, {0, 0, 300, 0}, under},
      {"cmdBrowse", {5835, l - 45, 1000, 300}, {300, 0, 0, 0}, under},
      {"cmdOK", {2288, l + 400, 1000, 300}, half, under},
      {"cmdCancel", {3488, l + 400, 1000, 300}, half, under},
  };
  for (const auto& r : rows) {
    ExpectNear(designed.at(r.name), r.designed, r.name);
    ExpectNear(wider.at(r.name), r.wider, r.name, designed.at(r.name));
    ExpectNear(taller.at(r.name), r.taller, r.name, wider.at(r.name));
  }
  // Too small for any size: those rules are skipped, the positions still follow.
  frame->resize(1, 1);
  EXPECT_EQ(form->size(), QSize(0, 0));
  for (const char* name : {"lstFolderList", "Drv", "Dir", "txtDestinationPath"})
    EXPECT_EQ(Twips(form)[name].size(), taller.at(name).size()) << name;
  EXPECT_EQ(Twips(form)["cmdOK"].left(), -1200);
  frame->resize(frame->sizeHint());
  frame->showMinimized();
  frame->showNormal();
  EXPECT_EQ(form->size(), QSize(465, 320));
}

TEST_F(MainWindowTest, FolderMergeWindowBuildsItsSourceListFromTheDirectoryListAndCopiesFromIt) {
  TempDir dir;
  const std::string gbk = "\xd5\xd5\xc6\xac";  // 照片 in GBK: not UTF-8, the last folder listed
  dir.Write("a/1.txt", "a");
  dir.Write(gbk + "/2.txt", "gbk");
  char here[4096];
  ASSERT_TRUE(::getcwd(here, sizeof here) && ::chdir(dir.path().c_str()) == 0);
  QWidget* form = Open("miFolderMerge");  // its lists open at the working folder
  ASSERT_EQ(::chdir(here), 0);
  auto* folders = Find<QListWidget>("Dir");
  auto* list = Find<QListWidget>("lstFolderList");
  for (int row : {2, 1, 2, 1, 2}) {  // counted from the end: a, the GBK folder, a, ...
    folders->setCurrentRow(folders->count() - row);
    Click("cmdAdd");
  }
  for (int i : {0, 2}) list->item(i)->setSelected(true);
  Click("cmdDelete");
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->item(0)->text(), QString::fromUtf8(dir / gbk));  // replacement characters
  DoubleClick(list, list->item(0));
  EXPECT_EQ(list->count(), 2);  // the GBK folder, then a

  Box("txtDestinationPath")->setText(QString::fromStdString(dir / "out"));
  services_.answer = Answer::Yes;
  RunAndWait(form);
  EXPECT_EQ(services_.messages,
            (Events{Msg("指定的目标目录不存在，是否创建？", Icon::Question, Buttons::YesNo),
                    Msg("操作完成！", Icon::Information)}));
  EXPECT_EQ(Tree(dir / "out"), (std::vector<std::string>{"1.txt=a", "2.txt=gbk"}));
  EXPECT_EQ(form->windowTitle(), QString::fromUtf8("批合并目录"));
  Click("cmdClear");
  EXPECT_EQ(list->count(), 0);
}

// Stopping a run: Esc or the close box of its window, after the question, or closing the
// program. Each run creates empty files, far more than it has time to make.
class StopRunWindowTest : public MainWindowTest {
 protected:
  // Starts creating files 1 to 200000 in a new folder and returns once the first are made.
  QWidget* StartLongRun() {
    out = dir.MakeFolder("run" + std::to_string(++runs));
    QWidget* form = Open("miFileBuild");
    Box("txtPath")->setText(QString::fromStdString(out));
    Box("txtFrom")->setText("1");
    Box("txtTo")->setText("200000");
    host = form->findChild<RunHost*>();
    finished = std::make_unique<QSignalSpy>(host, &RunHost::finished);
    Click("cmdOK");
    QDeadlineTimer limit(20000);
    while (std::filesystem::is_empty(out) && !limit.hasExpired()) QTest::qWait(1);
    EXPECT_TRUE(host->running());
    return form;
  }
  bool WaitForTheEnd() { return finished->count() > 0 || finished->wait(60000); }
  // The stop report counts exactly the files that are there.
  void ExpectStoppedWithWhatIsMade(const std::string& report) {
    const auto made = std::distance(std::filesystem::directory_iterator(out), {});
    EXPECT_EQ(report, Stopped(made, 200000));
  }

  TempDir dir;
  std::string out;
  int runs = 0;
  RunHost* host = nullptr;
  std::unique_ptr<QSignalSpy> finished;
};

// Asked twice: No lets the run go on, Yes stops it. After Esc the window stays, ready for
// another run; the close box closes it once the run has stopped and reported.
TEST_F(StopRunWindowTest, EscOrTheCloseBoxAsksAndYesStopsTheRunWhichReportsHowFarItCame) {
  for (const bool esc : {true, false}) {
    SCOPED_TRACE(esc ? "Esc" : "close box");
    QWidget* form = StartLongRun();
    const QPointer<QMdiSubWindow> frame = main.TaskWindow("miFileBuild");
    ASSERT_EQ(QApplication::focusWidget(), form);
    services_.messages.clear();
    for (const Answer answer : {Answer::No, Answer::Yes}) {
      services_.answer = answer;
      if (esc)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
      else
        EXPECT_FALSE(frame->close());  // not even on Yes: the run first stops and reports
      EXPECT_TRUE(answer == Answer::Yes || host->running());
    }
    ASSERT_TRUE(WaitForTheEnd());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(services_.messages.size(), 3u);
    EXPECT_EQ(Events(services_.messages.begin(), services_.messages.begin() + 2),
              (Events{kStopQuestion, kStopQuestion}));
    ExpectStoppedWithWhatIsMade(services_.messages[2]);
    EXPECT_EQ(bool(frame), esc);
    if (!esc) continue;
    QCoreApplication::processEvents();
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8("批建立文件"));
    EXPECT_TRUE(Find<QPushButton>("cmdOK")->isEnabled());
  }
}

TEST_F(StopRunWindowTest, ClosingTheProgramStopsTheRunAndClosesWhenItHasEnded) {
  StartLongRun();
  EXPECT_FALSE(main.close());
  ASSERT_TRUE(WaitForTheEnd());
  EXPECT_FALSE(main.isVisible());
  ASSERT_EQ(services_.messages.size(), 1u);  // no question: the user closed the program
  ExpectStoppedWithWhatIsMade(services_.messages[0]);
}

TEST_F(StopRunWindowTest, AWindowTornDownMidRunNeverWaitsForItsWorker) {
  StartLongRun();
  QSignalSpy idle(&RunTracker::instance(), &RunTracker::idle);
  delete main.TaskWindow("miFileBuild");  // the worker may be waiting for this thread
  ASSERT_TRUE(idle.count() > 0 || idle.wait(60000));
  EXPECT_TRUE(services_.messages.empty());  // the window had gone: nothing to say it to
  for (const auto& entry : std::filesystem::directory_iterator(out))
    EXPECT_FALSE(entry.path().filename().native().starts_with(".quorvane")) << entry.path();
}

TEST_F(StopRunWindowTest, AnUndoWhileATaskRunGoesOnIsRefused) {
  StartLongRun();
  Find<QAction>("miFileUndo")->trigger();
  EXPECT_FALSE(main.host().running());
  EXPECT_EQ(services_.messages, Events{kUndoRefused});
  host->RequestStop();
  ASSERT_TRUE(WaitForTheEnd());
  ASSERT_EQ(services_.messages.size(), 2u);
  ExpectStoppedWithWhatIsMade(services_.messages[1]);
}

// A batch cut short is offered once the window is shown; No brings the old names back (Yes,
// which finishes it, is the undo test's).
TEST_F(MainWindowTest, AtTheStartABatchCutShortIsOfferedAndTakenBack) {
  TempDir state, dir;
  const StateHome home(state.path());
  dir.Write("1", "one");
  dir.Write("2", "two");
  ASSERT_EQ(CutShortSwap(dir.path() + "/"), "");
  services_.messages.clear();
  frmMain started;
  started.show();
  EXPECT_TRUE(services_.messages.empty());  // asked once the window is shown
  QCoreApplication::processEvents();
  WaitForOwnRun(started);
  EXPECT_EQ(services_.messages,
            (Events{Interrupted(dir.path(), 2), Recovered(false, dir.path(), 2)}));
  EXPECT_EQ(Tree(dir.path()), (std::vector<std::string>{"1=one", "2=two"}));
}

// The undo of a batch of 3,000 files, held at its 1,000th rename by a gate in the
// file-system layer: what the main window does while its worker is inside the batch.
class UndoRunTest : public MainWindowTest {
 protected:
  static constexpr int kFiles = 3000, kHeldAt = 1000;

  // Renames f0001 .. f3000 to 1 .. 3000 through the rename run, opens a main window over the
  // gated file system and waits for the recovery its start offers.
  void SetUp() override {
    for (const std::string& file : Listed(true)) std::ofstream(dir / file.substr(0, 5));
    RecordingUi ui;
    ui.Set("txtPath=" + dir.path() + "|txtSourceName=*|txtFrom=1|txtStep=1");
    ASSERT_EQ(RunFileRename(SystemFileSystem(), ui), RunOutcome::Completed);
    ASSERT_EQ(Tree(dir.path()), Listed(false));
    fs.on_call = [this](FaultyFileSystem::Op op, const std::string& path) {
      if (op != FaultyFileSystem::Op::Rename || !path.starts_with(dir.path() + "/")) return;
      if (++renames != kHeldAt) return;
      std::unique_lock lock(mutex);
      held = true;
      // Bounded, so an undo run on the window's own thread fails the test instead of
      // hanging it.
      let_go.wait_for(lock, std::chrono::seconds(30), [this] { return released; });
    };
    window = std::make_unique<frmMain>(nullptr, fs);
    window->show();
    WaitForOwnRun(*window);
    finished = std::make_unique<QSignalSpy>(&window->host(), &RunHost::finished);
  }
  // A test that fails half way still lets its worker go and outlives it.
  void TearDown() override {
    Release();
    EXPECT_TRUE(WaitForRuns());
  }

  // Starts the undo, answered Yes, and returns once the worker waits at the gate.
  void StartHeldUndo() {
    services_.answer = Answer::Yes;
    finished->clear();
    window->Dispatch("miFileUndo");
    ASSERT_TRUE(window->host().running());
    ASSERT_TRUE(QTest::qWaitFor([this] { return Held(); }, 20000));
  }
  bool Held() {
    std::lock_guard lock(mutex);
    return held;
  }
  void Release() {
    {
      std::lock_guard lock(mutex);
      released = true;
    }
    let_go.notify_all();
  }
  bool WaitForTheEnd() { return finished->count() > 0 || finished->wait(60000); }

  // The folder's (empty) files as Tree lists them: f0001 .. f3000 before the rename, else
  // 1 .. 3000.
  static std::vector<std::string> Listed(bool old) {
    std::vector<std::string> names;
    for (int i = 1; i <= kFiles; ++i) {
      char name[8];
      std::snprintf(name, sizeof name, old ? "f%04d=" : "%d=", i);
      names.push_back(name);
    }
    std::ranges::sort(names);
    return names;
  }
  std::string Question() const {
    return Msg("是否撤销上次在“" + dir.path() + "/”中的重命名（共 3000 个文件）？",
               Icon::Question, Buttons::YesNo);
  }

  TempDir state, dir;
  const StateHome home{state.path()};
  FaultyFileSystem fs{SystemFileSystem()};
  std::atomic<int> renames{0};
  std::mutex mutex;
  std::condition_variable let_go;
  bool held = false, released = false;
  std::unique_ptr<frmMain> window;
  std::unique_ptr<QSignalSpy> finished;
};

// While the worker waits at the gate the window shows the busy pointer and the undo's
// progress, and refuses another undo and a task's run.
TEST_F(UndoRunTest, TheWindowShowsTheUndoAndRefusesOtherRunsWhileItIsInsideItsBatch) {
  window->Dispatch("miFolderUndo");  // the batch is one of files
  WaitForOwnRun(*window);
  EXPECT_EQ(services_.messages, Events{Msg("没有可以撤销的目录重命名！", Icon::Warning)});
  services_.messages.clear();
  StartHeldUndo();
  ASSERT_TRUE(QApplication::overrideCursor());
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  QCoreApplication::processEvents();
  EXPECT_EQ(window->windowTitle(), QString::fromUtf8("正在撤销重命名...33%"));

  window->findChild<QAction*>("miFolderUndo")->trigger();
  window->Dispatch("miFileBuild");
  QWidget* form = window->TaskWindow("miFileBuild")->widget();
  testing::Click(form, "cmdOK");
  EXPECT_FALSE(form->findChild<RunHost*>()->running());
  EXPECT_EQ(services_.messages,
            (Events{Question(), kUndoRefused,
                    Msg("正在撤销重命名，请等它完成后再开始批处理。", Icon::Warning)}));
  EXPECT_TRUE(Held());  // all of that while the worker still waits at the gate

  Release();
  ASSERT_TRUE(WaitForTheEnd());
  EXPECT_EQ(services_.messages.back(),
            Msg("已撤销上次在“" + dir.path() + "/”中的重命名，共 3000 个文件。",
                Icon::Information));
  EXPECT_EQ(Tree(dir.path()), Listed(true));
  QCoreApplication::processEvents();
  EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Quorvane文件批处理系统"));
  EXPECT_FALSE(QApplication::overrideCursor());
  // With the undo over, the task window runs again.
  services_.messages.clear();
  QSignalSpy task_done(form->findChild<RunHost*>(), &RunHost::finished);
  testing::Click(form, "cmdOK");
  ASSERT_TRUE(task_done.count() > 0 || task_done.wait(20000));
  EXPECT_EQ(services_.messages, Events{Msg("请输入文件路径！", Icon::Warning)});
}

// Esc, wherever the focus is, answered Yes, stops the undo after the item it is on; the
// half-done undo stays cut short, and the undo command then finishes it.
TEST_F(UndoRunTest, EscStopsTheUndoBetweenItemsAndTheUndoCommandThenFinishesIt) {
  StartHeldUndo();
  QTest::keyClick(window->mdi(), Qt::Key_Escape);
  EXPECT_TRUE(window->host().running());
  Release();
  ASSERT_TRUE(WaitForTheEnd());
  EXPECT_EQ(services_.messages, (Events{Question(), kStopQuestion, Stopped(kHeldAt, kFiles)}));
  const auto names = Tree(dir.path());
  EXPECT_EQ(std::ranges::count_if(names, [](const std::string& n) { return n[0] == 'f'; }),
            kHeldAt);

  services_.messages.clear();
  window->Dispatch("miFileUndo");  // Yes: finish the undo
  WaitForOwnRun(*window);
  EXPECT_EQ(services_.messages,
            (Events{Interrupted(dir.path(), kFiles), Recovered(true, dir.path(), kFiles)}));
  EXPECT_EQ(Tree(dir.path()), Listed(true));
  services_.messages.clear();
  window->Dispatch("miFileUndo");  // the batch counts as undone now
  WaitForOwnRun(*window);
  EXPECT_EQ(services_.messages, Events{Msg("没有可以撤销的文件重命名！", Icon::Warning)});
}

TEST_F(UndoRunTest, ClosingTheProgramAsksStopsTheUndoAndClosesOnceItHasEnded) {
  StartHeldUndo();
  services_.answer = Answer::No;
  EXPECT_FALSE(window->close());  // No: the undo goes on
  EXPECT_TRUE(window->host().running());
  services_.answer = Answer::Yes;
  EXPECT_FALSE(window->close());  // not yet: the undo first stops and reports
  Release();
  ASSERT_TRUE(WaitForTheEnd());
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(services_.messages, (Events{Question(), kStopQuestion, kStopQuestion,
                                        Stopped(kHeldAt, kFiles)}));
}

}  // namespace
}  // namespace quorvane::gui
