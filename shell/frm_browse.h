#pragma once

#include <QDialog>
#include <string>

#include "common/filesystem.h"

namespace quorvane::gui {

class FolderLists;

/// The folder picker: a drive list above a directory list. It opens at BrowseStartFolder's
/// choice; "确定(&O)" hands back the folder opened last in sPath, "取消(&C)" and the close
/// box an empty sPath. Folders are listed and handed back as byte strings, so a folder whose
/// name is not UTF-8 can be seen (with replacement characters) and picked.
class frmBrowse final : public QDialog {
  Q_OBJECT
 public:
  explicit frmBrowse(QWidget* parent, FileSystem& fs = SystemFileSystem());

  /// The chosen folder: a root keeps its separator ("/"), any other folder has none.
  std::string sPath;

  /// Opens `folder` in the directory list, as a double click on it does.
  void OpenFolder(const std::string& folder);
  /// The folder the directory list has open.
  const std::string& CurrentFolder() const;

 protected:
  void reject() override;

 private:
  void OnOK();

  FolderLists* lists_;
};

/// Shows frmBrowse modally and returns its sPath.
std::string BrowseForFolder(QWidget* parent);

}  // namespace quorvane::gui
