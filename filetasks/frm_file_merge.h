#pragma once

#include "shell/task_form.h"

namespace quorvane::gui {

/// The merge-files window: a source folder, a name pattern, a merge mode and a destination
/// file; "确定(&O)" merges the matching files into the destination.
class frmFileMerge final : public TaskForm {
  Q_OBJECT
 public:
  explicit frmFileMerge(QWidget* parent = nullptr, FileSystem& fs = SystemFileSystem());

 private:
  void OnTypeClick(int index);
};

}  // namespace quorvane::gui
