#pragma once

#include <QWidget>

#include "common/filesystem.h"
#include "shell/run_host.h"

namespace quorvane::gui {

/// The merge-files window: a source folder, a name pattern, a merge mode and a destination
/// file; "确定(&O)" merges the matching files into the destination.
class frmFileMerge final : public QWidget {
  Q_OBJECT
 public:
  explicit frmFileMerge(QWidget* parent = nullptr, FileSystem& fs = SystemFileSystem());

  RunHost& host() { return *host_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void OnTypeClick(int index);
  void OnBrowseSource();
  void OnBrowseDestination();
  void OnOK();
  void OnCancel();

  FileSystem& fs_;
  RunHost* host_;
};

}  // namespace quorvane::gui
