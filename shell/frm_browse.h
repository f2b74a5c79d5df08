#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace quorvane::gui {

/// The folder picker: a drive list above a directory list. It opens at the program's
/// folder; "确定(&O)" hands back the folder opened last in sPath, "取消(&C)" and the close
/// box an empty sPath.
class frmBrowse final : public QDialog {
  Q_OBJECT
 public:
  explicit frmBrowse(QWidget* parent);

  /// The chosen folder: a root keeps its separator ("/"), any other folder has none.
  QString sPath;

  /// Opens `folder` in the directory list, as a double click on it does.
  void OpenFolder(const QString& folder);
  /// The folder the directory list has open.
  QString CurrentFolder() const;

 protected:
  void reject() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnDriveChange(int index);
  void OnDirDoubleClick(QListWidgetItem* item);
  void OnOK();

  void FillDrives();
  /// Shows in the drive list the volume that holds `folder`, adding it when it is missing.
  void ShowDriveOf(const QString& folder);
  void FillDirectoryList();

  QComboBox* drv_;
  QListWidget* dir_;
  QString current_;
};

/// Shows frmBrowse modally and returns its sPath.
QString BrowseForFolder(QWidget* parent);

}  // namespace quorvane::gui
