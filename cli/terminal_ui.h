#pragma once

#include <chrono>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "common/task_ui.h"

namespace quorvane::cli {

/// Makes SIGINT, SIGTERM and SIGHUP ask the run to stop: the first one is noted and the run
/// stops at its next point between items; a second one of the same kind ends the program
/// at once, so a run that is stuck can still be ended.
void HandleStopSignals();
/// The number of the first stop signal received, 0 before any.
int StopSignal();
/// Notes a failed write to `stream` (standard output or standard error): the run stops and
/// the program ends with status 2. True when the stream has failed.
bool NoteOutputFailure(std::ostream& stream);
/// The errno of the first failed write to standard output or standard error; 0 while none
/// has failed.
int OutputError();

/// The UI port over the command line: fields come from the options, messages go to
/// standard error, and questions are answered by --yes, by the user at a terminal, or No.
class TerminalUi final : public TaskUi {
 public:
  TerminalUi(std::string caption, bool assume_yes, bool quiet);

  void SetText(const std::string& field, std::string text) { texts_[field] = std::move(text); }
  void SetItems(const std::string& field, std::vector<std::string> items) {
    items_[field] = std::move(items);
  }
  void SetChecked(const std::string& field, bool checked) { checks_[field] = checked; }
  void SetSelected(const std::string& field, int index) { selections_[field] = index; }

  std::string Text(const std::string& field) override;
  std::vector<std::string> Items(const std::string& field) override;
  bool Checked(const std::string& field) override;
  int Selected(const std::string& field) override;
  Answer Message(const std::string& text, Icon icon, Buttons buttons,
                 const std::string& title) override;
  void Focus(const std::string&) override {}
  void SetBusy(bool) override {}
  std::string Caption() override { return caption_; }
  void SetCaption(const std::string& caption) override;
  /// True once a stop signal has come or the output has failed.
  bool StopRequested() override;

 private:
  Answer AskUser(const std::string& question);
  void EndProgressLine();

  std::string caption_;
  const std::string window_caption_;
  const bool assume_yes_;
  const bool quiet_;
  const bool progress_shown_;
  bool progress_line_open_ = false;
  std::chrono::steady_clock::time_point last_drawn_;
  std::map<std::string, std::string> texts_;
  std::map<std::string, std::vector<std::string>> items_;
  std::map<std::string, bool> checks_;
  std::map<std::string, int> selections_;
};

}  // namespace quorvane::cli
