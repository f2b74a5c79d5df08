#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <functional>
#include <map>

#include "common/filesystem.h"
#include "common/run_frame.h"

class QMdiArea;
class QShowEvent;
class QMdiSubWindow;
class QMessageBox;
class QShortcut;

namespace quorvane::gui {

class RunHost;

/// The main window: the task windows open inside its MDI area; every menu entry and
/// toolbar button reaches Dispatch with the tool's name. Its own runs, the undo of the last
/// rename and the recovery of a batch cut short, go on alone on a worker thread.
class frmMain final : public QMainWindow {
  Q_OBJECT
 public:
  /// `fs` carries the window's own runs.
  explicit frmMain(QWidget* parent = nullptr, FileSystem& fs = SystemFileSystem());

  /// Acts on a tool name; names that are no command (the menu titles) do nothing.
  void Dispatch(const QString& tool);
  /// The open window of a task command, or null.
  QMdiSubWindow* TaskWindow(const QString& tool) const;
  QMdiArea* mdi() const { return mdi_; }
  /// The host of the window's own runs.
  RunHost& host() const { return *host_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  /// The first time the window shows, a rename batch cut short is offered for recovery.
  void showEvent(QShowEvent* event) override;

 private:
  using Factory = std::function<QWidget*()>;

  void BuildTools();
  void OnToolClick();
  void OpenTask(const QString& tool);
  /// Gives every maximised window but `except` its normal size back.
  void RestoreMaximised(const QMdiSubWindow* except);
  /// Keeps a fixed-size task window `frame` framed, at its size and inside the area.
  void KeepWhole(QMdiSubWindow* frame);
  void OpenHelp();
  void ShowAbout();
  void Exit();
  bool RefuseWhileRunning();
  // Starts the window's own run; Esc anywhere in the window then asks whether to stop it.
  void StartOwnRun(std::function<RunOutcome(TaskUi&)> run, const char* notice);
  void UndoRename(bool folders);
  void OfferRecovery();

  FileSystem& fs_;
  QMdiArea* mdi_;
  RunHost* host_;
  QShortcut* stop_key_;
  bool recovery_offered_ = false;
  QPointer<QMessageBox> busy_notice_;
  bool close_when_idle_ = false;  // a close waits for the runs it stopped
  QPointer<QWidget> help_;
  std::map<QString, Factory> factories_;
  std::map<QString, QPointer<QMdiSubWindow>> open_;
};

}  // namespace quorvane::gui
