#pragma once

#include <QString>
#include <functional>

#include "common/task_ui.h"

class QWidget;

namespace quorvane::gui {

/// The modal and outside services the windows use. Each defaults to the real one (a message
/// box, the folder picker, the save dialog, the desktop's URL opener, a detached process);
/// tests replace them so that no real modal box ever blocks a test and every call is seen.
struct Services {
  std::function<Answer(QWidget* parent, const QString& text, Icon icon, Buttons buttons,
                       const QString& title)>
      message;
  /// The folder picker: the chosen folder, or empty when cancelled.
  std::function<QString(QWidget* parent)> pickFolder;
  /// The save dialog (asks before an existing file is chosen): a path, or empty.
  std::function<QString(QWidget* parent)> pickSaveFile;
  /// Opens a local page with the desktop's program for it.
  std::function<bool(const QString& path)> openPage;
  /// Shows the About box modally.
  std::function<void(QWidget* parent)> showAbout;
  /// Starts a program detached from this one; false when it could not be started.
  std::function<bool(const QString& program)> startDetached;
};

/// The services in force; tests assign their own members and restore them with ResetServices.
Services& services();
void ResetServices();

/// Shows a message through services().message with the application title.
Answer ShowMessage(QWidget* parent, const QString& text, Icon icon, Buttons buttons = Buttons::Ok,
                   const QString& title = QString::fromUtf8(kAppTitle));

}  // namespace quorvane::gui
