#include "shell/run_host.h"

namespace quorvane::gui {

RunTracker& RunTracker::instance() {
  static RunTracker tracker;
  return tracker;
}

RunHost::RunHost(QWidget* form) : QObject(form), form_(form) {}

RunHost::~RunHost() {
  // Windows refuse to close while their run goes on; this only guards a forced teardown.
  if (thread_) thread_->wait();
}

void RunHost::Start(Run run) {
  if (thread_) return;
  for (auto* control : form_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (control->isWindow() || !control->isEnabled()) continue;
    control->setEnabled(false);
    disabled_.emplace_back(control);
  }
  ui_ = std::make_unique<WidgetUi>(form_);
  ui_->SetDeferFocus(true);
  thread_ = QThread::create([this, run = std::move(run)] { outcome_ = run(*ui_); });
  connect(thread_, &QThread::finished, this, &RunHost::OnThreadFinished);
  ++RunTracker::instance().active_;
  thread_->start();
}

void RunHost::OnThreadFinished() {
  thread_->deleteLater();
  thread_ = nullptr;
  RunTracker& tracker = RunTracker::instance();
  if (--tracker.active_ == 0) emit tracker.idle();
  for (auto& control : disabled_)
    if (control) control->setEnabled(true);
  disabled_.clear();
  ui_->ApplyPendingFocus();
  emit finished(outcome_);
}

}  // namespace quorvane::gui
