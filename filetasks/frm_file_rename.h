#pragma once

#include "shell/task_form.h"

namespace quorvane::gui {

/// The rename-files window: a folder, a file-name pattern, an optional prefix and suffix and
/// the numbering fields; "确定(&O)" gives every matching file a numbered name.
class frmFileRename final : public TaskForm {
  Q_OBJECT
 public:
  explicit frmFileRename(QWidget* parent = nullptr, FileSystem& fs = SystemFileSystem());
};

}  // namespace quorvane::gui
