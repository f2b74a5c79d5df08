#pragma once

#include "shell/task_form.h"

namespace quorvane::gui {

/// The rename-folders window: a folder, an optional prefix and suffix and the numbering
/// fields; "确定(&O)" gives every direct subfolder a numbered name.
class frmFolderRename final : public TaskForm {
  Q_OBJECT
 public:
  explicit frmFolderRename(QWidget* parent = nullptr, FileSystem& fs = SystemFileSystem());
};

}  // namespace quorvane::gui
