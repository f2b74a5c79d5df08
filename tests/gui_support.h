#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
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

namespace quorvane::testing {

/// A message the windows showed through the services.
struct ShownMessage {
  QString text;
  Icon icon;
  Buttons buttons;
  QString title;
};

/// Replaces every modal service with a recorder for the life of a test: messages are
/// recorded and answered from `answer`, pickers return what the test sets, and nothing
/// outside the test process is opened or started.
class ServiceRecorder {
 public:
  ServiceRecorder();
  ~ServiceRecorder() { gui::ResetServices(); }

  std::vector<ShownMessage> messages;
  Answer answer = Answer::No;
  std::string folder_pick;
  QString file_pick;
  std::vector<QString> opened_pages;
  /// What the desktop's page opener answers.
  bool page_opens = true;
  int about_shown = 0;
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
  }

  QWidget* Open(const char* tool) {
    main.Dispatch(tool);
    return main.TaskWindow(tool) ? main.TaskWindow(tool)->widget() : nullptr;
  }
  template <typename T = QWidget>
  T* Find(const char* name) { return main.findChild<T*>(name); }
  QLineEdit* Box(const char* name) { return Find<QLineEdit>(name); }
  void Click(const char* button) { QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton); }
  void CloseTask(const char* tool) {
    main.TaskWindow(tool)->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  QStringList Texts() {
    QStringList texts;
    for (const auto& m : services_.messages) texts << m.text;
    return texts;
  }
  // The first `count` controls that Tab reaches from `first`.
  QStringList TabOrder(const char* first, int count) {
    QStringList order;
    QWidget* w = Find(first);
    for (int i = 0; i < count; ++i, w = w->nextInFocusChain()) {
      while (!(w->focusPolicy() & Qt::TabFocus)) w = w->nextInFocusChain();
      order << w->objectName();
    }
    return order;
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
