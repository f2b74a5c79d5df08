#pragma once

#include <QObject>
#include <string>
#include <vector>

#include "common/filesystem.h"

class QComboBox;
class QFileSystemWatcher;
class QListWidget;
class QListWidgetItem;
class QSocketNotifier;
class QTimer;

namespace quorvane::gui {

/// A drive list above a directory list, as the folder picker and the folder-merge window show
/// them. The drive list holds the root and the mounted file systems; the directory list the
/// folders from the root down to the open folder, each drawn one step further in, then the
/// open folder's subfolders. A double click (or Enter) opens a folder; choosing another drive
/// opens its root. Folders are listed and handed out as byte strings, so a folder whose name
/// is not UTF-8 shows with replacement characters and keeps its real name.
/// The directory list follows the disk while it is shown: folders made or removed in the open
/// folder appear and go a moment later, the open folder and the highlighted entry stay, and
/// when the open folder itself goes the list moves up to the nearest folder that is left.
/// The drive list follows file systems being mounted and unmounted.
class FolderLists final : public QObject {
  Q_OBJECT
 public:
  /// Fills `drives` and drives `folders`; owned by `folders`.
  FolderLists(QComboBox* drives, QListWidget* folders, FileSystem& fs);
  ~FolderLists() override;

  /// Opens `folder` (relative to the working folder when not absolute).
  void OpenFolder(const std::string& folder);
  /// The folder opened last: a root keeps its separator ("/"), any other folder has none.
  const std::string& CurrentFolder() const { return current_; }
  /// The folder highlighted in the directory list: the open one until another is clicked.
  std::string HighlightedFolder() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnDriveChange(int index);
  void OnDoubleClick(QListWidgetItem* item);
  void FillDrives();
  /// Lists the volumes afresh, keeping the open folder.
  void OnMountsChange();
  /// Shows in the drive list the volume that holds `folder`.
  void ShowDriveOf(const std::string& folder);
  /// Fills the directory list for current_, which `exists` or not, with its subfolders
  /// `names`; `highlight` is highlighted when it is listed, the open folder otherwise.
  void FillDirectoryList(const std::string& highlight, bool exists,
                         std::vector<std::string> names);
  /// current_'s subfolders in the list's order; none when it cannot be read.
  std::vector<std::string> ListSubFolders();
  /// Watches the open folder and the folders above it that are there.
  void Watch();
  void OnWatchedChange(const QString& path);
  /// Brings the directory list in line with the disk, if the disk has changed.
  void Refresh();

  QComboBox* drives_;
  QListWidget* folders_;
  FileSystem& fs_;
  std::vector<std::string> roots_;
  std::string current_;
  // What the directory list shows of current_: whether it was there, and its subfolders.
  bool shown_exists_ = false;
  std::vector<std::string> shown_names_;
  QFileSystemWatcher* watcher_;
  // Gathers a burst of changes into one refresh.
  QTimer* refresh_;
  // The mount table, which reports each mount and unmount; -1 when it cannot be read.
  int mounts_ = -1;
  QSocketNotifier* mount_notifier_ = nullptr;
};

}  // namespace quorvane::gui
