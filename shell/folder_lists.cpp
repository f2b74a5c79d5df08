#include "shell/folder_lists.h"

#include <unistd.h>

#include <QComboBox>
#include <QKeyEvent>
#include <QListWidget>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QFile>
#include <algorithm>

#include "common/natural_order.h"
#include "common/path.h"
#include "shell/path_text.h"

namespace quorvane::gui {
namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kLevelRole = Qt::UserRole + 1;
constexpr int kIndentStep = 10;

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

bool IsWithin(const std::string& folder, const std::string& root) {
  return root == "/" || folder == root ||
         (folder.size() > root.size() && folder.starts_with(root) && folder[root.size()] == '/');
}

}  // namespace

FolderLists::FolderLists(QComboBox* drives, QListWidget* folders, FileSystem& fs)
    : QObject(folders), drives_(drives), folders_(folders), fs_(fs) {
  folders_->setItemDelegate(new IndentDelegate(folders_));
  folders_->installEventFilter(this);
  FillDrives();
  // Only a change of volume switches folders; choosing the volume already shown keeps the
  // folder the user is in.
  connect(drives_, &QComboBox::currentIndexChanged, this, &FolderLists::OnDriveChange);
  connect(folders_, &QListWidget::itemDoubleClicked, this, &FolderLists::OnDoubleClick);
}

void FolderLists::OpenFolder(const std::string& folder) {
  current_ = CleanAbsolute(folder);
  ShowDriveOf(current_);
  FillDirectoryList();
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

void FolderLists::ShowDriveOf(const std::string& folder) {
  // The volume is the deepest mount point that holds the folder.
  int best = -1;
  for (int i = 0; i < static_cast<int>(roots_.size()); ++i)
    if (IsWithin(folder, roots_[i]) && (best < 0 || roots_[i].size() > roots_[best].size()))
      best = i;
  const QSignalBlocker quiet(drives_);
  drives_->setCurrentIndex(best);
}

void FolderLists::FillDirectoryList() {
  std::vector<std::string> chain;
  for (std::string folder = current_; !folder.empty(); folder = ParentOf(folder))
    chain.insert(chain.begin(), folder);

  folders_->clear();
  const QIcon open = folders_->style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed = folders_->style()->standardIcon(QStyle::SP_DirClosedIcon);
  const auto add = [this](const QIcon& icon, const std::string& path, int level) {
    auto* item = new QListWidgetItem(icon, DisplayPath(LastName(path)), folders_);
    item->setData(kPathRole, Bytes(path));
    item->setData(kLevelRole, level);
    item->setToolTip(DisplayPath(path));
    return item;
  };

  int level = 0;
  QListWidgetItem* opened = nullptr;
  for (const auto& folder : chain) opened = add(open, folder, level++);
  // A folder that cannot be read (or has vanished) shows no subfolders; the dialog stays usable.
  std::vector<std::string> names;
  std::string err;
  if (fs_.SubFolders(current_, &names, &err)) {
    std::sort(names.begin(), names.end(), NaturalLess);
    for (const auto& name : names) add(closed, ChildOf(current_, name), level);
  }
  folders_->setCurrentItem(opened);
  folders_->scrollToItem(opened);
}

}  // namespace quorvane::gui
