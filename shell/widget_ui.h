#pragma once

#include <QPointer>
#include <QWidget>
#include <QThread>
#include <QMetaObject>
#include <QCoreApplication>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "common/task_ui.h"

namespace quorvane::gui {

/// The UI port over a task window's controls, found by their object names. A run may call
/// it from a worker thread: every call is carried out on the window's own thread, and the
/// worker waits for the answer where there is one.
class WidgetUi final : public TaskUi {
 public:
  explicit WidgetUi(QWidget* form) : form_(form) {}

  std::string Text(const std::string& field) override;
  std::vector<std::string> Items(const std::string& field) override;
  bool Checked(const std::string& field) override;
  int Selected(const std::string& field) override;
  Answer Message(const std::string& text, Icon icon, Buttons buttons,
                 const std::string& title) override;
  void Focus(const std::string& field) override;
  void SetBusy(bool busy) override;
  std::string Caption() override;
  void SetCaption(const std::string& caption) override;
  /// True once RequestStop() has been called; never waits for the window.
  bool StopRequested() override { return stop_.load(std::memory_order_relaxed); }
  /// Asks the run to stop at its next point between items.
  void RequestStop() { stop_.store(true, std::memory_order_relaxed); }

  /// While set, focus moves wait for ApplyPendingFocus (a disabled control takes no focus).
  void SetDeferFocus(bool defer) { defer_focus_ = defer; }
  /// Carries out the focus move the run asked for while deferred; false when it asked none.
  bool ApplyPendingFocus();

 private:
  // A window that has gone (its run outlives it at a forced teardown) answers nothing: the
  // call returns at once with an empty answer, and so does one queued when the window goes.
  template <typename F>
  auto OnUiThread(F f) -> std::invoke_result_t<F> {
    const QPointer<QWidget> form = form_;
    if (!form) return std::invoke_result_t<F>{};
    if (QThread::currentThread() == form->thread()) return f();
    if constexpr (std::is_void_v<std::invoke_result_t<F>>) {
      QMetaObject::invokeMethod(form, f, Qt::BlockingQueuedConnection);
    } else {
      std::invoke_result_t<F> result{};
      QMetaObject::invokeMethod(form, [&] { result = f(); }, Qt::BlockingQueuedConnection);
      return result;
    }
  }
  // Posts without waiting; Qt keeps posted calls in order with the waiting ones. The
  // application object carries them, so the pointer comes back even when the window has gone.
  template <typename F>
  void PostToUiThread(F f) {
    if (QThread::currentThread() == qApp->thread()) return f();
    QMetaObject::invokeMethod(qApp, f, Qt::QueuedConnection);
  }

  // The caption waiting for the window's thread. At most one delivery is posted at a time
  // and it shows the newest caption, so a run that names each of 100,000 files never fills
  // the event queue nor waits for the window.
  struct PendingCaption {
    std::mutex mutex;
    std::string caption;
    bool posted = false;
  };

  QPointer<QWidget> form_;
  bool defer_focus_ = false;
  std::string pending_focus_;
  bool busy_ = false;
  std::string last_caption_;
  std::shared_ptr<PendingCaption> pending_caption_ = std::make_shared<PendingCaption>();
  std::atomic<bool> stop_{false};
};

}  // namespace quorvane::gui
