#pragma once

#include <QString>
#include <vector>

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

}  // namespace quorvane::testing
