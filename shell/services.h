#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "common/task_ui.h"

class QMessageBox;
class QWidget;

namespace quorvane::gui {

/// The modal and outside services the windows use. Each defaults to the real one (a message
/// box, the folder picker, the save dialog, the desktop's URL opener, a detached process);
/// tests replace them so that no real modal box ever blocks a test and every call is seen.
struct Services {
  std::function<Answer(QWidget* parent, const QString& text, Icon icon, Buttons buttons,
                       const QString& title)>
      message;
  /// The folder picker: the chosen folder as bytes, or empty when cancelled.
  std::function<std::string(QWidget* parent)> pickFolder;
  /// The open dialog for one existing file of any kind: a path, or empty.
  std::function<QString(QWidget* parent)> pickOpenFile;
  /// The save dialog (asks before an existing file is chosen): a path, or empty.
  std::function<QString(QWidget* parent)> pickSaveFile;
  /// Hands a local page to the desktop's program for it; false when there is no such program
  /// or it could not be started.
  std::function<bool(const QString& path)> openPage;
  /// Shows the About box modally; unset, the main window shows its own.
  std::function<void(QWidget* parent)> showAbout;
  /// Starts a program detached from this one; false when it could not be started.
  std::function<bool(const QString& program)> startDetached;
};

/// The services in force; tests assign their own members and restore them with ResetServices.
Services& services();
void ResetServices();

/// A message box with the icon, buttons and title, wide enough to show its whole title, centred
/// on `parent` also when that is a widget inside a window.
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const QString& text, Icon icon,
                                            Buttons buttons, const QString& title);

/// The widget a box about `form` belongs to and is centred on: its frame when it is a task
/// window inside the main window (never its controls, which a run disables), else its window.
QWidget* BoxOwner(QWidget* form);

/// Shows a message through services().message with the application title.
Answer ShowMessage(QWidget* parent, const QString& text, Icon icon, Buttons buttons = Buttons::Ok,
                   const QString& title = QString::fromUtf8(kAppTitle));

}  // namespace quorvane::gui
