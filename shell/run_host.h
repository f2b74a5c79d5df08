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
  /// What a run that goes on alone says to a window whose run it holds back; empty while no
  /// such run goes on.
  const QString& aloneNotice() const { return alone_notice_; }

 signals:
  /// A run is about to show a message.
  void runSpeaks();
  /// No run goes on any more.
  void idle();

 private:
  friend class RunHost;
  int active_ = 0;
  QString alone_notice_;
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

  /// Starts `run` unless one is going on already, or unless a run that goes on alone does:
  /// then its notice shows and nothing starts.
  void Start(Run run);
  /// Starts `run`, which must go on alone (an undo, a recovery), unless one is going on
  /// already: the window's controls stay as they are, and while it goes on every other
  /// host's Start shows `notice` instead of starting. The caller makes sure no other run goes
  /// on when it starts.
  void StartAlone(Run run, const QString& notice);
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
  // Starts `run` on its worker; `alone_notice` is empty for a run that may go on beside others.
  void Launch(Run run, const QString& alone_notice);

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
