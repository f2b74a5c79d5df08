#pragma once

#include <QWidget>

#include "common/filesystem.h"
#include "common/run_frame.h"
#include "shell/run_host.h"

namespace quorvane::gui {

/// What every task window is: a window inside the main window, of fixed size unless it says
/// otherwise, whose "确定(&O)"
/// runs its task on a worker thread, whose "退出(&Q)" closes it, and which during a run
/// takes Esc or its close box as a request to stop: once the user confirms, the run stops at
/// its next point between items, and a close happens when the run has ended.
class TaskForm : public QWidget {
  Q_OBJECT
 public:
  using Run = RunOutcome (*)(FileSystem&, TaskUi&);

  /// A window named `name` with the caption `caption`, `width` by `height` twips, whose
  /// 确定 runs `run` and whose first field on opening is `focus`.
  TaskForm(QWidget* parent, FileSystem& fs, const char* name, const char* caption, int width,
           int height, Run run, const char* focus);

  RunHost& host() { return *host_; }
  /// The size the window was designed at, which it opens with.
  QSize sizeHint() const override { return designed_; }
  /// Makes the window `extra` pixels taller than designed (the controls stay where they are).
  void Lengthen(int extra);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

  /// Lets the user resize the window; the main window then gives its frame a sizable border
  /// and minimise and maximise buttons.
  void MakeSizable();
  /// Connects cmdOK and cmdCancel; call once the controls are placed.
  void ConnectRunButtons();
  /// Opens the folder picker from button `button`; a chosen folder, or one dragged onto the
  /// box from a file manager, goes into box `box`.
  void BrowseFolderOn(const char* button, const char* box);

  FileSystem& fs_;

 private:
  // Closes the window's frame in the main window (or the window itself).
  void CloseWindow();

  RunHost* host_;
  Run run_;
  bool close_after_run_ = false;
  QSize designed_;
};

}  // namespace quorvane::gui
