#include "shell/frm_browse.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>

#include "shell/controls.h"
#include "shell/folder_lists.h"
#include "shell/install_layout.h"

namespace quorvane::gui {

frmBrowse::frmBrowse(QWidget* parent, FileSystem& fs) : QDialog(parent, kFixedDialogFlags) {
  setObjectName("frmBrowse");
  setWindowTitle(QString::fromUtf8("选择路径"));
  setFixedSize(Px(3690), Px(4215));

  auto* drv = Place<QComboBox>(this, "drv", 120, 120, 3495, 300);
  auto* dir = Place<QListWidget>(this, "Dir", 120, 480, 3495, 3240);
  auto* ok = PlaceButton(this, "cmdOK", "确定(&O)", 720, 3840);
  auto* cancel = PlaceButton(this, "cmdCancel", "取消(&C)", 1920, 3840);

  setTabOrder(drv, dir);
  setTabOrder(dir, ok);
  setTabOrder(ok, cancel);

  lists_ = new FolderLists(drv, dir, fs);
  OpenFolder(QFile::encodeName(BrowseStartFolder(QCoreApplication::applicationDirPath(),
                                                 QDir::homePath()))
                 .toStdString());

  connect(ok, &QPushButton::clicked, this, &frmBrowse::OnOK);
  connect(cancel, &QPushButton::clicked, this, &frmBrowse::reject);
}

void frmBrowse::OpenFolder(const std::string& folder) { lists_->OpenFolder(folder); }

const std::string& frmBrowse::CurrentFolder() const { return lists_->CurrentFolder(); }

void frmBrowse::reject() {
  sPath.clear();
  QDialog::reject();
}

void frmBrowse::OnOK() {
  sPath = CurrentFolder();
  accept();
}

std::string BrowseForFolder(QWidget* parent) {
  frmBrowse dialog(parent);
  dialog.exec();
  return dialog.sPath;
}

}  // namespace quorvane::gui
