#include "filetasks/frm_file_merge.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>

#include "filetasks/file_merge_run.h"
#include "shell/controls.h"
#include "shell/path_text.h"
#include "shell/services.h"

namespace quorvane::gui {

frmFileMerge::frmFileMerge(QWidget* parent, FileSystem& fs)
    : TaskForm(parent, fs, "frmFileMerge", "批合并文件", 5820, 2550, RunFileMerge,
               "txtSourceName") {
  PlaceLabel(this, "labSourcePath", "源文件所在目录", 120, 285, 1335, 255);
  Place<QLineEdit>(this, "txtSourcePath", 1440, 240, 3135, 300);
  PlaceButton(this, "cmdBrowseSource", "浏览(&B)", 4680, 240);
  PlaceLabel(this, "labSourceName", "源文件名", 120, 765, 1215, 255);
  Place<QLineEdit>(this, "txtSourceName", 1440, 720, 2295, 300);
  PlaceLabel(this, "labSearchDesc", "可使用通配符(\"*\",\"?\")", 3840, 765, 1935, 255);
  PlaceLabel(this, "labType", "文件合并方式", 120, 1245, 1335, 255);
  auto* type = Place<QComboBox>(this, "cboType", 1440, 1200, 2295, 300);
  for (const char* entry : {"顺序文件方式", "二进制文件方式", "Word文档方式", "Excel文件方式"})
    type->addItem(QString::fromUtf8(entry), 0);
  PlaceLabel(this, "labDestination", "目标文件路径", 120, 1725, 1215, 255);
  Place<QLineEdit>(this, "txtDestinationPath", 1440, 1680, 3135, 300);
  auto* browse_destination = PlaceButton(this, "cmdBrowseDestination", "浏览(&V)", 4680, 1680);
  PlaceButton(this, "cmdOK", "确定(&O)", 1800, 2160);
  PlaceButton(this, "cmdCancel", "退出(&Q)", 3000, 2160);
  SetTabOrder(this, {"txtSourceName", "txtSourcePath", "cmdBrowseSource", "cmdOK", "cmdCancel",
                     "txtDestinationPath", "cmdBrowseDestination", "cboType"});

  // activated: choosing an entry rewrites the pattern even when it was already selected.
  connect(type, &QComboBox::activated, this, &frmFileMerge::OnTypeClick);
  BrowseFolderOn("cmdBrowseSource", "txtSourcePath");
  connect(browse_destination, &QPushButton::clicked, this, [this] {
    const QString file = services().pickSaveFile(this);
    if (!file.isEmpty()) SetPathText(findChild<QLineEdit*>("txtDestinationPath"), QFile::encodeName(file).toStdString());
  });
  ConnectRunButtons();
  type->setCurrentIndex(0);
  OnTypeClick(0);
}

void frmFileMerge::OnTypeClick(int index) {
  if (const char* pattern = MergeModePattern(index))
    findChild<QLineEdit*>("txtSourceName")->setText(QString::fromUtf8(pattern));
}

}  // namespace quorvane::gui
