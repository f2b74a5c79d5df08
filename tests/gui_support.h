#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QSignalSpy>
#include <QString>
#include <QTest>
#include <functional>
#include <vector>

#include "app/frm_main.h"
#include "shell/run_host.h"
#include "shell/services.h"
#include "support/recording_ui.h"

namespace quorvane::testing {

/// Clicks the button `name` inside `parent` with the mouse.
inline void Click(QObject* parent, const char* name) {
  QTest::mouseClick(parent->findChild<QPushButton*>(name), Qt::LeftButton);
}

/// A real double click on `item`: a press on it first, then the double click.
inline void DoubleClick(QListWidget* list, QListWidgetItem* item) {
  const QPoint at = list->visualItemRect(item).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

/// Replaces every modal service with a recorder for the life of a test: messages are
/// recorded as Msg() writes them and answered with `answer`, pickers return what the test
/// sets, and nothing outside the test process is opened or started.
class ServiceRecorder {
 public:
  ServiceRecorder() {
    auto& s = gui::services();
    s.message = [this](QWidget*, const QString& text, Icon icon, Buttons buttons,
                       const QString& title) {
      messages.push_back(Msg(text.toStdString(), icon, buttons, title.toStdString()));
      if (during_message) during_message();
      return buttons == Buttons::YesNo ? answer : Answer::Ok;
    };
    s.pickFolder = [this](QWidget*) { return folder_pick; };
    s.pickSaveFile = [this](QWidget*) { return file_pick; };
    s.openPage = [this](const QString& path) {
      opened_pages.push_back(path);
      return page_opens;
    };
    s.showAbout = [](QWidget*) {};
    s.startDetached = [](const QString&) { return false; };
  }
  ~ServiceRecorder() { gui::ResetServices(); }

  Events messages;
  Answer answer = Answer::No;
  std::string folder_pick;
  QString file_pick;
  std::vector<QString> opened_pages;
  /// What the desktop's page opener answers.
  bool page_opens = true;
  /// Called inside each message, while the run that asked waits for the answer.
  std::function<void()> during_message;
};

/// The main window, shown and active, with the task windows opened inside it as a user
/// opens them; every modal service is recorded.
class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    main.show();
    QApplication::setActiveWindow(&main);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&main));
    WaitForOwnRun(main);  // the recovery that the start offers, on its worker
  }

  /// Waits until the main window `window`'s own run (an undo, a recovery) has ended.
  static void WaitForOwnRun(gui::frmMain& window) {
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.host().running(); }, 20000));
  }

  /// Waits until no run of any window is left.
  static bool WaitForRuns() {
    return QTest::qWaitFor([] { return gui::RunTracker::instance().active() == 0; }, 60000);
  }

  QWidget* Open(const char* tool) {
    main.Dispatch(tool);
    return main.TaskWindow(tool) ? main.TaskWindow(tool)->widget() : nullptr;
  }
  template <typename T = QWidget>
  T* Find(const char* name) { return main.findChild<T*>(name); }
  QLineEdit* Box(const char* name) { return Find<QLineEdit>(name); }
  void Click(const char* button) { testing::Click(&main, button); }
  void CloseTask(const char* tool) {
    main.TaskWindow(tool)->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  // Presses 确定 (or the key given) and waits until the window's run has ended.
  void RunAndWait(QWidget* form, std::function<void()> press = {}) {
    QSignalSpy finished(form->findChild<gui::RunHost*>(), &gui::RunHost::finished);
    press ? press() : Click("cmdOK");
    ASSERT_TRUE(finished.count() > 0 || finished.wait(20000));
  }

  ServiceRecorder services_;
  gui::frmMain main;
};

}  // namespace quorvane::testing
