#pragma once

#include <QObject>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include "common/run_frame.h"
#include "shell/widget_ui.h"

namespace quorvane::gui {

/// Counts the runs going on in the whole program and tells when a run speaks to the user
/// and when the last run has ended, so that a notice about a run never outlives it.
class RunTracker final : public QObject {
  Q_OBJECT
 public:
  static RunTracker& instance();
  int active() const { return active_; }

 signals:
  /// A run is about to show a message.
  void runSpeaks();
  /// No run goes on any more.
  void idle();

 private:
  friend class RunHost;
  int active_ = 0;
};

/// Runs a task window's run on a worker thread, so that its caption shows the progress and
/// the main window keeps repainting, while the window's own controls take no input until
/// the run ends. Message boxes stay on the user-interface thread. The run can be asked to
/// stop; the host never waits for its worker, which may itself be waiting for the window.
class RunHost final : public QObject {
  Q_OBJECT
 public:
  using Run = std::function<RunOutcome(TaskUi&)>;

  explicit RunHost(QWidget* form);
  ~RunHost() override;

  /// Starts `run` unless one is going on already.
  void Start(Run run);
  bool running() const { return thread_ != nullptr; }
  /// Asks the run going on, if any, to stop at its next point between items.
  void RequestStop();
  /// During a run: asks "是否停止当前操作？" and, on Yes, asks the run to stop. True for Yes.
  bool AskStop();

 signals:
  void finished(quorvane::RunOutcome outcome);

 private:
  // What the worker uses, shared with it so that it outlives a host torn down mid-run.
  struct Job {
    std::unique_ptr<WidgetUi> ui;
    RunOutcome outcome = RunOutcome::Failed;
  };

  void OnThreadFinished();

  QWidget* form_;
  // The field the user was in last (buttons aside, which a click or an access key focuses on
  // the way to a run), and the one the focus goes back to when a run names none.
  QPointer<QWidget> last_field_;
  QPointer<QWidget> return_focus_;
  QThread* thread_ = nullptr;
  std::shared_ptr<Job> job_;
  std::vector<QPointer<QWidget>> disabled_;
};

}  // namespace quorvane::gui
