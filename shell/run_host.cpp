#include "shell/run_host.h"

#include <atomic>

namespace quorvane::gui {
namespace {
std::atomic<int> active_runs{0};
}

RunHost::RunHost(QWidget* form) : QObject(form), form_(form) {}

RunHost::~RunHost() {
  // Windows refuse to close while their run goes on; this only guards a forced teardown.
  if (thread_) thread_->wait();
}

int RunHost::ActiveRuns() { return active_runs.load(); }

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
  ++active_runs;
  thread_->start();
}

void RunHost::OnThreadFinished() {
  thread_->deleteLater();
  thread_ = nullptr;
  --active_runs;
  for (auto& control : disabled_)
    if (control) control->setEnabled(true);
  disabled_.clear();
  ui_->ApplyPendingFocus();
  emit finished(outcome_);
}

}  // namespace quorvane::gui
