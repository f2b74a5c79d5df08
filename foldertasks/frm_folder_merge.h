#pragma once

#include <string>

#include "shell/task_form.h"

class QListWidget;

namespace quorvane::gui {

class FolderLists;

/// The merge-folders window, the one task window the user can resize: a list of source
/// folders built from a drive list and a directory list, the target folder and "包含所有子目录";
/// "确定(&O)" copies every file of the sources flat into the target. Its controls follow its
/// size by fixed rules on every resize.
class frmFolderMerge final : public TaskForm {
  Q_OBJECT
 public:
  explicit frmFolderMerge(QWidget* parent = nullptr, FileSystem& fs = SystemFileSystem());

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void OnAdd();
  /// Appends `folder` to the source list, as the add button and a drop of folders do.
  void AddFolder(const std::string& folder);
  void OnDelete();
  /// Lays the controls out for the window's inner size.
  void Arrange();

  QListWidget* list_;
  QListWidget* dir_;
  FolderLists* lists_;
};

}  // namespace quorvane::gui
