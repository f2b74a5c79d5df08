#include "foldertasks/frm_folder_merge.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <algorithm>
#include <cmath>

#include "foldertasks/folder_merge_run.h"
#include "shell/controls.h"
#include "shell/folder_drop.h"
#include "shell/folder_lists.h"
#include "shell/path_text.h"

namespace quorvane::gui {
namespace {

// The layout rules work in twips, in single precision, on what the controls hold; a control
// holds whole pixels.
float Tw(int pixels) { return static_cast<float>(pixels) * 15.0f; }
int Pixels(float twips) { return static_cast<int>(std::lround(twips / 15.0f)); }

float Left(const QWidget* w) { return Tw(w->x()); }
float Top(const QWidget* w) { return Tw(w->y()); }
float Width(const QWidget* w) { return Tw(w->width()); }
float Height(const QWidget* w) { return Tw(w->height()); }

void SetLeft(QWidget* w, float twips) { w->move(Pixels(twips), w->y()); }
void SetTop(QWidget* w, float twips) { w->move(w->x(), Pixels(twips)); }
// A control refuses a negative width or height; the rule is then skipped.
void SetWidth(QWidget* w, float twips) {
  if (twips >= 0) w->resize(Pixels(twips), w->height());
}
void SetHeight(QWidget* w, float twips) {
  if (twips >= 0) w->resize(w->width(), Pixels(twips));
}

// A directory list settles on a height that shows whole rows, never more than it is given.
void SetRowsHeight(QListWidget* list, float twips) {
  if (twips < 0) return;
  const int frame = 2 * list->frameWidth();
  const int row = std::max(1, list->count() > 0 ? list->sizeHintForRow(0)
                                                : list->fontMetrics().height());
  const int rows = std::max(0, (Pixels(twips) - frame) / row);
  list->resize(list->width(), frame + rows * row);
}

}  // namespace

frmFolderMerge::frmFolderMerge(QWidget* parent, FileSystem& fs)
    : TaskForm(parent, fs, "frmFolderMerge", "批合并目录", 6975, 4800, RunFolderMerge,
               "lstFolderList") {
  MakeSizable();
  PlaceLabel(this, "Label1", "将源目录内的所有文件复制到一个指定的目标目录", 120, 120, 5055, 255);
  PlaceLabel(this, "labFolderList", "源目录列表", 120, 480, 975, 255);
  list_ = Place<QListWidget>(this, "lstFolderList", 120, 720, 3255, 3180);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  auto* add = PlaceButton(this, "cmdAdd", "<---(&A)", 3480, 1560);
  auto* remove = PlaceButton(this, "cmdDelete", "--->(&D)", 3480, 2040);
  auto* clear = PlaceButton(this, "cmdClear", "-->>(&C)", 3480, 2520);
  auto* drives = Place<QComboBox>(this, "Drv", 4560, 720, 2295, 300);
  dir_ = Place<QListWidget>(this, "Dir", 4560, 1080, 2295, 2820);
  // Whole rows fill the list to its bottom; a long name is cut, and its tip shows it whole.
  dir_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  PlaceLabel(this, "labDestinationPath", "目标目录", 120, 4080, 735, 255);
  Place<QLineEdit>(this, "txtDestinationPath", 960, 4035, 4815, 300);
  PlaceButton(this, "cmdBrowse", "浏览(&B)", 5880, 4035);
  PlaceButton(this, "cmdOK", "确定(&O)", 2400, 4440);
  PlaceButton(this, "cmdCancel", "退出(&Q)", 3600, 4440);
  // Made last, as it comes last in the keyboard order: the order then holds inside the frame.
  Place<QCheckBox>(this, "chkTotal", 1440, 450, 1575, 255)
      ->setText(QString::fromUtf8("包含所有子目录"));
  SetTabOrder(this, {"lstFolderList", "cmdAdd", "Drv", "Dir", "cmdBrowse", "txtDestinationPath",
                     "cmdOK", "cmdCancel", "cmdDelete", "cmdClear", "chkTotal"});

  // The two lists start at the process's working folder.
  lists_ = new FolderLists(drives, dir_, fs);
  lists_->OpenFolder(".");
  connect(add, &QPushButton::clicked, this, &frmFolderMerge::OnAdd);
  connect(remove, &QPushButton::clicked, this, &frmFolderMerge::OnDelete);
  connect(list_, &QListWidget::itemDoubleClicked, this, &frmFolderMerge::OnDelete);
  connect(clear, &QPushButton::clicked, list_, &QListWidget::clear);
  AcceptFolderDrops(list_, fs, [this](const std::vector<std::string>& folders) {
    for (const auto& folder : folders) AddFolder(folder);
  });
  BrowseFolderOn("cmdBrowse", "txtDestinationPath");
  ConnectRunButtons();
}

void frmFolderMerge::OnAdd() { AddFolder(lists_->HighlightedFolder()); }

// The same folder may be listed more than once; each listing is copied.
void frmFolderMerge::AddFolder(const std::string& folder) { AddPathItem(list_, folder); }

void frmFolderMerge::OnDelete() {
  for (int i = 0; i < list_->count();) {
    if (list_->item(i)->isSelected())
      delete list_->takeItem(i);
    else
      ++i;
  }
}

void frmFolderMerge::resizeEvent(QResizeEvent* event) {
  TaskForm::resizeEvent(event);
  Arrange();
}

// In this order, each rule reading what the rules before it left: the source list takes two
// thirds of the width less 1000 twips and grows with the height, the list buttons stay
// beside its middle, the drive and directory lists fill the rest, the directory list settles
// on whole rows and the source list's bottom follows it; the target row and the command
// buttons come under them.
void frmFolderMerge::Arrange() {
  const auto find = [this](const char* name) { return findChild<QWidget*>(name); };
  QWidget *remove = find("cmdDelete"), *add = find("cmdAdd"), *clear = find("cmdClear"),
          *drives = find("Drv"), *label = find("labDestinationPath"),
          *target = find("txtDestinationPath"), *browse = find("cmdBrowse"),
          *ok = find("cmdOK"), *cancel = find("cmdCancel");
  const float w = Tw(width()), h = Tw(height());
  SetWidth(list_, w / 3 * 2 - 1000);
  SetHeight(list_, h - 1600);
  SetLeft(remove, Left(list_) + Width(list_) + 100);
  SetTop(remove, Top(list_) + Height(list_) / 2 - 160);
  SetLeft(add, Left(remove));
  SetTop(add, Top(remove) - 500);
  SetLeft(clear, Left(remove));
  SetTop(clear, Top(remove) + 500);
  SetLeft(drives, Left(remove) + Width(remove) + 100);
  SetWidth(drives, w - Left(remove) - Width(remove) - 200);
  SetLeft(dir_, Left(drives));
  SetWidth(dir_, Width(drives));
  SetRowsHeight(dir_, Height(list_) - 360);
  SetHeight(list_, Height(dir_) + 360);
  SetTop(label, Top(list_) + Height(list_) + 200);
  SetTop(target, Top(label) - 45);
  SetWidth(target, w - 2200);
  SetLeft(browse, Left(target) + Width(target) + 100);
  SetTop(browse, Top(target));
  SetLeft(ok, w / 2 - 1200);
  SetTop(ok, Top(label) + 400);
  SetLeft(cancel, Left(ok) + 1200);
  SetTop(cancel, Top(ok));
}

}  // namespace quorvane::gui
