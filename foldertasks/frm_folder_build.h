#pragma once

#include "shell/task_form.h"

namespace quorvane::gui {

/// The create-folders window: a parent folder, an optional template folder, the numbering
/// fields and an optional prefix and suffix; "确定(&O)" makes one folder per number.
class frmFolderBuild final : public TaskForm {
  Q_OBJECT
 public:
  explicit frmFolderBuild(QWidget* parent = nullptr, FileSystem& fs = SystemFileSystem());
};

}  // namespace quorvane::gui
