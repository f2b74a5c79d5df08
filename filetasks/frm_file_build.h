#pragma once

#include "shell/task_form.h"

namespace quorvane::gui {

/// The create-files window: a folder, an optional template file, the numbering fields and an
/// optional prefix and suffix; "确定(&O)" makes one file per number.
class frmFileBuild final : public TaskForm {
  Q_OBJECT
 public:
  explicit frmFileBuild(QWidget* parent = nullptr, FileSystem& fs = SystemFileSystem());
};

}  // namespace quorvane::gui
