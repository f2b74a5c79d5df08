#include "shell/frm_browse.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>

#include "common/natural_order.h"
#include "shell/controls.h"

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

bool IsRoot(const QString& folder) { return QDir(folder).isRoot(); }

// Works on the text alone, so the chain of a folder that has vanished still shows.
QString ParentOf(const QString& folder) {
  const qsizetype slash = folder.lastIndexOf('/');
  if (IsRoot(folder) || slash < 0) return QString();
  QString parent = folder.left(slash);
  if (parent.isEmpty() || parent.endsWith(':')) parent += '/';
  return parent;
}

QString ChildOf(const QString& folder, const QString& name) {
  return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

QString DisplayName(const QString& folder) {
  return IsRoot(folder) ? QDir::toNativeSeparators(folder) : QFileInfo(folder).fileName();
}

QStringList SubfoldersInNaturalOrder(const QString& folder) {
  QStringList names =
      QDir(folder).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::NoSort);
  std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
    return NaturalLess(a.toUtf8().toStdString(), b.toUtf8().toStdString());
  });
  return names;
}

}  // namespace

frmBrowse::frmBrowse(QWidget* parent)
    : QDialog(parent, kFixedDialogFlags) {
  setObjectName("frmBrowse");
  setWindowTitle(QString::fromUtf8("选择路径"));
  setFixedSize(Px(3690), Px(4215));

  drv_ = new QComboBox(this);
  drv_->setObjectName("drv");
  drv_->setGeometry(Px(120), Px(120), Px(3495), Px(300));

  dir_ = new QListWidget(this);
  dir_->setObjectName("Dir");
  dir_->setGeometry(Px(120), Px(480), Px(3495), Px(3240));
  dir_->setItemDelegate(new IndentDelegate(dir_));
  dir_->installEventFilter(this);

  auto* ok = PlaceButton(this, "cmdOK", "确定(&O)", 720, 3840);
  auto* cancel = PlaceButton(this, "cmdCancel", "取消(&C)", 1920, 3840);

  setTabOrder(drv_, dir_);
  setTabOrder(dir_, ok);
  setTabOrder(ok, cancel);

  FillDrives();
  OpenFolder(QCoreApplication::applicationDirPath());

  // currentIndexChanged follows a new volume however it was chosen; activated also takes the
  // user back to the root when the volume chosen is the one already shown.
  connect(drv_, &QComboBox::currentIndexChanged, this, &frmBrowse::OnDriveChange);
  connect(drv_, &QComboBox::activated, this, &frmBrowse::OnDriveChange);
  connect(dir_, &QListWidget::itemDoubleClicked, this, &frmBrowse::OnDirDoubleClick);
  connect(ok, &QPushButton::clicked, this, &frmBrowse::OnOK);
  connect(cancel, &QPushButton::clicked, this, &frmBrowse::reject);
}

void frmBrowse::OpenFolder(const QString& folder) {
  current_ = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
  ShowDriveOf(current_);
  FillDirectoryList();
}

QString frmBrowse::CurrentFolder() const { return current_; }

void frmBrowse::reject() {
  sPath.clear();
  QDialog::reject();
}

bool frmBrowse::eventFilter(QObject* watched, QEvent* event) {
  // Enter opens the highlighted folder, the keyboard's double click; the dialog has no
  // default button for it to reach.
  if (watched == dir_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      if (QListWidgetItem* item = dir_->currentItem()) OnDirDoubleClick(item);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void frmBrowse::OnDriveChange(int index) {
  if (index < 0) return;
  const QString root = drv_->itemData(index).toString();
  if (root != current_) OpenFolder(root);
}

void frmBrowse::OnDirDoubleClick(QListWidgetItem* item) {
  if (item) OpenFolder(item->data(kPathRole).toString());
}

void frmBrowse::OnOK() {
  sPath = QDir::toNativeSeparators(current_);
  accept();
}

void frmBrowse::FillDrives() {
  QStringList roots;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    const QString root = volume.rootPath();
    // Container bind mounts can put single files in the mount table; they hold no folders.
    if (volume.isValid() && volume.isReady() && QFileInfo(root).isDir() && !roots.contains(root))
      roots.append(root);
  }
  std::sort(roots.begin(), roots.end(), [](const QString& a, const QString& b) {
    return NaturalLess(a.toUtf8().toStdString(), b.toUtf8().toStdString());
  });
  const QSignalBlocker quiet(drv_);
  const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
  for (const QString& root : roots) drv_->addItem(icon, QDir::toNativeSeparators(root), root);
}

void frmBrowse::ShowDriveOf(const QString& folder) {
  const QString root = QStorageInfo(folder).rootPath();
  if (root.isEmpty()) return;
  const QSignalBlocker quiet(drv_);
  int index = drv_->findData(root);
  if (index < 0) {
    drv_->addItem(style()->standardIcon(QStyle::SP_DriveHDIcon), QDir::toNativeSeparators(root),
                  root);
    index = drv_->count() - 1;
  }
  drv_->setCurrentIndex(index);
}

void frmBrowse::FillDirectoryList() {
  QStringList chain;
  for (QString folder = current_; !folder.isEmpty(); folder = ParentOf(folder))
    chain.prepend(folder);

  dir_->clear();
  const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
  const auto add = [this](const QIcon& icon, const QString& text, const QString& path,
                          int level) {
    auto* item = new QListWidgetItem(icon, text, dir_);
    item->setData(kPathRole, path);
    item->setData(kLevelRole, level);
    item->setToolTip(QDir::toNativeSeparators(path));
    return item;
  };

  int level = 0;
  QListWidgetItem* opened = nullptr;
  for (const QString& folder : chain) opened = add(open, DisplayName(folder), folder, level++);
  for (const QString& name : SubfoldersInNaturalOrder(current_))
    add(closed, name, ChildOf(current_, name), level);

  dir_->setCurrentItem(opened);
  dir_->scrollToItem(opened);
}

QString BrowseForFolder(QWidget* parent) {
  frmBrowse dialog(parent);
  dialog.exec();
  return dialog.sPath;
}

}  // namespace quorvane::gui
