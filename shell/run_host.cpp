#include "shell/run_host.h"

#include <QApplication>
#include <QPushButton>

#include "shell/controls.h"
#include "shell/services.h"

namespace quorvane::gui {

RunTracker& RunTracker::instance() {
  static RunTracker tracker;
  return tracker;
}

RunHost::RunHost(QWidget* form) : QObject(form), form_(form) {
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    if (now && now != form_ && form_->isAncestorOf(now) && !qobject_cast<QPushButton*>(now))
      last_field_ = now;
  });
}

// A window torn down while its run goes on (the program ending) does not wait for the worker:
// the worker may be waiting for this very thread. The run is asked to stop, finds the window
// gone (its calls then return at once) and ends on its own; its thread deletes itself.
RunHost::~RunHost() {
  if (!thread_) return;
  disconnect(thread_, nullptr, this, nullptr);
  job_->ui->RequestStop();
}

void RunHost::Start(Run run) {
  if (thread_) return;
  if (const QString& notice = RunTracker::instance().aloneNotice(); !notice.isEmpty()) {
    ShowMessage(BoxOwner(form_), notice, Icon::Warning);
    return;
  }
  return_focus_ = last_field_ ? last_field_.data() : InitialFocus(form_);
  for (auto* control : form_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (control->isWindow() || !control->isEnabled()) continue;
    control->setEnabled(false);
    disabled_.emplace_back(control);
  }
  form_->setFocus(Qt::OtherFocusReason);  // Esc reaches the window while its controls rest
  Launch(std::move(run), {});
}

void RunHost::StartAlone(Run run, const QString& notice) {
  if (thread_) return;
  Launch(std::move(run), notice);
}

void RunHost::Launch(Run run, const QString& alone_notice) {
  job_ = std::make_shared<Job>();
  job_->ui = std::make_unique<WidgetUi>(form_);
  // A task window's controls rest while its run goes on: a focus move waits for them.
  job_->ui->SetDeferFocus(alone_notice.isEmpty());
  thread_ = QThread::create(
      [job = job_, run = std::move(run)] { job->outcome = run(*job->ui); });
  RunTracker& tracker = RunTracker::instance();
  const bool alone = !alone_notice.isEmpty();
  connect(thread_, &QThread::finished, thread_, &QObject::deleteLater);
  connect(thread_, &QThread::finished, &tracker, [&tracker, alone] {
    if (alone) tracker.alone_notice_.clear();
    if (--tracker.active_ == 0) emit tracker.idle();
  });
  connect(thread_, &QThread::finished, this, &RunHost::OnThreadFinished);
  ++tracker.active_;
  if (alone) tracker.alone_notice_ = alone_notice;
  thread_->start();
}

void RunHost::RequestStop() {
  if (thread_) job_->ui->RequestStop();
}

bool RunHost::AskStop() {
  if (!thread_) return false;
  const bool yes = ShowMessage(BoxOwner(form_), QString::fromUtf8("是否停止当前操作？"),
                               Icon::Question, Buttons::YesNo) == Answer::Yes;
  if (yes) RequestStop();  // the run may have ended while the question was up
  return yes;
}

void RunHost::OnThreadFinished() {
  thread_ = nullptr;
  for (auto& control : disabled_)
    if (control) control->setEnabled(true);
  disabled_.clear();
  const auto job = std::exchange(job_, nullptr);
  // Never left to whichever control Qt chose when the focused one was disabled (退出, say).
  if (!job->ui->ApplyPendingFocus() && return_focus_ && return_focus_->isEnabled() &&
      return_focus_->isVisible())
    return_focus_->setFocus(Qt::OtherFocusReason);
  emit finished(job->outcome);
}

}  // namespace quorvane::gui
