#pragma once

#include <exception>
#include <new>
#include <string>

#include "common/task_ui.h"

namespace quorvane {

/// Whether the run on the calling thread has been asked to stop: the place for work below a
/// run (a long copy between its blocks) to look. False on a thread without a run.
bool StopAskedOnThisThread();

/// A number of the run going on on the calling thread, new for every run of the process;
/// 0 on a thread without a run.
unsigned long RunNumberOnThisThread();

/// How a run ended: the command-line front end turns it into its exit status.
enum class RunOutcome { Completed, Refused, Failed, Stopped };

/// "正在合并文件..." + 33%: the progress text and the whole percentage of done / total,
/// the fraction taken in single precision and rounded to the nearest whole number.
std::string ProgressCaption(const std::string& text, long long done, long long total);

/// The whole percentage that ProgressCaption writes.
long ProgressPercent(long long done, long long total);

/// The frame every task run shares: refusals, questions, the busy pointer, the saved and
/// restored caption, the completion message and the general error report. Whatever way a
/// run leaves, the frame gives back the default pointer and the saved caption.
class RunFrame {
 public:
  /// While the frame lives, StopAskedOnThisThread() on the calling thread asks `ui`.
  explicit RunFrame(TaskUi& ui);
  ~RunFrame();
  RunFrame(const RunFrame&) = delete;
  RunFrame& operator=(const RunFrame&) = delete;

  TaskUi& ui() { return ui_; }

  /// A refused field: the warning (or `icon`), then the focus into `focus_field` (none when
  /// empty).
  RunOutcome Refuse(const std::string& message, const std::string& focus_field = {},
                    Icon icon = Icon::Warning);
  /// A question with Yes and No; true only for Yes. A question asked during the batch shows
  /// with the default pointer; the hourglass comes back after Yes.
  bool Ask(const std::string& question);
  /// The hourglass pointer, and the caption saved for the end of the run.
  void Begin();
  /// Shows the progress caption for `done` of `total`.
  void Progress(const std::string& text, long long done, long long total);
  /// Shows `caption`, a progress text with its percentage already written.
  void Progress(const std::string& caption);
  /// A warning after Begin(): the pointer goes back to the default before the box shows;
  /// then the focus into `focus_field` (none when empty).
  RunOutcome Stop(const std::string& message, const std::string& focus_field = {});
  /// The default pointer, "操作完成！", then the saved caption once the box is closed.
  RunOutcome Complete();
  /// The default pointer, then `message` with the information icon, then the saved caption
  /// once the box is closed: a report that says more than "操作完成！", after which the run
  /// may go on.
  void Report(const std::string& message);
  /// The general error report: the default pointer, the saved caption, then
  /// "系统错误：" + `description` with the error icon.
  RunOutcome Fail(const std::string& description);

  /// True once the user has asked the run to stop; read at the points between items.
  bool StopAsked() { return ui_.StopRequested(); }
  /// The end of a stopped run, once it has cleaned up: the default pointer, the saved
  /// caption, then "操作已停止：已完成 `done` 个，共 `total` 个。".
  RunOutcome Stopped(long long done, long long total);

  /// Runs `body` (which returns a RunOutcome); anything it throws ends in the error report,
  /// so no failure escapes the run.
  template <typename Body>
  RunOutcome Guard(Body&& body) {
    try {
      return body();
    } catch (const std::bad_alloc&) {
      return Fail("内存不足");
    } catch (const std::exception& e) {
      return Fail(e.what());
    }
  }

 private:
  void RestoreCaption();

  TaskUi& ui_;
  TaskUi* outer_;  // the frame's UI this thread asked before, restored on the way out
  unsigned long outer_number_;
  bool busy_ = false;
  bool caption_changed_ = false;
  std::string saved_caption_;
};

}  // namespace quorvane
