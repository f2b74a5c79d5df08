#pragma once

#include <string>
#include <vector>

namespace quorvane {

enum class Icon { Information, Warning, Question, Error };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

/// The application title that every message box without a title of its own carries.
inline constexpr const char* kAppTitle = "Quorvane";

/// What a task's run may ask of its window. The run never sees a widget: the window
/// implements this port over its controls, the command-line front end over its options and
/// the terminal, and the tests with a recording fake, so every run is tested without a toolkit.
class TaskUi {
 public:
  virtual ~TaskUi() = default;

  /// The text of the named text box, exactly as typed.
  virtual std::string Text(const std::string& field) = 0;
  /// The entries of the named list, in their order, each as typed or picked (folder paths
  /// keep their bytes).
  virtual std::vector<std::string> Items(const std::string& field) = 0;
  /// Whether the named check box is ticked.
  virtual bool Checked(const std::string& field) = 0;
  /// The selected index of the named list (-1 when nothing is selected).
  virtual int Selected(const std::string& field) = 0;
  /// Shows a modal message and returns the answer (Ok for a box with only OK).
  virtual Answer Message(const std::string& text, Icon icon, Buttons buttons,
                         const std::string& title) = 0;
  /// Puts the keyboard focus into the named field.
  virtual void Focus(const std::string& field) = 0;
  /// The hourglass pointer (true) or the default pointer (false).
  virtual void SetBusy(bool busy) = 0;
  virtual std::string Caption() = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  /// Whether the user has asked the run to stop (Esc or the close box of its window, a
  /// signal on the command line). Runs read it at their points between items. May be called
  /// from the run's thread at any time and must not wait for the window.
  virtual bool StopRequested() { return false; }
};

}  // namespace quorvane
