#include "shell/folder_lists.h"

#include <fcntl.h>
#include <unistd.h>

#include <QComboBox>
#include <QFile>
#include <QFileSystemWatcher>
#include <QKeyEvent>
#include <QListWidget>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSocketNotifier>
#include <QStorageInfo>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>

#include "common/natural_order.h"
#include "common/path.h"
#include "shell/path_text.h"

namespace quorvane::gui {
namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kLevelRole = Qt::UserRole + 1;
constexpr int kIndentStep = 10;
// Long enough to gather a burst of changes (a batch making thousands of folders) into one
// refresh, short enough that a new folder seems to appear at once.
constexpr int kRefreshDelayMs = 200;

// A directory list shows its folders as a tree: each entry is drawn one step further in
// than the one it lies in.
class IndentDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem shifted(option);
    shifted.rect.setLeft(shifted.rect.left() + Indent(index));
    QStyledItemDelegate::paint(painter, shifted, index);
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.rwidth() += Indent(index);
    return size;
  }

 private:
  static int Indent(const QModelIndex& index) {
    return index.data(kLevelRole).toInt() * kIndentStep;
  }
};

QByteArray Bytes(const std::string& text) {
  return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromBytes(const QVariant& value) { return value.toByteArray().toStdString(); }

// An absolute path without ".", ".." or doubled separators, worked out on the bytes alone,
// so that a folder which has vanished (or was never decodable) still has its chain.
std::string CleanAbsolute(const std::string& folder) {
  if (!folder.empty() && folder[0] == '/') return path::Folded(folder);
  char here[4096];
  return path::Folded(std::string(::getcwd(here, sizeof here) ? here : "/") + "/" + folder);
}

std::string ParentOf(const std::string& folder) {
  if (folder == "/") return {};
  const size_t slash = folder.rfind('/');
  return slash == 0 ? "/" : folder.substr(0, slash);
}

std::string ChildOf(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string LastName(const std::string& folder) {
  return folder == "/" ? folder : folder.substr(folder.rfind('/') + 1);
}

// The name the watcher knows `folder` by; empty when its bytes do not survive the trip
// through text (a name that is not UTF-8), as such a folder cannot be watched.
QString WatchName(const std::string& folder) {
  const QString name = QFile::decodeName(Bytes(folder));
  return QFile::encodeName(name) == Bytes(folder) ? name : QString();
}

bool IsWithin(const std::string& folder, const std::string& root) {
  return root == "/" || folder == root ||
         (folder.size() > root.size() && folder.starts_with(root) && folder[root.size()] == '/');
}

}  // namespace

FolderLists::FolderLists(QComboBox* drives, QListWidget* folders, FileSystem& fs)
    : QObject(folders),
      drives_(drives),
      folders_(folders),
      fs_(fs),
      watcher_(new QFileSystemWatcher(this)),
      refresh_(new QTimer(this)) {
  folders_->setItemDelegate(new IndentDelegate(folders_));
  refresh_->setSingleShot(true);
  refresh_->setInterval(kRefreshDelayMs);
  connect(refresh_, &QTimer::timeout, this, &FolderLists::Refresh);
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &FolderLists::OnWatchedChange);
  folders_->installEventFilter(this);
  FillDrives();
  // The kernel flags the mount table as having urgent data whenever it changes.
  mounts_ = ::open("/proc/self/mounts", O_RDONLY | O_CLOEXEC);
  if (mounts_ >= 0) {
    mount_notifier_ = new QSocketNotifier(mounts_, QSocketNotifier::Exception, this);
    connect(mount_notifier_, &QSocketNotifier::activated, this, &FolderLists::OnMountsChange);
  }
  // Only a change of volume switches folders; choosing the volume already shown keeps the
  // folder the user is in.
  connect(drives_, &QComboBox::currentIndexChanged, this, &FolderLists::OnDriveChange);
  connect(folders_, &QListWidget::itemDoubleClicked, this, &FolderLists::OnDoubleClick);
}

FolderLists::~FolderLists() {
  delete mount_notifier_;  // before the table it listens to is closed
  if (mounts_ >= 0) ::close(mounts_);
}

void FolderLists::OpenFolder(const std::string& folder) {
  current_ = CleanAbsolute(folder);
  ShowDriveOf(current_);
  Watch();
  FillDirectoryList(current_, fs_.FolderExists(current_), ListSubFolders());
}

std::string FolderLists::HighlightedFolder() const {
  const QListWidgetItem* item = folders_->currentItem();
  return item ? FromBytes(item->data(kPathRole)) : current_;
}

bool FolderLists::eventFilter(QObject* watched, QEvent* event) {
  // Enter opens the highlighted folder, the keyboard's double click.
  if (watched == folders_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      if (QListWidgetItem* item = folders_->currentItem()) OnDoubleClick(item);
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

void FolderLists::OnDriveChange(int index) {
  if (index < 0) return;
  OpenFolder(FromBytes(drives_->itemData(index)));
}

void FolderLists::OnDoubleClick(QListWidgetItem* item) {
  if (item) OpenFolder(FromBytes(item->data(kPathRole)));
}

void FolderLists::FillDrives() {
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    const std::string root = QFile::encodeName(volume.rootPath()).toStdString();
    // Container bind mounts can put single files in the mount table; they hold no folders.
    if (volume.isValid() && volume.isReady() && fs_.FolderExists(root) &&
        std::find(roots_.begin(), roots_.end(), root) == roots_.end())
      roots_.push_back(root);
  }
  if (std::find(roots_.begin(), roots_.end(), "/") == roots_.end()) roots_.push_back("/");
  std::sort(roots_.begin(), roots_.end(), NaturalLess);
  const QSignalBlocker quiet(drives_);
  const QIcon icon = folders_->style()->standardIcon(QStyle::SP_DriveHDIcon);
  for (const auto& root : roots_) drives_->addItem(icon, DisplayPath(root), Bytes(root));
}

void FolderLists::OnMountsChange() {
  {
    const QSignalBlocker quiet(drives_);
    drives_->clear();
  }
  roots_.clear();
  FillDrives();
  ShowDriveOf(current_);
  // The open folder may have gone with a volume.
  if (!refresh_->isActive()) refresh_->start();
}

void FolderLists::ShowDriveOf(const std::string& folder) {
  // The volume is the deepest mount point that holds the folder.
  int best = -1;
  for (int i = 0; i < static_cast<int>(roots_.size()); ++i)
    if (IsWithin(folder, roots_[i]) && (best < 0 || roots_[i].size() > roots_[best].size()))
      best = i;
  const QSignalBlocker quiet(drives_);
  drives_->setCurrentIndex(best);
}

void FolderLists::Watch() {
  QStringList wanted;
  for (std::string folder = current_; !folder.empty(); folder = ParentOf(folder)) {
    const QString name = WatchName(folder);
    if (!name.isEmpty() && fs_.FolderExists(folder)) wanted << name;
  }
  const QStringList watched = watcher_->directories();
  QStringList dropped, added;
  for (const QString& name : watched)
    if (!wanted.contains(name)) dropped << name;
  for (const QString& name : wanted)
    if (!watched.contains(name)) added << name;
  if (!dropped.isEmpty()) watcher_->removePaths(dropped);
  if (!added.isEmpty()) watcher_->addPaths(added);
}

// A change inside the open folder can change its subfolders; a change in a folder above it
// matters only when it took the open folder away (or brought it back).
void FolderLists::OnWatchedChange(const QString& path) {
  if (refresh_->isActive()) return;
  if (path == WatchName(current_) || fs_.FolderExists(current_) != shown_exists_)
    refresh_->start();
}

void FolderLists::Refresh() {
  std::string open = current_;
  // A folder that was opened while it did not exist is kept; one that vanished while shown
  // gives way to the nearest folder above it.
  if (shown_exists_)
    while (!ParentOf(open).empty() && !fs_.FolderExists(open)) open = ParentOf(open);
  const bool moved = open != current_;
  if (moved) {
    current_ = open;
    ShowDriveOf(current_);
  }
  Watch();
  const bool exists = fs_.FolderExists(current_);
  std::vector<std::string> names = ListSubFolders();
  if (!moved && exists == shown_exists_ && names == shown_names_) return;
  const std::string highlight = HighlightedFolder();
  const int scrolled = folders_->verticalScrollBar()->value();
  FillDirectoryList(highlight, exists, std::move(names));
  // The list stays where the user scrolled it, also with the highlight out of view.
  if (HighlightedFolder() == highlight) {
    folders_->doItemsLayout();  // the scroll range of the new rows
    folders_->verticalScrollBar()->setValue(scrolled);
  }
}

std::vector<std::string> FolderLists::ListSubFolders() {
  // A folder that cannot be read (or has vanished) shows no subfolders; the list stays usable.
  std::vector<std::string> names;
  std::string err;
  if (!fs_.SubFolders(current_, &names, &err)) names.clear();
  std::sort(names.begin(), names.end(), NaturalLess);
  return names;
}

void FolderLists::FillDirectoryList(const std::string& highlight, bool exists,
                                    std::vector<std::string> names) {
  shown_exists_ = exists;
  shown_names_ = std::move(names);
  std::vector<std::string> chain;
  for (std::string folder = current_; !folder.empty(); folder = ParentOf(folder))
    chain.insert(chain.begin(), folder);

  folders_->clear();
  const QIcon open = folders_->style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed = folders_->style()->standardIcon(QStyle::SP_DirClosedIcon);
  QListWidgetItem* highlighted = nullptr;
  const auto add = [&](const QIcon& icon, const std::string& path, int level) {
    auto* item = new QListWidgetItem(icon, DisplayPath(LastName(path)), folders_);
    item->setData(kPathRole, Bytes(path));
    item->setData(kLevelRole, level);
    item->setToolTip(DisplayPath(path));
    if (path == highlight) highlighted = item;
    return item;
  };

  int level = 0;
  QListWidgetItem* opened = nullptr;
  for (const auto& folder : chain) opened = add(open, folder, level++);
  for (const auto& name : shown_names_) add(closed, ChildOf(current_, name), level);
  folders_->setCurrentItem(highlighted ? highlighted : opened);
  folders_->scrollToItem(folders_->currentItem());
}

}  // namespace quorvane::gui
