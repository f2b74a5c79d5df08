// Keys pressed while a task window's modal dialog is up: every one belongs to the dialog.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFileDialog>
#include <QMdiArea>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <map>
#include <string>

#include "app/frm_about.h"
#include "gui_support.h"
#include "shell/frm_browse.h"
#include "support/temp_dir.h"

namespace quorvane::gui {
namespace {

using namespace testing;

struct Key {
  const char* name;
  Qt::Key key;
  Qt::KeyboardModifiers modifiers;
};
constexpr Key kKeys[] = {{"Alt+O", Qt::Key_O, Qt::AltModifier},
                         {"Alt+B", Qt::Key_B, Qt::AltModifier},
                         {"Alt+A", Qt::Key_A, Qt::AltModifier},
                         {"Alt+C", Qt::Key_C, Qt::AltModifier},
                         {"Enter", Qt::Key_Return, Qt::NoModifier}};

// The task windows open their real modal dialogs here; inside each, the test presses one key
// and notes what the dialog made of it and whether anything behind it moved.
class ModalKeysTest : public MainWindowTest {
 protected:
  ModalKeysTest() {
    const Services real = [] {
      ResetServices();
      return services();
    }();
    auto& s = services();
    s.pickFolder = real.pickFolder;
    s.pickOpenFile = real.pickOpenFile;
    s.pickSaveFile = real.pickSaveFile;
    s.showAbout = nullptr;
    s.message = [this, real](QWidget* parent, const QString& text, Icon icon, Buttons buttons,
                             const QString& title) {
      services_.messages.push_back(Msg(text.toStdString(), icon, buttons, title.toStdString()));
      if (!armed_) {  // a run started behind the dialog speaks: noted, never left waiting
        ++reached_behind_;
        return Answer::No;
      }
      return real.message(parent, text, icon, buttons, title);
    };
  }

  // Once the next modal dialog is up, presses the key in whatever has the focus there.
  void PressInNextDialog() {
    QWidget* dialog = QApplication::activeModalWidget();
    if (!dialog) {
      QTimer::singleShot(5, &main, [this] { PressInNextDialog(); });
      return;
    }
    ++dialogs_;
    armed_ = false;
    QApplication::setActiveWindow(dialog);  // as the window manager does
    EXPECT_TRUE(QTest::qWaitForWindowActive(dialog));
    QWidget* target = QApplication::focusWidget();
    EXPECT_TRUE(target && dialog->isAncestorOf(target));
    const int runs = RunTracker::instance().active();
    const int items = SourceCount();
    // A dialog opened from this one (a second picker) is counted and closed.
    QTimer::singleShot(0, dialog, [this, dialog] {
      QWidget* second = QApplication::activeModalWidget();
      if (!second || second == dialog) return;
      ++reached_behind_;
      second->close();
    });
    const QPointer<QWidget> guard = dialog;
    QTest::keyClick(target ? target : dialog, key_.key, key_.modifiers);
    QCoreApplication::processEvents();
    if (RunTracker::instance().active() != runs || SourceCount() != items || AMenuIsOpen())
      ++reached_behind_;
    left_open_ = guard && guard->isVisible();
    if (left_open_) guard->close();
  }

  bool AMenuIsOpen() {
    for (auto* menu : main.findChildren<QMenu*>())
      if (menu->isVisible()) return true;
    return false;
  }
  int SourceCount() {
    auto* list = Find<QListWidget>("lstFolderList");
    return list ? list->count() : 0;
  }

  Key key_{};
  bool armed_ = false;
  int dialogs_ = 0;
  int reached_behind_ = 0;
  bool left_open_ = false;
};

// Each dialog a task window opens, how the user opens it, and what each key does in it.
struct DialogCase {
  const char* dialog;
  const char* tool;
  const char* field;  // where a chosen folder or file goes
  std::function<void()> open;
  std::map<std::string, std::string> outcomes;
};

TEST_F(ModalKeysTest, EveryKeyInADialogOfATaskWindowStaysInTheDialog) {
  const auto press = [](Qt::Key key) {
    return [=] { QTest::keyClick(QApplication::focusWidget(), key, Qt::AltModifier); };
  };
  const QString program_folder = QCoreApplication::applicationDirPath();
  // What each key does in the picker: "chosen" hands its folder to the field behind it.
  const std::map<std::string, std::string> picker = {
      {"Alt+O", "chosen"}, {"Alt+B", "open"}, {"Alt+A", "open"},
      {"Alt+C", "closed"}, {"Enter", "open"}};
  const std::map<std::string, std::string> box = {
      {"Alt+O", "open"}, {"Alt+B", "open"}, {"Alt+A", "open"},
      {"Alt+C", "open"}, {"Enter", "closed"}};
  const std::vector<DialogCase> cases = {
      {"picker", "miFolderBuild", "txtPath", press(Qt::Key_B), picker},
      {"picker over the source list", "miFolderMerge", "txtDestinationPath", press(Qt::Key_B),
       picker},
      {"open file dialog", "miFileBuild", "txtModPath", [this] {
         Find<QCheckBox>("chkMod")->setChecked(true);
         QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::AltModifier);
       }, {}},
      {"save file dialog", "miFileMerge", "txtDestinationPath", press(Qt::Key_V), {}},
      {"message box", "miFolderBuild", "", press(Qt::Key_O), box},
      {"About box", "miFolderMerge", "", [this] { Find<QAction>("miAbout")->trigger(); }, {}},
  };
  for (const DialogCase& c : cases) {
    for (const Key& key : kKeys) {
      SCOPED_TRACE(std::string(c.dialog) + " " + key.name);
      QApplication::setActiveWindow(&main);
      QWidget* form = Open(c.tool);
      ASSERT_TRUE(form);
      ASSERT_TRUE(QApplication::focusWidget());
      if (auto* list = Find<QListWidget>("lstFolderList")) list->addItem("/kept");
      if (auto* path = Box("txtPath")) path->setText(c.outcomes == box ? "" : "/old");
      QLineEdit* field = *c.field ? Box(c.field) : nullptr;
      if (field) field->setText("/old");
      key_ = key;
      dialogs_ = reached_behind_ = 0;
      QSignalSpy runs(form->findChild<RunHost*>(), &RunHost::finished);
      armed_ = true;
      QTimer::singleShot(0, &main, [this] { PressInNextDialog(); });
      c.open();
      while (RunTracker::instance().active() > 0) {
        ASSERT_TRUE(runs.wait(20000));
      }
      EXPECT_EQ(dialogs_, 1);
      EXPECT_EQ(reached_behind_, 0);
      if (!c.outcomes.empty()) {
        const bool chosen = field && field->text() == program_folder;
        EXPECT_EQ(left_open_ ? "open" : chosen ? "chosen" : "closed", c.outcomes.at(key.name));
      }
      EXPECT_EQ(runs.count(), c.outcomes == box ? 1 : 0);  // only the run that spoke
      CloseTask(c.tool);
    }
  }
}

// F10 opens the first menu from a task window or the main window. Alt+O in an active task
// window is its 确定 (the run speaks); only with none active is it the 文件夹(O) menu's key.
TEST_F(MainWindowTest, MenuKeysOpenTheMenusUnlessTheActiveTaskWindowTakesThem) {
  const struct { const char* tool; Qt::Key key; Qt::KeyboardModifiers with; const char* menu;
                 bool opens; } rows[] = {
      {"miFileMerge", Qt::Key_O, Qt::AltModifier, "mnuFolder", false},
      {nullptr, Qt::Key_O, Qt::AltModifier, "mnuFolder", true},
      // F10 last: the menu bar stays in its keyboard mode after a menu F10 opened.
      {"miFolderBuild", Qt::Key_F10, Qt::NoModifier, "mnuFile", true},
      {nullptr, Qt::Key_F10, Qt::NoModifier, "mnuFile", true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.tool ? r.tool : "main window") + " " + r.menu);
    services_.messages.clear();
    if (r.tool) Open(r.tool);
    else main.setFocus();
    QTest::keyClick(r.tool ? QApplication::focusWidget() : &main, r.key, r.with);
    EXPECT_EQ(Find<QMenu>(r.menu)->isVisible(), r.opens);
    Find<QMenu>(r.menu)->close();
    EXPECT_TRUE(WaitForRuns());
    EXPECT_EQ(services_.messages.empty(), r.opens);
    if (r.tool) CloseTask(r.tool);
  }
}

// A run's message box belongs to the frame of the window that ran it and stands over it.
TEST_F(MainWindowTest, ARunsMessageBoxIsCentredOnTheWindowThatRanIt) {
  std::vector<QWidget*> owners;
  services().message = [&](QWidget* parent, const QString& text, Icon icon, Buttons buttons,
                           const QString& title) {
    services_.messages.push_back(Msg(text.toStdString(), icon, buttons, title.toStdString()));
    owners.push_back(parent);
    return Answer::No;
  };
  QWidget* build = Open("miFolderBuild");
  QWidget* merge = Open("miFileMerge");
  main.TaskWindow("miFolderBuild")->move(0, 0);  // two windows apart, well inside the screen
  main.TaskWindow("miFileMerge")->move(160, 200);
  RunAndWait(build, [&] {
    main.mdi()->setActiveSubWindow(main.TaskWindow("miFolderBuild"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_O, Qt::AltModifier);
  });
  RunAndWait(merge, [&] {
    main.mdi()->setActiveSubWindow(main.TaskWindow("miFileMerge"));
    Box("txtSourcePath")->setText("  ");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_O, Qt::AltModifier);
  });
  ASSERT_EQ(services_.messages.size(), 2u);
  EXPECT_EQ(owners, (std::vector<QWidget*>{main.TaskWindow("miFolderBuild"),
                                           main.TaskWindow("miFileMerge")}));
  for (QWidget* owner : owners) {
    const auto box = MakeMessageBox(owner, "OK", Icon::Information, Buttons::Ok, "Quorvane");
    box->show();
    const QPoint centre = owner->mapToGlobal(owner->rect().center());
    EXPECT_LE((box->frameGeometry().center() - centre).manhattanLength(), 4);
  }
}

// After a run's message the focus is in the field the run named, else back in the field the
// user was in when 确定 was pressed, by key or by mouse; never on a button such as 退出.
TEST_F(MainWindowTest, AfterARunTheFocusGoesToTheNamedFieldOrBackWhereItWas) {
  TempDir dir;
  struct Case {
    const char* what;
    const char* step;
    const char* focused;  // the field the user was in
    bool mouse;
    std::string message;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"refused, no field named, by key", "x", "txtStep", false,
       Msg("递增量只能是整数！", Icon::Warning), "txtStep"},
      {"refused, no field named, by mouse", "x", "txtTo", true,
       Msg("递增量只能是整数！", Icon::Warning), "txtTo"},
      {"refused, a field named", "0", "txtPath", true, Msg("递增量不能为零！", Icon::Warning),
       "txtStep"},
      {"completed, by key", "1", "txtFrom", false, Msg("操作完成！", Icon::Information),
       "txtFrom"},
      {"completed, by mouse", "1", "txtPath", true, Msg("操作完成！", Icon::Information),
       "txtPath"},
  };
  QWidget* form = Open("miFileBuild");
  Box("txtPath")->setText(QString::fromStdString(dir.path()));
  Box("txtFrom")->setText("1");
  Box("txtTo")->setText("2");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    services_.messages.clear();
    services_.answer = Answer::Yes;  // files already there are overwritten
    Box("txtStep")->setText(c.step);
    Box(c.focused)->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), Box(c.focused));
    RunAndWait(form, [&] {
      if (c.mouse)
        Click("cmdOK");
      else
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_O, Qt::AltModifier);
    });
    ASSERT_FALSE(services_.messages.empty());
    EXPECT_EQ(services_.messages.back(), c.message);
    ASSERT_TRUE(QApplication::focusWidget());
    EXPECT_EQ(QApplication::focusWidget()->objectName().toStdString(), c.expected);
  }
}

}  // namespace
}  // namespace quorvane::gui
